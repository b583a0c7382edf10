// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/StationChecker.h"

#include "directory/AddressRange.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace vx::directory {

namespace {

constexpr std::size_t kMaxActive = 256;
constexpr std::size_t kMaxWaiting = 100000;
constexpr std::size_t kMaxNameAnswer = 512;
constexpr std::size_t kMaxNowJson = 16 * 1024;
constexpr int kWebPortDistance = 3;  // 6565 and 6568 by default

struct Check {
    enum class Phase { NameConnecting, NameReading, WebConnecting, WebReading };
    CheckRequest station;
    Phase phase = Phase::NameConnecting;
    int fd = -1;
    StationChecker::Clock::time_point deadline;
    std::string buffer;
    CheckResult result;
    bool done = false;
};

// A non-blocking connect under way; -1 when it failed at once.
int startConnect(const std::string& address, int port) {
    const std::optional<in6_addr> a = parseAddress(address);
    if (!a || port <= 0 || port > 65535) {
        return -1;
    }
    sockaddr_storage target{};
    socklen_t length = 0;
    int family = AF_INET6;
    if (IN6_IS_ADDR_V4MAPPED(&*a)) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&target);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(uint16_t(port));
        std::memcpy(&v4->sin_addr, &a->s6_addr[12], 4);
        length = sizeof *v4;
        family = AF_INET;
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&target);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(uint16_t(port));
        v6->sin6_addr = *a;
        length = sizeof *v6;
    }
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&target), length) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool connected(int fd) {
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

bool sendAll(int fd, const std::string& text) {
    return ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) == ssize_t(text.size());
}

// Reads what is there into the buffer, at most `limit` bytes in all. 1: more may come, 0: the peer
// closed, -1: an error or beyond the limit.
int readInto(int fd, std::string& buffer, std::size_t limit) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            buffer.append(chunk, std::size_t(n));
            if (buffer.size() > limit) {
                return -1;
            }
            continue;
        }
        if (n == 0) {
            return 0;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? 1 : -1;
    }
}

std::string hostHeader(const std::string& address, int port) {
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

// The station's /now.json: its stream's URL and what plays, if it is this station's.
void takeNowJson(const std::string& answer, Check& c) {
    if (!answer.starts_with("HTTP/1.0 200") && !answer.starts_with("HTTP/1.1 200")) {
        return;
    }
    const std::size_t body = answer.find("\r\n\r\n");
    if (body == std::string::npos) {
        return;
    }
    const nlohmann::json now = nlohmann::json::parse(answer.substr(body + 4), nullptr, false);
    if (!now.is_object() || !now.contains("radio_name") || !now["radio_name"].is_string() ||
        now["radio_name"].get<std::string>() != c.station.name) {
        return;
    }
    if (now.contains("stream_url") && now["stream_url"].is_string()) {
        const std::string url = now["stream_url"].get<std::string>();
        if ((url.starts_with("http://") || url.starts_with("https://")) && url.size() <= 2048) {
            c.result.streamUrl = url;
        }
    }
    if (now.contains("listener_limit") && now["listener_limit"].is_number_integer()) {
        c.result.listenerLimit = std::clamp(now["listener_limit"].get<int>(), -1, 1000000);
    }
    if (now.contains("info_text") && now["info_text"].is_string()) {
        c.result.nowPlaying = now["info_text"].get<std::string>().substr(0, 255);
    }
}

void closeFd(Check& c) {
    if (c.fd >= 0) {
        ::close(c.fd);
        c.fd = -1;
    }
}

void startWeb(Check& c, StationChecker::Clock::time_point now, std::chrono::milliseconds deadline) {
    closeFd(c);
    const int port = c.station.port + kWebPortDistance;
    c.fd = port <= 65535 ? startConnect(c.station.address, port) : -1;
    if (c.fd < 0) {
        c.done = true;
        return;
    }
    c.phase = Check::Phase::WebConnecting;
    c.deadline = now + deadline;
    c.buffer.clear();
}

}  // namespace

bool isNameQueryAnswer(std::string_view answer) {
    return answer.find("KT-VandorixServer") != std::string_view::npos;
}

StationChecker::StationChecker(std::function<void(const CheckRequest&, const CheckResult&)> onResult,
                               Deadlines deadlines)
    : onResult_(std::move(onResult)), deadlines_(deadlines) {
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    thread_ = std::thread([this] { run(); });
}

StationChecker::~StationChecker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
}

void StationChecker::request(const CheckRequest& station) {
    {
        std::lock_guard lock(mutex_);
        if (waiting_.size() >= kMaxWaiting && !waiting_.contains(station.nameKey)) {
            return;  // the next status report asks again
        }
        Clock::time_point notBefore = Clock::now();
        if (const auto last = lastStart_.find(station.nameKey); last != lastStart_.end()) {
            notBefore = std::max(notBefore, last->second + deadlines_.perStation);
        }
        waiting_[station.nameKey] = Waiting{station, notBefore};
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void StationChecker::run() {
    std::vector<Check> active;
    std::vector<pollfd> fds;
    for (;;) {
        Clock::time_point now = Clock::now();
        Clock::time_point wake = now + std::chrono::seconds(1);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                break;
            }
            for (auto it = waiting_.begin(); it != waiting_.end();) {
                if (it->second.notBefore <= now && active.size() < kMaxActive) {
                    Check c;
                    c.station = it->second.station;
                    c.fd = startConnect(c.station.address, c.station.port);
                    c.deadline = now + deadlines_.nameQuery;
                    c.done = c.fd < 0;
                    active.push_back(std::move(c));
                    lastStart_[it->first] = now;
                    it = waiting_.erase(it);
                } else {
                    wake =
                        std::min(wake, std::max(it->second.notBefore, now + std::chrono::milliseconds(10)));
                    ++it;
                }
            }
            std::erase_if(lastStart_, [&](const auto& e) { return now - e.second > deadlines_.perStation; });
        }
        fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
        for (const Check& c : active) {
            const bool connecting =
                c.phase == Check::Phase::NameConnecting || c.phase == Check::Phase::WebConnecting;
            fds.push_back(pollfd{c.done ? -1 : c.fd, short(connecting ? POLLOUT : POLLIN), 0});
            wake = std::min(wake, c.deadline);
        }
        const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count();
        ::poll(fds.data(), fds.size(), int(std::clamp<int64_t>(timeout, 0, 1000)));
        uint64_t drained = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &drained, sizeof drained);
        now = Clock::now();
        for (std::size_t i = 0; i < active.size(); ++i) {
            Check& c = active[i];
            const short events = fds[i + 1].revents;
            if (c.done) {
                continue;
            }
            if (events == 0) {
                if (now >= c.deadline) {
                    // Out of time: the name query fails the check; a slow web port only loses its extras.
                    c.done = true;
                }
                continue;
            }
            switch (c.phase) {
                case Check::Phase::NameConnecting:
                    if (!connected(c.fd) || !sendAll(c.fd, "Radioname")) {
                        c.done = true;
                    } else {
                        c.phase = Check::Phase::NameReading;
                    }
                    break;
                case Check::Phase::NameReading: {
                    const int more = readInto(c.fd, c.buffer, kMaxNameAnswer);
                    if (isNameQueryAnswer(c.buffer)) {
                        c.result.reached = true;
                        startWeb(c, now, deadlines_.webPort);
                    } else if (more <= 0) {
                        c.done = true;
                    }
                    break;
                }
                case Check::Phase::WebConnecting:
                    if (!connected(c.fd) ||
                        !sendAll(c.fd, "GET /now.json HTTP/1.0\r\nHost: " +
                                           hostHeader(c.station.address, c.station.port + kWebPortDistance) +
                                           "\r\nUser-Agent: vandorixdir\r\n\r\n")) {
                        c.done = true;
                    } else {
                        c.phase = Check::Phase::WebReading;
                    }
                    break;
                case Check::Phase::WebReading: {
                    const int more = readInto(c.fd, c.buffer, kMaxNowJson);
                    if (more == 0) {
                        takeNowJson(c.buffer, c);
                    }
                    if (more <= 0) {
                        c.done = true;
                    }
                    break;
                }
            }
        }
        // Finished checks leave; their outcome goes out without the lock held.
        for (auto it = active.begin(); it != active.end();) {
            if (it->done) {
                closeFd(*it);
                if (onResult_) {
                    onResult_(it->station, it->result);
                }
                it = active.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Check& c : active) {
        closeFd(c);
    }
}

}  // namespace vx::directory
