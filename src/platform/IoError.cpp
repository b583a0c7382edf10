// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/IoError.h"

#include <cerrno>

namespace vx {

std::string ioErrorText(int errnoValue) {
    switch (errnoValue) {
        case ENOENT:
            return "File not found";
        case ENAMETOOLONG:
        case EINVAL:
        case ENOTDIR:
        case EISDIR:
            return "Invalid filename";
        case EMFILE:
        case ENFILE:
            return "Too many open files";
        case EACCES:
        case EPERM:
        case EROFS:
            return "File access denied";
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return "Disk full";
        default:
            return "I/O error " + std::to_string(errnoValue);
    }
}

}  // namespace vx
