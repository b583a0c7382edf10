// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

namespace vx::status {

// The page for people: self-contained (its style and script inline, nothing fetched from elsewhere but
// /status.json), so it works on a station without internet access.
const QByteArray& statusPage();
// The Content-Security-Policy that lets exactly the page's own script run.
const QByteArray& statusPagePolicy();

}  // namespace vx::status
