// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// One admitted listener as the station lists it.
struct ListenerRow {
    uint64_t id = 0;  // the connection's number; rows are in ascending order of it
    QString address;
    QString program;
    QDateTime connectedSince;  // UTC
    bool web = false;          // came by the web port
};

// The admitted listeners at one moment: shared, never changed once made, so a copy costs a reference
// count whoever reads it (the window's list, "Liste", a status page).
using ListenerSnapshot = std::shared_ptr<const std::vector<ListenerRow>>;
