// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

namespace vx {

// An address as lists, logs and Host headers give it: an IPv4 peer of a dual-stack socket in its dotted
// form, so that it reads as it would on an IPv4 socket.
inline std::string addressText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto* a6 = reinterpret_cast<const sockaddr_in6*>(&address);
        if (IN6_IS_ADDR_V4MAPPED(&a6->sin6_addr)) {
            ::inet_ntop(AF_INET, &a6->sin6_addr.s6_addr[12], text, sizeof text);
        } else {
            ::inet_ntop(AF_INET6, &a6->sin6_addr, text, sizeof text);
        }
    } else {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr, text, sizeof text);
    }
    return text;
}

}  // namespace vx
