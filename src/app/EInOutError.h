#pragma once

#include <stdexcept>
#include <string>

// A settings file that cannot be opened, read or written.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text that should hold a decimal integer and does not.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
