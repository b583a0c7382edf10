// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/AdminCommand.h"

#include "directory/DirectoryService.h"
#include "directory/Windows1252.h"

namespace vx::directory {

namespace {

// The name as the store keys it, from the admin's UTF-8.
std::optional<std::string> keyOf(const std::string& name) {
    const std::optional<std::string> bytes = utf8ToWindows1252(name);
    if (!bytes || bytes->empty()) {
        return std::nullopt;
    }
    return windows1252ToUtf8(foldCase1252(*bytes));
}

void list(DirectoryStore& store, std::ostream& out) {
    const int64_t now = unixNow();
    out << "name\tstate\taddress\tport\tlisteners\tbanned\n";
    for (const StationRecord& r : store.all()) {
        const bool onAir = r.onAir && r.lastStatus >= now - DirectoryStore::kExpirySeconds;
        const char* state = !onAir ? "off" : r.reachable ? "listed" : "unreachable";
        out << r.name << '\t' << state << '\t' << (r.address.empty() ? "-" : r.address) << '\t'
            << (r.listenerPort == 0 ? r.port : r.listenerPort) << '\t' << (onAir ? r.listeners : 0) << '\t'
            << (r.banReason.empty() ? "-" : r.banReason) << '\n';
    }
}

}  // namespace

int runAdminCommand(DirectoryStore& store, const std::vector<std::string>& command, std::ostream& out,
                    std::ostream& err) {
    const std::string verb = command.empty() ? std::string() : command[0];
    const std::size_t want = verb == "list"                          ? 1
                             : verb == "ban"                         ? 3
                             : (verb == "unban" || verb == "delete") ? 2
                                                                     : 0;
    if (want == 0 || command.size() != want) {
        err << "vandorixdir: --admin list | ban NAME REASON | unban NAME | delete NAME\n";
        return 2;
    }
    if (verb == "list") {
        list(store, out);
        return 0;
    }
    const std::optional<std::string> key = keyOf(command[1]);
    if (!key) {
        err << "vandorixdir: " << command[1] << ": not a name a station could have\n";
        return 2;
    }
    if (verb == "ban") {
        if (command[2].empty()) {
            err << "vandorixdir: a ban needs a reason; the station is shown it\n";
            return 2;
        }
        store.ban(command[1], *key, command[2], unixNow());
        out << "banned " << command[1] << '\n';
        return 0;
    }
    const bool done = verb == "unban" ? store.unban(*key) : store.remove(*key);
    if (!done) {
        err << "vandorixdir: " << command[1] << (verb == "unban" ? ": not banned\n" : ": not registered\n");
        return 1;
    }
    out << (verb == "unban" ? "unbanned " : "deleted ") << command[1] << '\n';
    return 0;
}

}  // namespace vx::directory
