// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/AbuseLimits.h"

#include <algorithm>

namespace vx::directory {

namespace {

// Buckets that are full again carry no information; past this many they are swept out.
constexpr std::size_t kSweepAt = 100000;

}  // namespace

TokenBuckets::Bucket& TokenBuckets::refill(const std::string& key,
                                           std::chrono::steady_clock::time_point now) {
    if (buckets_.size() >= kSweepAt) {
        std::erase_if(buckets_, [&](const auto& entry) {
            const double seconds = std::chrono::duration<double>(now - entry.second.at).count();
            return entry.second.tokens + seconds * perSecond_ >= burst_;
        });
        // Still crowded: a flood of addresses. Starting afresh costs less than sweeping at every call.
        if (buckets_.size() >= kSweepAt / 2) {
            buckets_.clear();
        }
    }
    auto [it, added] = buckets_.try_emplace(key, Bucket{burst_, now});
    Bucket& b = it->second;
    if (!added) {
        const double seconds = std::chrono::duration<double>(now - b.at).count();
        b.tokens = std::min(burst_, b.tokens + seconds * perSecond_);
        b.at = now;
    }
    return b;
}

bool TokenBuckets::take(const std::string& key, std::chrono::steady_clock::time_point now) {
    std::lock_guard lock(mutex_);
    Bucket& b = refill(key, now);
    if (b.tokens < 1) {
        return false;
    }
    b.tokens -= 1;
    return true;
}

bool TokenBuckets::has(const std::string& key, std::chrono::steady_clock::time_point now) {
    std::lock_guard lock(mutex_);
    return refill(key, now).tokens >= 1;
}

}  // namespace vx::directory
