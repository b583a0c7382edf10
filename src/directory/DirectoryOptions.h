// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The directory's command line and configuration file: the same keys, one "key = value" a line.
#include "directory/AddressRange.h"

#include <string>
#include <vector>

namespace vx::directory {

struct DirectoryOptions {
    std::string listenHost;  // empty: every address, IPv6 and IPv4
    int listenPort = 8080;
    std::string database;  // empty: the state directory's file
    std::string publicUrl;
    std::vector<AddressRange> trustedProxies;
    bool allowPrivateStations = false;
    // --admin: the command and its arguments; empty: run the server.
    std::vector<std::string> admin;
    bool help = false;
    bool version = false;
};

// Parses the arguments (without the program's name). False with `error` one line a user can act on.
bool parseDirectoryOptions(const std::vector<std::string>& args, DirectoryOptions& options,
                           std::string& error);

// The database when none is named: $STATE_DIRECTORY/directory.sqlite (systemd's StateDirectory), else
// ./vandorixdir.sqlite.
std::string defaultDatabasePath();

const char* directoryUsage();

}  // namespace vx::directory
