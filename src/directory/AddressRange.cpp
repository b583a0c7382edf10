// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/AddressRange.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>

namespace vx::directory {

namespace {

bool isMapped(const in6_addr& a) {
    return IN6_IS_ADDR_V4MAPPED(&a);
}

uint32_t v4(const in6_addr& a) {
    uint32_t value = 0;
    std::memcpy(&value, &a.s6_addr[12], 4);
    return ntohl(value);
}

bool inV4(uint32_t address, uint32_t base, int bits) {
    const uint32_t mask = bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
    return (address & mask) == (base & mask);
}

}  // namespace

bool AddressRange::contains(const in6_addr& address) const {
    for (int i = 0; i < 16; ++i) {
        const int left = bits - i * 8;
        if (left <= 0) {
            return true;
        }
        const uint8_t mask = left >= 8 ? 0xFF : uint8_t(0xFF << (8 - left));
        if ((address.s6_addr[i] & mask) != (base.s6_addr[i] & mask)) {
            return false;
        }
    }
    return true;
}

std::optional<in6_addr> parseAddress(std::string_view text) {
    const std::string s(text);
    in6_addr a{};
    in_addr four{};
    if (::inet_pton(AF_INET, s.c_str(), &four) == 1) {
        a.s6_addr[10] = 0xFF;
        a.s6_addr[11] = 0xFF;
        std::memcpy(&a.s6_addr[12], &four, 4);
        return a;
    }
    if (::inet_pton(AF_INET6, s.c_str(), &a) == 1) {
        return a;
    }
    return std::nullopt;
}

std::optional<AddressRange> parseAddressRange(std::string_view text) {
    const std::size_t slash = text.find('/');
    const std::optional<in6_addr> base = parseAddress(text.substr(0, slash));
    if (!base) {
        return std::nullopt;
    }
    AddressRange range{*base, 128};
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        int bits = -1;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), bits);
        const int most = isMapped(*base) ? 32 : 128;
        if (ec != std::errc() || end != digits.data() + digits.size() || bits < 0 || bits > most) {
            return std::nullopt;
        }
        range.bits = isMapped(*base) ? 96 + bits : bits;
    }
    return range;
}

bool isPrivateAddress(const in6_addr& a) {
    if (isMapped(a)) {
        const uint32_t x = v4(a);
        return inV4(x, 0x00000000, 8) || inV4(x, 0x0A000000, 8) || inV4(x, 0x64400000, 10) ||
               inV4(x, 0x7F000000, 8) || inV4(x, 0xA9FE0000, 16) || inV4(x, 0xAC100000, 12) ||
               inV4(x, 0xC0000200, 24) || inV4(x, 0xC0A80000, 16) || inV4(x, 0xC6120000, 15) ||
               inV4(x, 0xC6336400, 24) || inV4(x, 0xCB007100, 24) || x >= 0xE0000000;
    }
    const uint8_t first = a.s6_addr[0];
    return IN6_IS_ADDR_UNSPECIFIED(&a) || IN6_IS_ADDR_LOOPBACK(&a) || (first & 0xFE) == 0xFC ||
           (first == 0xFE && (a.s6_addr[1] & 0xC0) == 0x80) || first == 0xFF ||
           (first == 0x20 && a.s6_addr[1] == 0x01 && a.s6_addr[2] == 0x0D && a.s6_addr[3] == 0xB8);
}

std::string addressString(const in6_addr& a) {
    char text[INET6_ADDRSTRLEN] = {};
    if (isMapped(a)) {
        ::inet_ntop(AF_INET, &a.s6_addr[12], text, sizeof text);
    } else {
        ::inet_ntop(AF_INET6, &a, text, sizeof text);
    }
    return text;
}

}  // namespace vx::directory
