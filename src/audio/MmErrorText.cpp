// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/MmErrorText.h"

#include <cstdio>

namespace {

struct Entry {
    uint32_t code;
    bool convertorKnowsIt;
    const char* text;
};

constexpr Entry kEntries[] = {
    {2, false, " The specified resource does not exist."},
    {4, false, " The specified resource is already in use."},
    {5, true, " The specified handle is invalid."},
    {6, true, " A suitable driver is not available to provide valid format selections."},
    {7, true, " The system is unable to allocate resources."},
    {10, true, " At least one flag is invalid."},
    {11, true, " At least one parameter is invalid."},
    {32, false, " Unsupported audio format."},
    {35, false, " The specified device does not support asynchronous operation."},
    {512, true, " The requested operation cannot be performed."},
    {513, true, " The conversion stream is already in use."},
    {514, true, " Cannot perform this action on a header that has not been prepared."},
};

}  // namespace

std::string mmErrorText(MmErrorTable table, const char* step, uint32_t code) {
    if (code == 0) {
        return {};
    }
    for (const Entry& e : kEntries) {
        if (e.code == code && (table == MmErrorTable::Capture || e.convertorKnowsIt)) {
            return std::string(step) + e.text;
        }
    }
    char text[256];
    std::snprintf(text, sizeof text, "%s raised an unknown error (code #%d)", step, int(code));
    return text;
}
