// SPDX-License-Identifier: GPL-3.0-or-later
// The status port under clients that try to shut it for others, and under requests for host names it
// does not serve (a page of another site reaching it by DNS rebinding).
#include "platform/FileLimit.h"
#include "status/StatusHttpServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using vx::status::StatusHttpServer;
using namespace std::chrono_literals;

namespace {

constexpr auto kDeadline = 1000ms;

// A connection to 127.0.0.1:port from the loopback address `from`; non-blocking unless told.
int connectFrom(const char* from, int port, bool blocking = false) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &a.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    a.sin_port = htons(uint16_t(port));
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}

// Whether the server has closed the connection (no byte is ever expected on these).
bool closedByServer(int fd) {
    char byte = 0;
    const ssize_t n = ::recv(fd, &byte, 1, MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN);
}

// One whole request from 127.0.0.1; the status code, or 0 when no answer came within the time.
int statusOf(int port, const std::string& host, int timeoutMs = 3000) {
    const int fd = connectFrom("127.0.0.1", port, true);
    const timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const std::string request =
        "GET /status.json HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char head[13] = {};
    std::size_t got = 0;
    while (got < 12) {
        const ssize_t n = ::recv(fd, head + got, 12 - got, 0);
        if (n <= 0) {
            break;
        }
        got += std::size_t(n);
    }
    ::close(fd);
    return got == 12 ? std::atoi(head + 9) : 0;
}

class StatusServer : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(server.start(QStringLiteral("127.0.0.1"), 0, &error)) << error.toStdString();
    }
    StatusHttpServer server{[](const std::string&, const std::string&) {
                                return StatusHttpServer::Response{200, "text/plain", "ok\n", {}};
                            },
                            kDeadline};
};

TEST_F(StatusServer, AHeadTricklingInIsCutAtItsDeadlineAndOnePeerHoldsOnlyItsShare) {
    const int trickle = connectFrom("127.0.0.1", server.port(), true);
    const auto began = std::chrono::steady_clock::now();
    const char head[] = "GET /status.json HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    std::size_t at = 0;
    // One byte every 100 ms: an idle timeout never fires, the head's deadline must.
    EXPECT_TRUE(vxtest::waitUntil(
        [&] {
            ::send(trickle, head + at % (sizeof head - 1), 1, MSG_NOSIGNAL);
            ++at;
            std::this_thread::sleep_for(100ms);
            return closedByServer(trickle);
        },
        5000));
    EXPECT_GE(std::chrono::steady_clock::now() - began, kDeadline - 100ms);
    ::close(trickle);

    std::vector<int> peer;
    for (unsigned i = 0; i <= StatusHttpServer::kMaxPerPeer; ++i) {
        peer.push_back(connectFrom("127.0.0.3", server.port(), true));
    }
    ASSERT_TRUE(vxtest::waitUntil([&] { return closedByServer(peer.back()); }, 2000))
        << "one connection more than a peer's share was kept";
    for (unsigned i = 0; i < StatusHttpServer::kMaxPerPeer; ++i) {
        EXPECT_FALSE(closedByServer(peer[i])) << "connection " << i << " within the share was closed";
    }
    EXPECT_EQ(statusOf(server.port(), "127.0.0.1"), 200) << "another peer is shut out";
    for (const int fd : peer) {
        ::close(fd);
    }
}

TEST_F(StatusServer, ALegitimateClientIsServedWhileTwoThousandHostileConnectionsPress) {
    ASSERT_GE(vx::raiseOpenFileLimit(), 2200u);
    std::atomic<bool> pressing = true;
    std::atomic<int> opened = 0;
    // 2,000 connections from one address that send a header byte now and then and are reopened as soon
    // as the server closes them.
    std::thread hostile([&] {
        std::vector<int> fds(2000, -1);
        while (pressing) {
            for (int& fd : fds) {
                if (fd >= 0 && closedByServer(fd)) {
                    ::close(fd);
                    fd = -1;
                }
                if (fd < 0) {
                    fd = connectFrom("127.0.0.2", server.port());
                    ++opened;
                } else {
                    ::send(fd, "X", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                }
            }
            std::this_thread::sleep_for(200ms);
        }
        for (const int fd : fds) {
            ::close(fd);
        }
    });
    ASSERT_TRUE(vxtest::waitUntil([&] { return opened >= 4000; }, 20000)) << "the press did not begin";
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(statusOf(server.port(), "localhost:6567"), 200) << "request " << i;
    }
    pressing = false;
    hostile.join();
}

TEST_F(StatusServer, OnlyTheNamesItIsReachedByAreAnswered) {
    server.stop();
    server.setHostNames({QStringLiteral("Radio.Example")});
    QString error;
    ASSERT_TRUE(server.start(QStringLiteral("127.0.0.1"), 0, &error));
    for (const char* host : {"127.0.0.1", "127.0.0.1:6567", "localhost", "LOCALHOST:80", "[::1]:6567",
                             "radio.example", "radio.example:6567"}) {
        EXPECT_EQ(statusOf(server.port(), host), 200) << host;
    }
    for (const char* host :
         {"rebind.attacker.example", "radio.example.attacker.example", "10.0.0.1", "[::1", "", "radio"}) {
        EXPECT_EQ(statusOf(server.port(), host), 421) << host;
    }
}

}  // namespace
