// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

// What went wrong, as the error event of the server socket layer reports it.
enum class TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

// A failure of the server socket layer, carrying the exact message the station reports.
class ESocketError : public std::runtime_error {
public:
    explicit ESocketError(const std::string& message) : std::runtime_error(message) {}

    // "Windows socket error: <system text> (<code>), on API '<call>'"
    static ESocketError fromCode(int code, const char* api);

    // What it concerns, such as "Listener port 6565"; set by the layer that knows.
    ESocketError& about(std::string subject) {
        subject_ = std::move(subject);
        return *this;
    }
    // The line an admin reads: "Listener port 6565: address already in use"; empty without a subject.
    std::string plain() const;

private:
    int code_ = 0;
    std::string subject_;
};
