// SPDX-License-Identifier: GPL-3.0-or-later
// Hands one block to every listener connection with SendBytes, as the worker does for each encoded
// second, beside a bare loop of send() calls over the same sockets (the physical floor), for 100, 1000 and
// 5000 loopback connections. Also shows what one read notice costs while the other connections idle.
#include "net/TServerSocket.h"
#include "platform/FileLimit.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int connectClient(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

void drain(const std::vector<int>& clients) {
    static char buffer[1 << 16];
    for (int fd : clients) {
        while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
    }
}

bool processUntil(TServerSocket& server, int count) {
    QElapsedTimer timer;
    timer.start();
    while (server.ConnectionCount() < count) {
        if (timer.elapsed() > 30000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t fileLimit = vx::raiseOpenFileLimit();
    QCoreApplication app(argc, argv);
    constexpr int kRounds = 21;

    std::printf("open-file limit: %llu\n", static_cast<unsigned long long>(fileLimit));
    std::printf("%6s %6s %16s %16s %7s %18s\n", "N", "bytes", "SendBytes ns/l", "send() ns/l", "ratio",
                "read notice us");
    for (const int n : {100, 1000, 5000}) {
        if (uint64_t(2 * n + 64) > fileLimit) {
            std::printf("%6d skipped: the open-file limit allows no %d descriptors\n", n, 2 * n);
            continue;
        }
        TServerSocket server;
        int reads = 0;
        server.OnClientRead = [&reads](TServerSocket*, const std::shared_ptr<TServerClientWinSocket>& s) {
            s->ReadAvailableText();
            ++reads;
        };
        server.SetActive(true);
        const int port = server.LocalPort();
        std::vector<int> clients;
        for (int i = 0; i < n; ++i) {
            const int fd = connectClient(port);
            if (fd < 0) {
                std::perror("connect");
                return 1;
            }
            clients.push_back(fd);
            if (i % 500 == 499 && !processUntil(server, i + 1)) {
                std::fprintf(stderr, "accepting stalled\n");
                return 1;
            }
        }
        if (!processUntil(server, n)) {
            std::fprintf(stderr, "accepting stalled\n");
            return 1;
        }
        const auto connections = server.Connections();
        std::vector<int> fds;
        for (const auto& c : connections) {
            fds.push_back(c->SocketHandle());
        }

        // One peer speaks while all others idle: the cost of its notice.
        std::vector<double> notice;
        for (int i = 0; i < 200; ++i) {
            const int before = reads;
            const auto t0 = Clock::now();
            ::send(clients[std::size_t(i) % clients.size()], "x", 1, MSG_NOSIGNAL);
            while (reads == before) {
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            }
            notice.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        }
        const double noticeUs = median(notice);

        for (const int size : {2250, 16000}) {
            const QByteArray block(size, 'x');
            std::vector<double> layer;
            std::vector<double> bare;
            long short_ = 0;
            for (int round = 0; round < kRounds; ++round) {
                drain(clients);
                auto t0 = Clock::now();
                for (const auto& c : connections) {
                    if (c->SendBytes(block.constData(), size) != size) {
                        ++short_;
                    }
                }
                layer.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / n);
                drain(clients);
                t0 = Clock::now();
                for (const int fd : fds) {
                    if (::send(fd, block.constData(), std::size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL) !=
                        size) {
                        ++short_;
                    }
                }
                bare.push_back(std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / n);
            }
            const double l = median(layer);
            const double b = median(bare);
            std::printf("%6d %6d %16.0f %16.0f %7.3f %18.1f%s\n", n, size, l, b, l / b, noticeUs,
                        short_ ? "  (some sends short)" : "");
        }
        for (int fd : clients) {
            ::close(fd);
        }
        server.SetActive(false);
    }
    return 0;
}
