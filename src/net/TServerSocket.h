// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/ESocketError.h"
#include "net/ServerLink.h"
#include "net/TServerClientWinSocket.h"
#include "platform/ThreadSafety.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class QObject;
class TServerSocket;
class QSocketNotifier;
class QTimer;

using TSocketNotifyEvent =
    std::function<void(TServerSocket* Sender, const std::shared_ptr<TServerClientWinSocket>& Socket)>;
// The handler clears ErrorCode to swallow the error; left non-zero, the error is raised as ESocketError.
using TSocketErrorEvent =
    std::function<void(TServerSocket* Sender, const std::shared_ptr<TServerClientWinSocket>& Socket,
                       TErrorEvent ErrorEvent, int& ErrorCode)>;

// A TCP server on a local IPv4 or IPv6 address, or on every one. Accepted connections are kept in order of
// acceptance; their accept, arrival, error and close notices reach the owner's thread as events.
//
// One epoll set per server, watched by one QSocketNotifier, so idle connections cost nothing and a
// notice is handled at a cost that does not grow with the number of connections.
//
// Thread contract: create, configure, activate and destroy on one thread with an event loop (the window
// thread); all events except a failed send's error event run there. Connections() and the operations of a
// connection may be used from any thread; the window thread's ConnectionCount/ConnectionAt see the same
// list. The server must outlive every use of its connections by other threads (the broadcast stop waits
// for the worker before it deactivates the server).
class TServerSocket {
public:
    TServerSocket();
    ~TServerSocket();
    TServerSocket(const TServerSocket&) = delete;
    TServerSocket& operator=(const TServerSocket&) = delete;

    // The port to listen on; 0 lets the system choose one (see LocalPort()).
    int Port = 0;
    // What the port serves ("Listener"), for the line that says it cannot be opened.
    std::string Name;
    // The local address to listen on: IPv4 dotted, or IPv6 ("::" takes IPv4 peers too, as IPv4-mapped
    // ones); empty: every local IPv4 address. Read by SetActive(true).
    std::string Address;
    // Added to every connection's number, so that the connections of two servers that one list shows
    // never share one. Read when a connection arrives.
    uint64_t IdBase = 0;
    // A connection whose peer has sent no byte this many milliseconds after its arrival is closed, so
    // that silent peers cannot hold descriptors for ever; 0 keeps them. Read when a connection arrives.
    int FirstDataTimeoutMs = 0;
    // A connection that completes no request (RequestDone) this many milliseconds after its arrival or
    // its last completed one is closed, so that a peer cannot hold a descriptor by sending part of a
    // request; 0 keeps them. Read when a connection arrives.
    int RequestTimeoutMs = 0;
    // The most connections open at once; one more is closed right after it is accepted. 0: no limit.
    int MaxConnections = 0;
    // The most open at once from one peer address, so that one peer cannot take every place; one more
    // from it is closed right after it is accepted. 0: no limit. Costs a walk of the list per accept.
    int MaxConnectionsPerPeer = 0;
    // The connection has completed a request: its RequestTimeoutMs starts again. Owner's thread.
    void RequestDone(const std::shared_ptr<TServerClientWinSocket>& conn);
    // The connection has become a stream that sends no further request: RequestTimeoutMs no longer
    // applies to it. Owner's thread.
    void KeepOpen(const std::shared_ptr<TServerClientWinSocket>& conn);
    // The clock the deadlines above are measured by; owner's thread. A test moves it on and calls
    // CheckDeadlines(), so that a deadline of half a minute passes without half a minute of waiting.
    std::function<std::chrono::steady_clock::time_point()> Clock = [] {
        return std::chrono::steady_clock::now();
    };
    // Closes the connections whose deadline Clock has passed; the server's timer calls it when the
    // earliest one is due.
    void CheckDeadlines();

    bool Active() const { return listenFd_ >= 0; }
    // True: binds to Address (or every local IPv4 address) on Port and listens (ESocketError on failure).
    // False: releases every connection at once, the newest first, then closes the listening socket.
    void SetActive(bool active);
    // The port actually bound while active, else 0.
    int LocalPort() const;

    // The list as the window thread sees it.
    int ConnectionCount() const;
    // The i-th connection in order of acceptance, counted from 0; null when i is out of range.
    std::shared_ptr<TServerClientWinSocket> ConnectionAt(int i) const;
    // A copy of the list: the way for any thread to walk the connections. A connection released while
    // the copy is held stays valid (not open) until the copy goes.
    std::vector<std::shared_ptr<TServerClientWinSocket>> Connections() const;
    // The same copy, shared: while the list has not changed, every caller gets the one made after the
    // last change, at the cost of a reference instead of one per connection. `generation` rises with
    // every change of the list.
    struct ConnectionSnapshot {
        uint64_t generation = 0;
        std::vector<std::shared_ptr<TServerClientWinSocket>> connections;
    };
    std::shared_ptr<const ConnectionSnapshot> Snapshot() const;
    // A connection's session changed in a way that walkers of the snapshot sort connections by (a peer
    // was admitted): the next Snapshot() is a new one, so what they derived from the last one is redone.
    void SessionsChanged();

    // Makes the record of each new connection (its Session()), before any event or other thread sees it.
    std::function<std::shared_ptr<TSocketUserData>()> NewUserData;

    TSocketNotifyEvent OnClientConnect;
    TSocketNotifyEvent OnClientRead;
    TSocketErrorEvent OnClientError;

private:
    friend class TServerClientWinSocket;

    void onNotifier();
    void acceptAll();
    void handleConnectionEvent(const std::shared_ptr<TServerClientWinSocket>& conn, uint32_t events);
    void pauseAccepting();
    void releasePending();
    void release(uint64_t id);
    void releaseAll();
    void listChanged() REQUIRES(listMutex_);
    void asyncError(const std::shared_ptr<TServerClientWinSocket>& conn, TErrorEvent kind, int code);
    bool full() const;
    bool peerFull(const QString& address) const;
    void awaitFirstData(const std::shared_ptr<TServerClientWinSocket>& conn);
    void addDeadline(std::chrono::steady_clock::time_point due,
                     const std::shared_ptr<TServerClientWinSocket>& conn, bool request);

    int epollFd_ = -1;
    int listenFd_ = -1;
    uint64_t nextId_ = 1;
    std::unique_ptr<QObject> context_;
    QSocketNotifier* notifier_ = nullptr;  // owned by context_
    QTimer* acceptRetry_ = nullptr;        // owned by context_
    QTimer* silenceCheck_ = nullptr;       // owned by context_; due at the earliest pending deadline
    std::shared_ptr<ServerLink> link_;

    mutable vx::Mutex listMutex_;
    std::vector<std::shared_ptr<TServerClientWinSocket>> list_ GUARDED_BY(listMutex_);
    uint64_t generation_ GUARDED_BY(listMutex_) = 0;
    // Null after a change.
    mutable std::shared_ptr<const ConnectionSnapshot> snapshot_ GUARDED_BY(listMutex_);
    std::unordered_map<uint64_t, std::shared_ptr<TServerClientWinSocket>> byId_;  // owner's thread only
    // Connections that have to send their first byte, or complete a request, by a deadline, earliest
    // first; owner's thread only.
    struct FirstDataDeadline {
        std::chrono::steady_clock::time_point due;
        std::weak_ptr<TServerClientWinSocket> connection;
        bool request = false;  // a request's deadline, else the first byte's
    };
    std::deque<FirstDataDeadline> silent_;
};
