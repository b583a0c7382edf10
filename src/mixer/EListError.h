// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

// An index outside a list: "List index out of bounds (%d)".
class EListError : public std::out_of_range {
public:
    explicit EListError(int index)
        : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")") {}
};
