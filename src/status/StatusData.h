// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/StationStatus.h"

#include <QByteArray>

// The status port's two renderings of the station's snapshot. They only serialise: what the numbers mean
// is decided where the snapshot is made.
namespace vx::status {

// application/json; UTF-8.
QByteArray renderStatusJson(const StationStatus& status);
// The Prometheus text exposition format, version 0.0.4.
QByteArray renderMetrics(const StationStatus& status);

}  // namespace vx::status
