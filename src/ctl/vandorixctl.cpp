// vandorixctl: drives a running station over its remote-control port.
//
//   vandorixctl [--host H] [--port P] [--wait MS] Start|Stop|Ende|Liste
//
// Sends the command followed by the four-byte terminator (FF FF FF FF). For "Liste" it prints every
// answer element (a listener address) on its own line; the station marks no end of the list, so the
// answer is read until the station has been silent for a moment or --wait milliseconds have passed.
// Exit status: 0 sent (and answer read), 1 connection or send failure, 2 usage.
// By path: this client needs nothing else of the station's sources.
#include "../platform/StationConstants.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kTerminator = vx::kRemoteTerminator;
constexpr int kQuietMs = 300;  // after the last answer bytes, this much silence ends the list

constexpr char kUsage[] = "usage: vandorixctl [--host H] [--port P] [--wait MS] Start|Stop|Ende|Liste\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int help() {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\nSends one command to a running vandorixserver over its remote-control port.\n"
        "  Start   start the broadcast      Stop   stop it\n"
        "  Ende    end the station          Liste  print the listeners' addresses, one a line\n"
        "\n"
        "  --host H    the station's host (default 127.0.0.1)\n"
        "  --port P    the remote-control port (default 6566)\n"
        "  --wait MS   how long to wait for the list (default 2000)\n"
        "  -h, --help  this help;  -v, --version  the version\n"
        "\n"
        "Exit codes: 0 sent, 1 connection or send failed, 2 usage.\n",
        stdout);
    return 0;
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

int connectTo(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        std::fprintf(stderr, "vandorixctl: %s: %s\n", host.c_str(), ::gai_strerror(rc));
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
    if (fd < 0) {
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

// Reads until the peer closes, is quiet for kQuietMs after some data, or waitMs have passed.
std::string readAnswer(int fd, int waitMs) {
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
        const int timeout = answer.empty() ? int(left) : int(std::min<long long>(left, kQuietMs));
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

}  // namespace

int main(int argc, char** argv) {
    std::string host = "127.0.0.1";
    int port = vx::kDefaultRemoteControlPort;
    int waitMs = 2000;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if ((arg == "--host" || arg == "--port" || arg == "--wait") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--host") {
                host = value;
            } else if (arg == "--port" ? !parseInt(value, 1, 65535, port)
                                       : !parseInt(value, 0, 600000, waitMs)) {
                std::fprintf(stderr, "vandorixctl: bad value for %s: %s\n", argv[i - 1], value);
                return 2;
            }
        } else if (arg == "-h" || arg == "--help") {
            return help();
        } else if (arg == "-v" || arg == "--version") {
            std::puts("vandorixctl " VX_VERSION);
            return 0;
        } else if (arg.starts_with('-')) {
            std::fprintf(stderr, "vandorixctl: unknown option '%s' (or it lacks its value)\n", argv[i]);
            return usage();
        } else if (command.empty() && (arg == vx::kRemoteStart || arg == vx::kRemoteStop ||
                                       arg == vx::kRemoteEnd || arg == vx::kRemoteList)) {
            command = arg;
        } else {
            return usage();
        }
    }
    if (command.empty()) {
        return usage();
    }

    const int fd = connectTo(host, port);
    if (fd < 0) {
        return 1;
    }
    if (!sendAll(fd, command + std::string(kTerminator))) {
        ::close(fd);
        return 1;
    }
    if (command == vx::kRemoteList) {
        const std::string answer = readAnswer(fd, waitMs);
        // Each element ends with the terminator; a tail without one was cut off and is not an address.
        std::size_t from = 0;
        for (std::size_t at = answer.find(kTerminator); at != std::string::npos;
             at = answer.find(kTerminator, from)) {
            std::fwrite(answer.data() + from, 1, at - from, stdout);
            std::fputc('\n', stdout);
            from = at + kTerminator.size();
        }
    }
    ::close(fd);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
