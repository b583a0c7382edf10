// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// vandorixctl status [--host H] [--status-port P] [--wait MS] [--json]
//
// Asks the station's status port for /status.json and prints a one-screen summary (with --json the
// document as it came). Exit status, for scripts and monitoring checks: 0 the station is on air (or
// plays a file to its listeners), 3 it runs but is not on air, 1 it cannot be reached or its answer is
// no status, 2 usage.
#include <string>

namespace vx::ctl {

// The status port's /status.json, or false with the reason on standard error (unless quiet).
bool fetchStatus(const std::string& host, int port, int waitMs, std::string& body, bool quiet = false);

// The command word, the first argument that is no option and no option's value, is "status".
bool isStatusCommand(int argc, char** argv);
int statusCommand(int argc, char** argv);

}  // namespace vx::ctl
