// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/ESocketError.h"

#include <cctype>
#include <cstdio>
#include <cstring>

ESocketError ESocketError::fromCode(int code, const char* api) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "Windows socket error: %s (%d), on API '%s'", std::strerror(code),
                  code, api);
    ESocketError error(buffer);
    error.code_ = code;
    return error;
}

std::string ESocketError::plain() const {
    if (subject_.empty()) {
        return {};
    }
    std::string reason = code_ != 0 ? std::strerror(code_) : what();
    if (!reason.empty() && std::isupper(static_cast<unsigned char>(reason[0])) &&
        (reason.size() < 2 || !std::isupper(static_cast<unsigned char>(reason[1])))) {
        reason[0] = char(std::tolower(static_cast<unsigned char>(reason[0])));
    }
    return subject_ + ": " + reason;
}
