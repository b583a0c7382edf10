// SPDX-License-Identifier: GPL-3.0-or-later
// The plain-socket helpers of vandorixctl (no Qt, none of the station's libraries).
#include "CtlNet.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace vx::ctl {

namespace {

std::string trimmed(const std::string& text) {
    const std::size_t from = text.find_first_not_of(" \t\r");
    if (from == std::string::npos) {
        return {};
    }
    return text.substr(from, text.find_last_not_of(" \t\r") + 1 - from);
}

// A listening address as a client reaches it: every interface is reached on loopback.
std::string reachable(std::string host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty() || host == "0.0.0.0") {
        return "127.0.0.1";
    }
    return host == "::" ? "::1" : host;
}

// HOST:PORT, [IPV6]:PORT or PORT.
bool parseEndpoint(const std::string& text, Endpoint& out) {
    const std::size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (!parseInt(port.c_str(), 1, 65535, out.port)) {
        return false;
    }
    if (colon != std::string::npos) {
        out.host = reachable(text.substr(0, colon));
    }
    return true;
}

}  // namespace

bool findEndpoint(PortKind kind, Endpoint& out) {
    const bool remote = kind == PortKind::Remote;
    out = Endpoint{"127.0.0.1", remote ? 6566 : 6567};
    const char* variable = remote ? "VANDORIX_REMOTE" : "VANDORIX_STATUS";
    if (const char* given = std::getenv(variable); given != nullptr && *given != '\0') {
        if (!parseEndpoint(given, out)) {
            std::fprintf(stderr, "vandorixctl: %s=%s: not HOST:PORT or PORT\n", variable, given);
            return false;
        }
        return true;
    }
    const char* configured = std::getenv("VANDORIX_CONFIG");
    const std::string path =
        configured != nullptr && *configured != '\0' ? configured : "/etc/vandorixserver/vandorixserver.conf";
    std::ifstream file(path);  // readable by root alone on most machines: then the defaults hold
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = trimmed(line);
        const std::size_t eq = line.find('=');
        if (line.empty() || line[0] == '#' || line[0] == ';' || eq == std::string::npos) {
            continue;
        }
        const std::string key = trimmed(line.substr(0, eq));
        const std::string value = trimmed(line.substr(eq + 1));
        bool ok = true;
        if (remote && key == "remote-port") {
            ok = parseInt(value.c_str(), 1, 65535, out.port);
        } else if (remote && key == "remote-listen") {
            out.host = reachable(value);
        } else if (!remote && key == "status-listen" && value != "off") {
            ok = parseEndpoint(value, out) && value.find(':') != std::string::npos;
        }
        if (!ok) {
            std::fprintf(stderr, "vandorixctl: %s:%d: %s = %s: not understood\n", path.c_str(), number,
                         key.c_str(), value.c_str());
            return false;
        }
    }
    return true;
}

bool parseInt(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) {
        return false;
    }
    out = int(value);
    return true;
}

int connectTo(const std::string& host, int port, bool quiet) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        if (!quiet) {
            std::fprintf(stderr, "vandorixctl: %s: %s\n", host.c_str(), ::gai_strerror(rc));
        }
        return -1;
    }
    int fd = -1;
    int lastErrno = 0;
    for (addrinfo* ai = found; ai != nullptr && fd < 0; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastErrno = errno;
            continue;
        }
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            lastErrno = errno;
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0 && !quiet) {
        std::fprintf(stderr, "vandorixctl: cannot connect to %s port %d: %s\n", host.c_str(), port,
                     std::strerror(lastErrno));
    }
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            std::fprintf(stderr, "vandorixctl: send failed: %s\n", std::strerror(errno));
            return false;
        }
        sent += std::size_t(n);
    }
    return true;
}

std::string readAnswer(int fd, int waitMs, int quietMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    std::string answer;
    char buffer[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        const int timeout = answer.empty() ? int(left) : int(std::min<long long>(left, quietMs));
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, timeout);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        answer.append(buffer, std::size_t(n));
    }
    return answer;
}

}  // namespace vx::ctl
