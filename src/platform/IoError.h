// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace vx {

// The run-time I/O error texts a file operation reports: "File not found", "Disk full", ... and
// "I/O error N" for every other code.
std::string ioErrorText(int errnoValue);

}  // namespace vx

// A file that cannot be created, opened, read or written.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    EInOutError(const std::string& text, std::string file)
        : std::runtime_error(text), file_(std::move(file)) {}
    // The file concerned, where the text (the run-time I/O error's own) does not name it; else empty.
    const std::string& file() const { return file_; }

private:
    std::string file_;
};
