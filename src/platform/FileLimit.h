// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace vx {

// Raises the process's soft limit of open files to its hard limit, so that thousands of listener
// connections fit. Returns the soft limit in force afterwards.
uint64_t raiseOpenFileLimit();

}  // namespace vx
