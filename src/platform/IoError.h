#pragma once

#include <stdexcept>
#include <string>

namespace vx {

// The run-time I/O error texts a file operation reports: "File not found", "Disk full", ... and
// "I/O error N" for every other code.
std::string ioErrorText(int errnoValue);

}  // namespace vx

// A file that cannot be created, opened, read or written.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
