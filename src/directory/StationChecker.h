// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whether listeners can reach a station: its listener port, at the address its status report came
// from, answers the handshake's bare name query ("Radioname") with the server's name. Where the station
// has a web port (listener port + 3, the defaults' distance), its /now.json gives the stream's URL and
// what is playing, if its radio_name is the registered name.
//
// All checks run on one thread of their own, many at once over poll(): a station that never answers
// costs a socket for 5 s, not a thread, and nobody's request waits for it. Each station is checked at
// most once a minute; a request within the minute is held until the minute is over (the newest wins).
//
// Thread contract: request() from any thread; OnResult runs on the checker's thread.
#include "directory/DirectoryService.h"
#include "directory/DirectoryStore.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace vx::directory {

class StationChecker {
public:
    using Clock = std::chrono::steady_clock;
    struct Deadlines {
        std::chrono::milliseconds nameQuery{5000};
        std::chrono::milliseconds webPort{3000};
        std::chrono::milliseconds perStation{60000};  // the least time between two checks of one station
    };

    explicit StationChecker(std::function<void(const CheckRequest&, const CheckResult&)> onResult,
                            Deadlines deadlines);
    explicit StationChecker(std::function<void(const CheckRequest&, const CheckResult&)> onResult)
        : StationChecker(std::move(onResult), Deadlines{}) {}
    ~StationChecker();
    StationChecker(const StationChecker&) = delete;
    StationChecker& operator=(const StationChecker&) = delete;

    void request(const CheckRequest& station);

private:
    struct Waiting {
        CheckRequest station;
        Clock::time_point notBefore;
    };
    void run();

    std::function<void(const CheckRequest&, const CheckResult&)> onResult_;
    Deadlines deadlines_;
    std::mutex mutex_;
    bool stopping_ = false;
    int wakeFd_ = -1;
    std::map<std::string, Waiting> waiting_;              // by name key
    std::map<std::string, Clock::time_point> lastStart_;  // by name key
    std::thread thread_;
};

// The answer to the name query is the station's server's name (in either language's sentence).
bool isNameQueryAnswer(std::string_view answer);

}  // namespace vx::directory
