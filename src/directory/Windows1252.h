// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The station sends its texts in Windows-1252, the blanks, controls and bytes above 126 percent-encoded
// and everything else as typed; the directory keeps UTF-8.
#include <optional>
#include <string>
#include <string_view>

namespace vx::directory {

// Undoes the station's encoding: "%XX" becomes the byte only where XX is a byte the station encodes
// (0x00-0x20, 0x7F-0xFF), so a typed "%41" stays "%41". Raw bytes above 126 (an older station) pass.
std::string unescapeStationBytes(std::string_view raw);

// Windows-1252 bytes as UTF-8. The five bytes the code page leaves undefined are refused.
std::optional<std::string> windows1252ToUtf8(std::string_view bytes);

// UTF-8 as Windows-1252 bytes (an admin's command line); nullopt for invalid UTF-8 or a character the
// code page lacks.
std::optional<std::string> utf8ToWindows1252(std::string_view utf8);

// The name as the directory compares it: letters of Windows-1252 in lower case, so that "Radio" and
// "RADIO" are one name. Works on the Windows-1252 bytes.
std::string foldCase1252(std::string_view bytes);

// Whether the bytes hold a control character (C0 or DEL; C1 does not exist in Windows-1252 text).
bool hasControlByte(std::string_view bytes);

}  // namespace vx::directory
