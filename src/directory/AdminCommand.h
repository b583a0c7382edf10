// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// "vandorixdir --admin ...": what the one who runs the directory does to its stations, on the same
// database as the running server (SQLite lets both at it; the server sees the change at its next read).
#include "directory/DirectoryStore.h"

#include <ostream>
#include <string>
#include <vector>

namespace vx::directory {

// list | ban NAME REASON | unban NAME | delete NAME. Returns the exit code: 0 done, 1 no such name,
// 2 a usage error; what it says goes to `out` and `err`.
int runAdminCommand(DirectoryStore& store, const std::vector<std::string>& command, std::ostream& out,
                    std::ostream& err);

}  // namespace vx::directory
