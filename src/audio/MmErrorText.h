// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

// The message of a failed multimedia call: the step's name followed by the fixed text of its result code,
// or the unknown-error form for a code the component does not name. Empty for code 0.
// The capture component names all codes of the table; the codec stream only its smaller subset.
enum class MmErrorTable { Capture, Convertor };

std::string mmErrorText(MmErrorTable table, const char* step, uint32_t code);
