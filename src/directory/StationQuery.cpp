// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/StationQuery.h"

#include "directory/Windows1252.h"

#include <array>
#include <charconv>

namespace vx::directory {

namespace {

constexpr std::size_t kMaxName = 20;
constexpr std::size_t kMaxPassword = 20;
constexpr std::size_t kMaxEmail = 35;
constexpr int kMaxListeners = 1000000;

bool takeNumber(std::string_view text, int low, int high, int& out) {
    if (text.empty() || text.size() > 7) {
        return false;
    }
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

// The digits of "&port=" that end the password: the first such key followed by 1-5 digits and then
// `after` ("&email=" for a registration, the end otherwise). A password may hold "&port=" itself.
std::size_t findPortKey(std::string_view rest, bool registration) {
    static constexpr std::string_view kKey = "&port=";
    for (std::size_t at = rest.find(kKey); at != std::string_view::npos; at = rest.find(kKey, at + 1)) {
        std::size_t digits = at + kKey.size();
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
            ++digits;
        }
        const std::size_t count = digits - at - kKey.size();
        if (count == 0 || count > 5) {
            continue;
        }
        const std::string_view tail = rest.substr(digits);
        if (registration ? tail.starts_with("&email=") : tail.empty()) {
            return at;
        }
    }
    return std::string_view::npos;
}

// One text value: the station's bytes, checked against its limits and turned into UTF-8.
bool takeText(std::string_view raw, std::size_t minLength, std::size_t maxLength, const char* what,
              std::string& bytesOut, std::string& utf8Out, std::string& problem) {
    bytesOut = unescapeStationBytes(raw);
    if (bytesOut.size() < minLength || bytesOut.size() > maxLength) {
        problem = std::string(what) + (bytesOut.empty() ? " is empty" : " is too long");
        return false;
    }
    if (hasControlByte(bytesOut)) {
        problem = std::string(what) + " holds a control character";
        return false;
    }
    const std::optional<std::string> utf8 = windows1252ToUtf8(bytesOut);
    if (!utf8) {
        problem = std::string(what) + " is not Windows-1252 text";
        return false;
    }
    utf8Out = *utf8;
    return true;
}

bool takeName(std::string_view raw, StationQuery& q, std::string& problem) {
    std::string bytes;
    if (!takeText(raw, 1, kMaxName, "the name", bytes, q.name, problem)) {
        return false;
    }
    q.nameKey = *windows1252ToUtf8(foldCase1252(bytes));
    return true;
}

bool takePassword(std::string_view raw, StationQuery& q, std::string& problem) {
    std::string bytes;
    return takeText(raw, 1, kMaxPassword, "the password", bytes, q.password, problem);
}

// register, delete, setstatus, setoff: "&nic=" NAME "&pass=" PASSWORD "&port=" PORT ["&email=" EMAIL]
bool parseStationFields(std::string_view rest, StationQuery& q, std::string& problem) {
    const bool registration = q.action == StationAction::Register;
    if (!rest.starts_with("&nic=")) {
        problem = "nic is missing";
        return false;
    }
    rest.remove_prefix(5);
    const std::size_t pass = rest.find("&pass=");
    if (pass == std::string_view::npos) {
        problem = "pass is missing";
        return false;
    }
    if (!takeName(rest.substr(0, pass), q, problem)) {
        return false;
    }
    rest.remove_prefix(pass + 6);
    const std::size_t port = findPortKey(rest, registration);
    if (port == std::string_view::npos) {
        problem = registration ? "port or email is missing" : "port is missing";
        return false;
    }
    if (!takePassword(rest.substr(0, port), q, problem)) {
        return false;
    }
    rest.remove_prefix(port + 6);
    const std::size_t portEnd = registration ? rest.find("&email=") : rest.size();
    if (!takeNumber(rest.substr(0, portEnd), 1024, 65535, q.port)) {
        problem = "the port is not from 1024 to 65535";
        return false;
    }
    if (registration) {
        std::string bytes;
        return takeText(rest.substr(portEnd + 7), 0, kMaxEmail, "the e-mail address", bytes, q.email,
                        problem);
    }
    return true;
}

// hoererupdate: "&hoerer=" COUNT "&radioname=" NAME "&passwort=" PASSWORD
bool parseListenerCount(std::string_view rest, StationQuery& q, std::string& problem) {
    if (!rest.starts_with("&hoerer=")) {
        problem = "hoerer is missing";
        return false;
    }
    rest.remove_prefix(8);
    const std::size_t name = rest.find("&radioname=");
    if (name == std::string_view::npos || !takeNumber(rest.substr(0, name), 0, kMaxListeners, q.listeners)) {
        problem = name == std::string_view::npos ? "radioname is missing" : "hoerer is not a count";
        return false;
    }
    rest.remove_prefix(name + 11);
    const std::size_t password = rest.find("&passwort=");
    if (password == std::string_view::npos) {
        problem = "passwort is missing";
        return false;
    }
    return takeName(rest.substr(0, password), q, problem) &&
           takePassword(rest.substr(password + 10), q, problem);
}

struct ActionWord {
    std::string_view word;
    StationAction action;
};

constexpr std::array<ActionWord, 5> kActions = {{{"register", StationAction::Register},
                                                 {"delete", StationAction::Delete},
                                                 {"setstatus", StationAction::SetStatus},
                                                 {"setoff", StationAction::SetOff},
                                                 {"hoererupdate", StationAction::ListenerCount}}};

}  // namespace

std::optional<StationQuery> parseStationQuery(std::string_view target, std::string& problem) {
    if (const std::size_t mark = target.find('?'); mark != std::string_view::npos) {
        target.remove_prefix(mark + 1);
    }
    if (!target.starts_with("action=")) {
        problem = "action is missing";
        return std::nullopt;
    }
    target.remove_prefix(7);
    StationQuery q;
    bool known = false;
    for (const ActionWord& a : kActions) {
        if (target.starts_with(a.word) && target.substr(a.word.size()).starts_with('&')) {
            q.action = a.action;
            target.remove_prefix(a.word.size());
            known = true;
            break;
        }
    }
    if (!known) {
        problem = "unknown action";
        return std::nullopt;
    }
    const bool ok = q.action == StationAction::ListenerCount ? parseListenerCount(target, q, problem)
                                                             : parseStationFields(target, q, problem);
    if (!ok) {
        return std::nullopt;
    }
    return q;
}

bool isStationScriptPath(std::string_view path) {
    if (const std::size_t mark = path.find('?'); mark != std::string_view::npos) {
        path = path.substr(0, mark);
    }
    return path == "/index.php" || (path.ends_with("/index.php") && path.starts_with('/'));
}

const char* actionName(StationAction action) {
    for (const ActionWord& a : kActions) {
        if (a.action == action) {
            return a.word.data();
        }
    }
    return "?";
}

}  // namespace vx::directory
