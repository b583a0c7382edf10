#pragma once

#include <stdexcept>
#include <string>

// What went wrong, as the error event of the server socket layer reports it.
enum class TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

// A failure of the server socket layer, carrying the exact message the station reports.
class ESocketError : public std::runtime_error {
public:
    explicit ESocketError(const std::string& message) : std::runtime_error(message) {}

    // "Windows socket error: <system text> (<code>), on API '<call>'"
    static ESocketError fromCode(int code, const char* api);
};
