// SPDX-License-Identifier: GPL-3.0-or-later
// The floor of fan-out: a bare server that reads the station's stream as one listener and hands every
// block it receives to each of its own listeners with one non-blocking send(), nothing else. What the
// kernel needs to carry a stream to N sockets; bench_station_load measures it beside the station.
// With DELAY_MS it holds each block back that long, so that it sends while the station is quiet.
//
//   bench_floor_send PORT UPSTREAM_PORT [DELAY_MS]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        return 2;
    }
    const int delayMs = argc == 4 ? std::atoi(argv[3]) : 0;
    ::signal(SIGPIPE, SIG_IGN);
    const int port = std::atoi(argv[1]);
    const int upstreamPort = std::atoi(argv[2]);

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 4096) != 0) {
        return 1;
    }
    const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    a.sin_port = htons(uint16_t(upstreamPort));
    if (::connect(upstream, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        return 1;
    }
    const char request[] = "GET / HTTP/1.0\r\nUser-Agent: floor\r\n\r\n";
    ::send(upstream, request, sizeof request - 1, MSG_NOSIGNAL);

    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listener;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &ev);
    ev.data.fd = upstream;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, upstream, &ev);

    std::vector<int> clients;
    std::vector<epoll_event> events(1024);
    static char block[65536];
    std::size_t held = 0;  // bytes received and not yet sent
    std::chrono::steady_clock::time_point due;
    auto sendHeld = [&] {
        for (int c : clients) {
            ::send(c, block, held, MSG_DONTWAIT | MSG_NOSIGNAL);
        }
        held = 0;
    };
    for (;;) {
        int timeout = -1;
        if (held > 0) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                sendHeld();
                continue;
            }
            timeout = int(left.count());
        }
        const int n = ::epoll_wait(epoll, events.data(), int(events.size()), timeout);
        for (int i = 0; i < n; ++i) {
            const int fd = events[std::size_t(i)].data.fd;
            if (fd == listener) {
                for (int c; (c = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
                    clients.push_back(c);  // its request is never read: the floor only sends
                }
            } else if (fd == upstream) {
                const ssize_t got = ::recv(upstream, block + held, sizeof block - held, 0);
                if (got <= 0) {
                    return 0;
                }
                if (held == 0) {
                    due = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
                }
                held += std::size_t(got);
                if (delayMs == 0 || held == sizeof block) {
                    sendHeld();
                }
            }
        }
    }
}
