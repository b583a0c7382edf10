// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The station's five requests, read from the raw request target. The station puts its values into the
// query as typed ("&", "#", "=", "+" included), so a generic query parser would split a password at its
// "&" or turn its "+" into a blank: the keys are looked for in the station's fixed order instead.
#include <optional>
#include <string>
#include <string_view>

namespace vx::directory {

enum class StationAction { Register, Delete, SetStatus, SetOff, ListenerCount };

struct StationQuery {
    StationAction action = StationAction::Register;
    std::string name;      // UTF-8
    std::string nameKey;   // UTF-8, case folded: one name regardless of case
    std::string password;  // UTF-8
    std::string email;     // UTF-8, register only
    int port = 0;          // not in a listener count
    int listeners = 0;     // listener count only
};

// The text after "?" (or the whole target), or nullopt with `problem` saying why in a few words.
std::optional<StationQuery> parseStationQuery(std::string_view target, std::string& problem);

// "/index.php", "/vandorixdb/index.php": where the station's requests go.
bool isStationScriptPath(std::string_view path);

const char* actionName(StationAction action);

}  // namespace vx::directory
