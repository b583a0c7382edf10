// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/DirectoryOptions.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace vx::directory {

namespace {

constexpr std::size_t kMaxConfigBytes = 64 * 1024;

std::string trim(std::string_view s) {
    const std::size_t begin = s.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        return {};
    }
    const std::size_t end = s.find_last_not_of(" \t\r");
    return std::string(s.substr(begin, end - begin + 1));
}

bool parseListen(const std::string& value, DirectoryOptions& o) {
    std::string host;
    std::string port;
    if (value.starts_with('[')) {
        const std::size_t close = value.find("]:");
        if (close == std::string::npos) {
            return false;
        }
        host = value.substr(1, close - 1);
        port = value.substr(close + 2);
    } else {
        const std::size_t colon = value.rfind(':');
        if (colon == std::string::npos || value.find(':') != colon) {
            return false;
        }
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
    }
    if (!host.empty() && !parseAddress(host)) {
        return false;
    }
    int number = -1;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (ec != std::errc() || end != port.data() + port.size() || number < 0 || number > 65535) {
        return false;
    }
    o.listenHost = host == "::" ? std::string() : host;
    o.listenPort = number;
    return true;
}

// One option and its value; false with the reason. `name` without the dashes.
bool applyOption(const std::string& name, const std::string& value, DirectoryOptions& o, std::string& error) {
    if (name == "listen") {
        if (!parseListen(value, o)) {
            error = "--listen " + value + ": not ADDRESS:PORT ([::]:8080, 0.0.0.0:8080, 127.0.0.1:8080)";
            return false;
        }
    } else if (name == "database") {
        if (value.empty()) {
            error = "--database needs a file name";
            return false;
        }
        if (value.starts_with("postgresql:") || value.starts_with("postgres:")) {
            error = "--database " + value + ": only an SQLite file is supported";
            return false;
        }
        o.database = value;
    } else if (name == "public-url") {
        if (!value.starts_with("http://") && !value.starts_with("https://")) {
            error = "--public-url needs an http:// or https:// URL";
            return false;
        }
        o.publicUrl = value.ends_with('/') ? value : value + "/";
    } else if (name == "trusted-proxy") {
        const std::optional<AddressRange> range = parseAddressRange(value);
        if (!range) {
            error = "--trusted-proxy " + value + ": not an address or ADDRESS/BITS";
            return false;
        }
        o.trustedProxies.push_back(*range);
    } else if (name == "allow-private-stations") {
        if (value != "yes" && value != "no" && value != "on" && value != "off") {
            error = "allow-private-stations " + value + ": neither yes nor no";
            return false;
        }
        o.allowPrivateStations = value == "yes" || value == "on";
    } else {
        error = "unknown option --" + name + " (see --help)";
        return false;
    }
    return true;
}

bool takesValue(const std::string& name) {
    return name == "listen" || name == "database" || name == "public-url" || name == "trusted-proxy" ||
           name == "config";
}

bool readConfig(const std::string& path, DirectoryOptions& o, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot be read";
        return false;
    }
    std::string text(kMaxConfigBytes + 1, '\0');
    file.read(text.data(), std::streamsize(text.size()));
    text.resize(std::size_t(file.gcount()));
    if (text.size() > kMaxConfigBytes) {
        error = path + ": larger than 65536 bytes";
        return false;
    }
    std::istringstream lines(text);
    std::string line;
    std::set<std::string> seen;
    for (int number = 1; std::getline(lines, line); ++number) {
        const std::string content = trim(line);
        if (content.empty() || content.starts_with('#')) {
            continue;
        }
        const std::size_t eq = content.find('=');
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (eq == std::string::npos) {
            error = where + "not key = value";
            return false;
        }
        const std::string key = trim(content.substr(0, eq));
        const std::string value = trim(content.substr(eq + 1));
        if (key != "trusted-proxy" && !seen.insert(key).second) {
            error = where + key + " is given twice";
            return false;
        }
        if (key == "config" || key == "admin") {
            error = where + key + " cannot stand in a configuration file";
            return false;
        }
        if (!applyOption(key, value, o, error)) {
            error = where + error;
            return false;
        }
    }
    return true;
}

}  // namespace

bool parseDirectoryOptions(const std::vector<std::string>& args, DirectoryOptions& o, std::string& error) {
    // The file first, so that the command line wins over it.
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--config" || args[i].starts_with("--config=")) {
            std::string path = args[i].size() > 8 ? args[i].substr(9) : std::string();
            if (args[i] == "--config") {
                if (i + 1 >= args.size()) {
                    error = "--config needs a file name";
                    return false;
                }
                path = args[++i];
            }
            if (!readConfig(path, o, error)) {
                return false;
            }
        }
    }
    bool proxiesFromCommandLine = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg == "--version") {
            o.version = true;
            continue;
        }
        if (arg == "--admin") {
            o.admin.assign(args.begin() + std::ptrdiff_t(i) + 1, args.end());
            // Judged before the database is opened: a mistyped command creates no file.
            const std::string verb = o.admin.empty() ? std::string() : o.admin[0];
            const std::size_t want = verb == "list"                        ? 1
                                     : verb == "ban"                       ? 3
                                     : verb == "unban" || verb == "delete" ? 2
                                                                           : 0;
            if (want == 0 || o.admin.size() != want) {
                error = "--admin needs a command: list, ban NAME REASON, unban NAME or delete NAME";
                return false;
            }
            return true;
        }
        if (!arg.starts_with("--")) {
            error = "unexpected argument " + arg + " (see --help)";
            return false;
        }
        std::string name = arg.substr(2);
        std::string value;
        if (const std::size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        } else if (name == "allow-private-stations") {
            value = "yes";
        } else if (takesValue(name)) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (name == "config") {
            if (arg == "--config") {
                ++i;
            }
            continue;
        }
        // A command line's proxies replace the file's rather than add to them.
        if (name == "trusted-proxy" && !proxiesFromCommandLine) {
            o.trustedProxies.clear();
            proxiesFromCommandLine = true;
        }
        if (!applyOption(name, value, o, error)) {
            return false;
        }
    }
    return true;
}

std::string defaultDatabasePath() {
    if (const char* state = std::getenv("STATE_DIRECTORY"); state != nullptr && *state != '\0') {
        std::string dir(state);
        dir = dir.substr(0, dir.find(':'));  // several directories: the first
        return dir + "/directory.sqlite";
    }
    return "vandorixdir.sqlite";
}

const char* directoryUsage() {
    return "Usage: vandorixdir [OPTION]...\n"
           "       vandorixdir [--database FILE] --admin list|ban NAME REASON|unban NAME|delete NAME\n"
           "The station directory: stations register and report themselves on the air; listeners get\n"
           "the list of the stations that can be reached.\n"
           "\n"
           "  --listen ADDR:PORT          where to listen (default [::]:8080, every address)\n"
           "  --database FILE             the SQLite database (default $STATE_DIRECTORY/directory.sqlite,\n"
           "                              else ./vandorixdir.sqlite)\n"
           "  --public-url URL            the listing's own address behind a proxy\n"
           "  --trusted-proxy ADDR[/BITS] a proxy whose X-Forwarded-For is believed (may repeat)\n"
           "  --allow-private-stations    list stations on loopback and private addresses too\n"
           "  --config FILE               the same keys, one \"key = value\" a line\n"
           "  --admin COMMAND             list, ban NAME REASON, unban NAME, delete NAME\n"
           "  --help, --version\n";
}

}  // namespace vx::directory
