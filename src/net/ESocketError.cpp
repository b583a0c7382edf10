#include "net/ESocketError.h"

#include <cstdio>
#include <cstring>

ESocketError ESocketError::fromCode(int code, const char* api) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "Windows socket error: %s (%d), on API '%s'", std::strerror(code),
                  code, api);
    return ESocketError(buffer);
}
