// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/TestSupport.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace vxtest {

// The far end of a listener connection: a non-blocking client on 127.0.0.1, so the test thread can keep
// the event loop (and the server on it) running while it waits for replies.
class LoopbackPeer {
public:
    explicit LoopbackPeer(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        const int flags = 1;
        ::ioctl(fd_, FIONBIO, &flags);
    }
    ~LoopbackPeer() { close(); }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }

    bool write(const QByteArray& bytes) {
        return ::send(fd_, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }

    // Takes whatever has arrived; notes the peer's close.
    void pump() {
        char buffer[65536];
        while (fd_ >= 0 && !closedByServer_) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                received_.append(buffer, n);
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                closedByServer_ = true;
            } else {
                return;
            }
        }
    }
    const QByteArray& received() {
        pump();
        return received_;
    }
    void clearReceived() { received_.clear(); }

    bool waitForBytes(qsizetype count, int timeoutMs = 10000) {
        return waitUntil([&] { return received().size() >= count || closedByServer_; }, timeoutMs) &&
               received_.size() >= count;
    }
    bool waitForClose(int timeoutMs = 10000) {
        return waitUntil(
            [&] {
                pump();
                return closedByServer_;
            },
            timeoutMs);
    }
    bool closedByServer() {
        pump();
        return closedByServer_;
    }

    // Closes with a reset instead of the orderly close.
    void reset() {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close();
    }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    bool closedByServer_ = false;
    QByteArray received_;
};

// A listening socket on 127.0.0.1 at a port the kernel picks. The kernel takes connections into its
// queue whether or not the test accepts them: a server that never answers, or a port another program
// holds. A receive buffer given here is inherited by the accepted connections, whose window stays small.
class LoopbackListener {
public:
    explicit LoopbackListener(int receiveBufferBytes = 0, int backlog = 8) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBufferBytes > 0) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, backlog) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            port_ = ntohs(a.sin_port);
        }
    }
    ~LoopbackListener() { ::close(fd_); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int fd() const { return fd_; }
    int port() const { return port_; }  // 0 when it could not listen

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace vxtest
