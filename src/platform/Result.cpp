// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Result.h"

#include "platform/IoError.h"

namespace vx {

Error Error::fromErrno(Step step, int errnoValue, std::string path) {
    return Error(Kind::Refused, step, ioErrorText(errnoValue), std::move(path), errnoValue);
}

void throwError(const Error& error, const std::string& suffix) {
    throw EInOutError(error.message() + suffix, error.path());
}

}  // namespace vx
