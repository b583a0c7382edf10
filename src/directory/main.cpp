// SPDX-License-Identifier: GPL-3.0-or-later
// vandorixdir: the directory the stations register with, and the list of those on the air.
#include "directory/AdminCommand.h"
#include "directory/DirectoryHttpServer.h"
#include "directory/DirectoryOptions.h"
#include "directory/DirectoryService.h"
#include "directory/DirectoryStore.h"
#include "directory/StationChecker.h"
#include "platform/FileLimit.h"

#include <systemd/sd-daemon.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <mutex>

using namespace vx::directory;

namespace {

// A station on the air is checked again when its last check is this old (its status reports come
// every quarter of an hour and each asks for a check; this catches one whose report was lost).
constexpr int64_t kRecheckSeconds = 900;

std::mutex logMutex;

void logLine(const std::string& line) {
    std::lock_guard lock(logMutex);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

int serve(const DirectoryOptions& options, DirectoryStore& store) {
    vx::raiseOpenFileLimit();
    PasswordCheck passwords;
    AbuseLimits limits;
    DirectoryService service(store, passwords, limits, options.allowPrivateStations);
    StationChecker checker([&store](const CheckRequest& station, const CheckResult& result) {
        try {
            store.recordCheck(station.nameKey, station.address, station.port, result, unixNow());
        } catch (const StoreError& e) {
            logLine(std::string("check result not stored: ") + e.what());
        }
        logLine("check " + logSafe(station.name) + " " + station.address + " port " +
                std::to_string(station.port) + (result.reached ? " reached" : " not reached") +
                (result.streamUrl.empty() ? std::string() : " web " + logSafe(result.streamUrl)));
    });
    service.OnOnAir = [&checker](const CheckRequest& station) { checker.request(station); };
    DirectoryHttpServer server(options, service, store);
    server.OnLog = logLine;
    std::string error;
    if (!server.start(error)) {
        logLine("vandorixdir: cannot listen on " +
                (options.listenHost.empty() ? "[::]" : options.listenHost) + ":" +
                std::to_string(options.listenPort) + ": " + error);
        return 1;
    }
    logLine("vandorixdir: listening on port " + std::to_string(server.port()));
    sd_notify(0, "READY=1\nSTATUS=Answering stations");
    uint64_t watchdogUsec = 0;
    const bool watchdog = sd_watchdog_enabled(0, &watchdogUsec) > 0;

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    time_t lastSweep = 0;
    for (;;) {
        const timespec second{1, 0};
        const int signal = sigtimedwait(&signals, nullptr, &second);
        if (signal == SIGTERM || signal == SIGINT) {
            break;
        }
        if (signal == SIGHUP) {
            logLine("vandorixdir: SIGHUP: nothing to reload");
        }
        if (watchdog) {
            sd_notify(0, "WATCHDOG=1");
        }
        const time_t now = std::time(nullptr);
        if (now - lastSweep >= 60) {
            lastSweep = now;
            try {
                for (const StationRecord& r : store.dueForCheck(now, kRecheckSeconds)) {
                    checker.request(CheckRequest{r.name, r.nameKey, r.address, r.listenerPort});
                }
            } catch (const StoreError& e) {
                logLine(std::string("vandorixdir: ") + e.what());
            }
        }
    }
    sd_notify(0, "STOPPING=1");
    server.stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Signals are taken by sigtimedwait on the main thread; every thread started later inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    DirectoryOptions options;
    std::string error;
    if (!parseDirectoryOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::cerr << "vandorixdir: " << error << "\n";
        return 2;
    }
    if (options.help) {
        std::cout << directoryUsage();
        return 0;
    }
    if (options.version) {
        std::cout << "vandorixdir " << VX_VERSION << "\n";
        return 0;
    }
    const std::string database = options.database.empty() ? defaultDatabasePath() : options.database;
    try {
        DirectoryStore store(database);
        if (!options.admin.empty()) {
            return runAdminCommand(store, options.admin, std::cout, std::cerr);
        }
        return serve(options, store);
    } catch (const StoreError& e) {
        std::cerr << "vandorixdir: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "vandorixdir: " << e.what() << "\n";
        return 1;
    }
}
