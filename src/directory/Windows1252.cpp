// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/Windows1252.h"

#include <array>
#include <cstdint>

namespace vx::directory {

namespace {

// 0x80-0x9F, where Windows-1252 differs from Latin-1; 0 marks the undefined bytes.
constexpr std::array<char32_t, 32> kHigh = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string unescapeStationBytes(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size()) {
            const int high = hexValue(raw[i + 1]);
            const int low = hexValue(raw[i + 2]);
            if (high >= 0 && low >= 0) {
                const int byte = high * 16 + low;
                if (byte <= 0x20 || byte >= 0x7F) {
                    out += char(byte);
                    i += 2;
                    continue;
                }
            }
        }
        out += raw[i];
    }
    return out;
}

std::optional<std::string> windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto byte = static_cast<uint8_t>(ch);
        if (byte >= 0x80 && byte <= 0x9F) {
            const char32_t c = kHigh[byte - 0x80];
            if (c == 0) {
                return std::nullopt;
            }
            appendUtf8(out, c);
        } else {
            appendUtf8(out, byte);
        }
    }
    return out;
}

std::optional<std::string> utf8ToWindows1252(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        const int extra = lead < 0x80 ? 0 : (lead & 0xE0) == 0xC0 ? 1 : (lead & 0xF0) == 0xE0 ? 2 : -1;
        if (extra < 0 || i + std::size_t(extra) >= utf8.size()) {
            return std::nullopt;
        }
        char32_t c = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : (lead & 0x0F);
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(utf8[i + std::size_t(k)]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            c = (c << 6) | (next & 0x3F);
        }
        i += std::size_t(extra) + 1;
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out += char(c);
            continue;
        }
        bool found = false;
        for (std::size_t k = 0; k < kHigh.size() && !found; ++k) {
            if (kHigh[k] != 0 && kHigh[k] == c) {
                out += char(0x80 + k);
                found = true;
            }
        }
        if (!found) {
            return std::nullopt;
        }
    }
    return out;
}

std::string foldCase1252(std::string_view bytes) {
    std::string out(bytes);
    for (char& ch : out) {
        const auto byte = static_cast<uint8_t>(ch);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7)) {
            ch = char(byte + 0x20);
        } else if (byte == 0x8A || byte == 0x8C || byte == 0x8E) {  // Š Œ Ž
            ch = char(byte + 0x10);
        } else if (byte == 0x9F) {  // Ÿ
            ch = char(0xFF);
        }
    }
    return out;
}

bool hasControlByte(std::string_view bytes) {
    for (const char ch : bytes) {
        const auto byte = static_cast<uint8_t>(ch);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace vx::directory
