// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/TServerClientWinSocket.h"

#include "net/ServerLink.h"
#include "net/TServerSocket.h"

#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

TServerClientWinSocket::TServerClientWinSocket(int fd, int epollFd, uint64_t id, QString peer,
                                               std::shared_ptr<ServerLink> link,
                                               std::shared_ptr<TSocketUserData> session)
    : fd_(fd),
      epollFd_(epollFd),
      id_(id),
      peer_(std::move(peer)),
      link_(std::move(link)),
      session_(std::move(session)),
      userData_(session_) {}

TServerClientWinSocket::~TServerClientWinSocket() {
    closeSocket();
    ::close(fd_);
}

QString TServerClientWinSocket::PeerAddress() const {
    return IsOpen() ? peer_ : QString();
}

int TServerClientWinSocket::SocketHandle() const {
    return IsOpen() ? fd_ : -1;
}

std::shared_ptr<TSocketUserData> TServerClientWinSocket::UserData() const {
    vx::MutexLock lock(userMutex_);
    return userData_;
}

void TServerClientWinSocket::SetUserData(std::shared_ptr<TSocketUserData> data) {
    vx::MutexLock lock(userMutex_);
    userData_ = std::move(data);
}

int TServerClientWinSocket::available() const {
    vx::MutexLock lock(mutex_);
    int count = 0;
    if (!IsOpen() || ::ioctl(fd_, FIONREAD, &count) != 0) {
        return 0;
    }
    return count;
}

QByteArray TServerClientWinSocket::ReadAvailableText() {
    int error = 0;
    const char* api = "recv";
    {
        vx::MutexLock lock(mutex_);
        if (!IsOpen()) {
            return {};
        }
        int count = 0;
        if (::ioctl(fd_, FIONREAD, &count) != 0) {
            error = errno;
            api = "ioctl";
        } else if (count <= 0) {
            return {};
        } else {
            QByteArray text(count, Qt::Uninitialized);
            const ssize_t n = ::recv(fd_, text.data(), std::size_t(count), MSG_DONTWAIT);
            if (n >= 0) {
                text.truncate(n);
                return text;
            }
            error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
                return {};
            }
        }
    }
    failed(TErrorEvent::eeReceive, error, api);
    return {};
}

int TServerClientWinSocket::SendBytes(const void* buffer, int count) {
    if (buffer == nullptr || count <= 0) {
        return 0;
    }
    ssize_t n = 0;
    int error = 0;
    {
        vx::MutexLock lock(mutex_);
        if (!IsOpen()) {
            return 0;
        }
        n = ::send(fd_, buffer, std::size_t(count), MSG_DONTWAIT | MSG_NOSIGNAL);
        error = errno;
    }
    return SendResult(n, error);
}

int TServerClientWinSocket::SendResult(ssize_t sent, int error) {
    if (sent >= 0) {
        return int(sent);
    }
    if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
        return -1;  // what the stack cannot take now is lost for this peer
    }
    if (!IsOpen()) {
        return 0;  // shut down by a close while the send was under way
    }
    failed(TErrorEvent::eeSend, error, "send");
    return -1;
}

void TServerClientWinSocket::failed(TErrorEvent kind, int code, const char* api) {
    TSocketErrorEvent handler;
    TServerSocket* server = nullptr;
    {
        vx::MutexLock lock(link_->mutex);
        server = link_->server;
        if (server != nullptr) {
            handler = server->OnClientError;
        }
    }
    int errorCode = code;
    if (handler) {
        handler(server, shared_from_this(), kind, errorCode);
    }
    CloseConnection();
    if (errorCode != 0) {
        throw ESocketError::fromCode(errorCode, api);
    }
}

bool TServerClientWinSocket::closeSocket() {
    vx::MutexLock lock(mutex_);
    if (!open_.exchange(false, std::memory_order_acq_rel)) {
        return false;
    }
    // Out of the epoll set first: the descriptor stays open until the object goes. The shutdown ends
    // the connection even where a child process between fork and exec still holds the descriptor.
    ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd_, nullptr);
    ::shutdown(fd_, SHUT_RDWR);
    return true;
}

void TServerClientWinSocket::CloseConnection() {
    if (!closeSocket()) {
        return;
    }
    // The release happens on the server's thread, as a close notice would be handled there.
    vx::MutexLock lock(link_->mutex);
    if (link_->server != nullptr) {
        link_->pendingReleases.push_back(id_);
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(link_->wakeFd, &one, sizeof one);
    }
}
