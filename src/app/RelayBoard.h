#pragma once

#include "app/TMainform.h"
#include "net/IcecastRelay.h"
#include "net/IcecastTarget.h"
#include "ui/IcecastRelayDialog.h"

#include <QPointer>

#include <optional>
#include <vector>

// The window's side of the Icecast relays: where their targets come from and what each last reported.
// The relays themselves are entries of TMainform::Relays. Window thread.
struct TMainform::RelayBoard {
    struct Entry {
        IcecastRelay* relay = nullptr;
        IcecastRelay::Status status;
        int reports = 0;  // state changes shown to the user
    };
    std::vector<IcecastTarget> commandLine;
    std::vector<IcecastTarget> fromFile;
    // Saved while blocks may be under way; the relays follow at the next stop.
    std::optional<std::vector<IcecastTarget>> pending;
    // commandLine's relays first, then fromFile's, in the order of Relays.
    std::vector<Entry> entries;
    // Changes whenever the relays are replaced: a state posted by an earlier relay no longer applies.
    uint64_t generation = 0;
    QPointer<IcecastRelayDialog> dialog;
};
