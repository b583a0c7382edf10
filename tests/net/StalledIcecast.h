// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/LoopbackPeer.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace vxtest {

// Takes an Icecast source as Icecast does (reads the request, answers 200) and then reads nothing until
// told to: the far end of a relay whose line has stalled. Its receive window is small, so the sender's
// kernel soon holds back what the relay sends.
class StalledIcecast {
public:
    StalledIcecast() {
        thread_ = std::thread([this] { serve(); });
    }
    ~StalledIcecast() {
        stop_ = true;
        thread_.join();
        if (client_ >= 0) {
            ::close(client_);
        }
    }
    StalledIcecast(const StalledIcecast&) = delete;
    StalledIcecast& operator=(const StalledIcecast&) = delete;

    int port() const { return listener_.port(); }
    int sources() const { return sources_; }
    // From now on everything the source sends after its request is read and kept.
    void readFromNowOn() { reading_ = true; }
    QByteArray received() const {
        std::lock_guard lock(mutex_);
        // A copy of its own: a shared one would be released outside the lock, which ThreadSanitizer
        // cannot see ordered (Qt is not instrumented).
        return QByteArray(received_.constData(), received_.size());
    }

private:
    void serve() {
        while (!stop_) {
            pollfd p[2] = {{listener_.fd(), POLLIN, 0}, {client_, POLLIN, 0}};
            const nfds_t watched = client_ >= 0 && reading_ ? 2 : 1;
            if (::poll(p, watched, 20) <= 0) {
                continue;
            }
            if (p[0].revents & POLLIN) {
                answer(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
            }
            if (watched == 2 && (p[1].revents & (POLLIN | POLLHUP))) {
                char buffer[65536];
                const ssize_t n = ::recv(client_, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    ::close(client_);
                    client_ = -1;
                } else {
                    std::lock_guard lock(mutex_);
                    received_.append(buffer, n);
                }
            }
        }
    }
    // As Icecast 2.4 does: libshout's TLS upgrade probe (OPTIONS) is closed unanswered, its capability
    // probe refused, a source without credentials asked for them and a source with credentials taken.
    void answer(int fd) {
        QByteArray request;
        char c;
        while (!request.endsWith("\r\n\r\n") && !stop_) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && ::recv(fd, &c, 1, 0) != 1) {
                break;
            }
            if (p.revents & POLLIN) {
                request.append(c);
            }
        }
        if (request.startsWith("SOURCE ") && request.contains("Authorization: Basic") && client_ < 0) {
            ::send(fd, "HTTP/1.0 200 OK\r\n\r\n", 19, MSG_NOSIGNAL);
            client_ = fd;
            ++sources_;
            return;
        }
        const char* refusal = request.startsWith("SOURCE ")
                                  ? "HTTP/1.0 401 Authentication Required\r\nWWW-Authenticate: Basic\r\n\r\n"
                                  : "HTTP/1.0 400 Bad Request\r\n\r\n";
        if (!request.startsWith("OPTIONS ")) {
            ::send(fd, refusal, std::strlen(refusal), MSG_NOSIGNAL);
        }
        ::close(fd);
    }

    LoopbackListener listener_{4096};  // a small window, inherited when accepted
    int client_ = -1;
    std::atomic<int> sources_{0};
    std::atomic<bool> reading_{false};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    QByteArray received_;
    std::thread thread_;
};

}  // namespace vxtest
