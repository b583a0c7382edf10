// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/ESocketError.h"
#include "platform/ThreadSafety.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

#include <sys/types.h>

struct ServerLink;
class TServerSocket;

// Base of whatever a program attaches to a connection; the connection owns it and frees it with itself.
class TSocketUserData {
public:
    virtual ~TSocketUserData() = default;
};

// One accepted connection of a TServerSocket. Shared: the server's list holds it until its release, and
// whoever copied the list (Connections()) keeps it valid, closed, after that.
//
// Closing shuts the socket down at once (the peer sees the end, nothing more is sent or read) but the
// descriptor is given back only with the connection object: while anyone holds the connection, its
// descriptor cannot be handed to a newer connection, so a thread that sends on it (Handle()) never
// reaches another peer.
//
// Thread contract: every operation may be called from any thread. Send, receive and close are serialised
// under the connection's own lock; sends never block and are never retried. A failed send or receive
// runs the server's error event on the calling thread, then closes the connection.
class TServerClientWinSocket : public std::enable_shared_from_this<TServerClientWinSocket> {
public:
    ~TServerClientWinSocket();
    TServerClientWinSocket(const TServerClientWinSocket&) = delete;
    TServerClientWinSocket& operator=(const TServerClientWinSocket&) = delete;

    // True from accept until the connection is closed by either side.
    bool IsOpen() const { return open_.load(std::memory_order_acquire); }
    // The peer's IPv4 address in dotted decimal; empty when not open.
    QString PeerAddress() const;
    // The connection's number in its server, rising in order of acceptance.
    uint64_t Id() const { return id_; }
    // The socket's descriptor, -1 once closed. For measurements beside the layer only.
    int SocketHandle() const;
    // The descriptor for the connection's whole life, closed or not: for a sender that holds the
    // connection and sends without its lock. What such a send returns goes to SendResult.
    int Handle() const { return fd_; }
    // SendBytes' result and error handling for a send(2) made on Handle(): `sent` is its return value
    // and `error` its errno. A connection closed meanwhile took nothing and failed nothing.
    int SendResult(ssize_t sent, int error);

    // The record the server's NewUserData made for the connection at accept (null without one): fixed for
    // the connection's life and owned by it, so any thread reads it without a lock or a reference count,
    // which the senders of a block to thousands of connections rely on. SetUserData does not replace it.
    TSocketUserData* Session() const { return session_.get(); }

    // The record as last set; starts as Session().
    std::shared_ptr<TSocketUserData> UserData() const;
    void SetUserData(std::shared_ptr<TSocketUserData> data);
    template <class T>
    std::shared_ptr<T> UserDataAs() const {
        return std::dynamic_pointer_cast<T>(UserData());
    }

    // Every byte waiting at this moment, read in one receive; empty when there is none or not open.
    QByteArray ReadAvailableText();
    // The bytes as they are (callers convert texts with vx::toAnsi). Result: the number of bytes the
    // stack took, possibly fewer than asked; 0 when not open or nothing was to be sent; -1 when the
    // send would block, or failed and the error handler cleared the code (else ESocketError).
    int SendString(const QByteArray& text) { return SendBytes(text.constData(), int(text.size())); }
    int SendBytes(const void* buffer, int count);
    // Closes at once; the server releases the connection from its list on its own thread afterwards.
    void CloseConnection();

private:
    friend class TServerSocket;
    TServerClientWinSocket(int fd, int epollFd, uint64_t id, QString peer, std::shared_ptr<ServerLink> link,
                           std::shared_ptr<TSocketUserData> session);

    // Closes the socket; true when this call closed it.
    bool closeSocket();
    int available() const;
    void failed(TErrorEvent kind, int code, const char* api);

    // Serialises send, receive and close on fd_; it guards no field (the descriptor itself is constant).
    mutable vx::Mutex mutex_;
    const int fd_;
    const int epollFd_;
    std::atomic<bool> open_{true};
    const uint64_t id_;
    const QString peer_;
    const std::shared_ptr<ServerLink> link_;
    bool dataArrived_ = false;  // the peer has sent a byte; the server's thread only
    std::chrono::steady_clock::time_point requestDoneAt_{};  // the last completed request; the same
    const std::shared_ptr<TSocketUserData> session_;

    mutable vx::Mutex userMutex_;
    std::shared_ptr<TSocketUserData> userData_ GUARDED_BY(userMutex_);
};
