// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/IoError.h"

#include <stdexcept>
#include <string>

// A text that should hold a decimal integer and does not.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
