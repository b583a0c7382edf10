// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What one address or one guesser may cost the directory: a token bucket per address for every
// request, and one per name for wrong passwords. The per-name limit never holds back the address the
// station is on the air from, so a guesser elsewhere cannot lock the station out.
//
// Thread contract: every member may be called from any thread.
#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vx::directory {

class TokenBuckets {
public:
    // `burst` tokens at most, `perSecond` come back each second.
    TokenBuckets(double burst, double perSecond) : burst_(burst), perSecond_(perSecond) {}

    // Takes a token of `key`; false when none is left.
    bool take(const std::string& key, std::chrono::steady_clock::time_point now);
    // Whether `key` has a token, without taking it.
    bool has(const std::string& key, std::chrono::steady_clock::time_point now);

private:
    struct Bucket {
        double tokens;
        std::chrono::steady_clock::time_point at;
    };
    Bucket& refill(const std::string& key, std::chrono::steady_clock::time_point now);

    double burst_;
    double perSecond_;
    std::mutex mutex_;
    std::unordered_map<std::string, Bucket> buckets_;
};

struct AbuseLimits {
    // Stations send a request a minute; a burst of 60 then 5 a second serves a few hundred stations
    // behind one address.
    TokenBuckets requests{60, 5};
    // Five wrong passwords per name, then one a minute.
    TokenBuckets wrongPasswords{5, 1.0 / 60};
    // New registrations per address in 24 hours.
    int registrationsPerDay = 3;
};

}  // namespace vx::directory
