// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/IcecastRelay.h"
#include "platform/IcecastTarget.h"

#include <cstdint>
#include <optional>
#include <vector>

// Where the relays' targets come from and what each relay last reported. The relays themselves are
// BlockRoad's, in the same order. Main thread.
struct RelayBoard {
    struct Entry {
        IcecastRelay* relay = nullptr;
        IcecastRelay::Status status;
        int reports = 0;  // state changes reported
    };
    std::vector<IcecastTarget> commandLine;
    std::vector<IcecastTarget> fromFile;
    // Saved while blocks may be under way; the relays follow at the next stop.
    std::optional<std::vector<IcecastTarget>> pending;
    // commandLine's relays first, then fromFile's.
    std::vector<Entry> entries;
    // Changes whenever the relays are replaced: a state posted by an earlier relay no longer applies.
    uint64_t generation = 0;
};
