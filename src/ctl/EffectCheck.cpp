// SPDX-License-Identifier: GPL-3.0-or-later
#include "EffectCheck.h"

#include "../platform/StateNames.h"
#include "../platform/StationConstants.h"
#include "CtlNet.h"
#include "StatusCommand.h"

#include <nlohmann/json.hpp>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

namespace vx::ctl {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollInterval = std::chrono::milliseconds(200);
// The station takes a new snapshot at least once a second: one that stands still longer is frozen.
constexpr int kFreshnessMs = 3000;

struct Seen {
    bool answered = false;
    std::string state;
    std::string generatedAt;
    std::string infoText;
};

Seen look(const EffectTarget& t) {
    std::string body;
    if (!fetchStatus(t.host, t.statusPort, 2000, body, true)) {
        return {};
    }
    try {
        const nlohmann::json status = nlohmann::json::parse(body);
        return {true, status.value("state", ""), status.value("generated_at", ""),
                status.value("info_text", "")};
    } catch (const std::exception&) {
        return {};
    }
}

int unverified(const std::string& command, const EffectTarget& t) {
    std::fprintf(stderr,
                 "vandorixctl: %s sent; its effect could not be verified: the status port %s:%d does not "
                 "answer (--status-port names it, --no-check skips the check)\n",
                 command.c_str(), t.host.c_str(), t.statusPort);
    return kExitUnverified;
}

int startOrStop(const std::string& command, const EffectTarget& t) {
    const bool start = command == vx::kRemoteStart;
    const auto deadline = Clock::now() + std::chrono::milliseconds(t.waitMs);
    for (;;) {
        const Seen seen = look(t);
        if (!seen.answered) {
            return unverified(command, t);
        }
        if (start ? vx::startedStateName(seen.state) : seen.state == vx::kStateStopped) {
            return 0;
        }
        if (Clock::now() >= deadline) {
            std::fprintf(stderr, "vandorixctl: %s had no effect within %.1f s: the station is %s\n",
                         command.c_str(), t.waitMs / 1000.0, seen.state.c_str());
            return kExitNoEffect;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

// The process that ends closes every connection of its own: the one the command came over first.
int ende(const EffectTarget& t, int fd) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(t.waitMs);
    bool closed = false;
    while (!closed && Clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) > 0) {
            char buffer[256];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
        }
    }
    while (closed) {
        const int probe = connectTo(t.host, t.remotePort, true);
        if (probe < 0) {
            return 0;
        }
        ::close(probe);
        if (Clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    std::fprintf(stderr, "vandorixctl: Ende had no effect within %.1f s: the station still runs\n",
                 t.waitMs / 1000.0);
    return kExitNoEffect;
}

// The list's end is unmarked: an empty one and a frozen station look alike, but a frozen station's status
// stands still.
int liste(const EffectTarget& t) {
    const Seen first = look(t);
    if (!first.answered) {
        return unverified(vx::kRemoteList.data(), t);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kFreshnessMs);
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(kPollInterval);
        const Seen seen = look(t);
        if (!seen.answered) {
            return unverified(vx::kRemoteList.data(), t);
        }
        if (seen.generatedAt != first.generatedAt) {
            return 0;
        }
    }
    std::fprintf(stderr, "vandorixctl: the station does not answer: its status has stood still for %d s\n",
                 kFreshnessMs / 1000);
    return kExitNoEffect;
}

// "Info" took effect once the status shows the text (the station refuses one its channels cannot carry).
int info(const std::string& text, const EffectTarget& t) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(t.waitMs);
    for (;;) {
        const Seen seen = look(t);
        if (!seen.answered) {
            return unverified(vx::kRemoteInfo.data(), t);
        }
        if (seen.infoText == text) {
            return 0;
        }
        if (Clock::now() >= deadline) {
            std::fprintf(stderr,
                         "vandorixctl: info had no effect within %.1f s: the station's info text is %s\n",
                         t.waitMs / 1000.0, seen.infoText.c_str());
            return kExitNoEffect;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace

int checkEffect(const std::string& command, const EffectTarget& target, int fd) {
    if (command == vx::kRemoteEnd) {
        return ende(target, fd);
    }
    if (command == vx::kRemoteList) {
        return liste(target);
    }
    if (command.starts_with(vx::kRemoteInfo)) {
        return info(command.substr(vx::kRemoteInfo.size()), target);
    }
    return startOrStop(command, target);
}

}  // namespace vx::ctl
