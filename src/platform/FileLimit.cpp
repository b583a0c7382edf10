// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileLimit.h"

#include <sys/resource.h>

namespace vx {

uint64_t raiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 0;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    return uint64_t(limit.rlim_cur);
}

}  // namespace vx
