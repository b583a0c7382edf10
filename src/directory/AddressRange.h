// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Addresses as the directory judges them: a trusted proxy's range, and whether a station's address is
// one that listeners elsewhere could reach at all.
#include <netinet/in.h>

#include <optional>
#include <string>
#include <string_view>

namespace vx::directory {

// An IPv4 address is kept IPv4-mapped, so that one comparison serves both families.
struct AddressRange {
    in6_addr base{};
    int bits = 128;

    bool contains(const in6_addr& address) const;
};

// "192.0.2.1", "2001:db8::1", "::ffff:192.0.2.1" (an IPv4 peer of a dual-stack socket).
std::optional<in6_addr> parseAddress(std::string_view text);
// "ADDR" or "ADDR/BITS".
std::optional<AddressRange> parseAddressRange(std::string_view text);
// Loopback, private, link-local, unique-local, unspecified, documentation: no listener elsewhere can reach
// it.
bool isPrivateAddress(const in6_addr& address);
// The address as text, an IPv4 one dotted.
std::string addressString(const in6_addr& address);

}  // namespace vx::directory
