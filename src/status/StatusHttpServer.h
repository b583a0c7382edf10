// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ThreadSafety.h"
#include "net/HttpMessage.h"

#include <QByteArray>
#include <QString>

#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct MHD_Connection;
struct MHD_Daemon;

namespace vx::status {

// A small read-only HTTP server on a thread of its own (libmicrohttpd's internal epoll thread). It never
// calls into the station: the handler answers from data published to it.
// Bounded, so that whoever reaches the port cannot shut it for others: at most kMaxConnections at once
// and kMaxPerPeer from one address (more are closed at accept); a request's whole head must arrive within
// the head deadline, however slowly it trickles (the library's own timeout restarts with every byte, so
// a sweep of our own closes the late ones); a connection idle for kIdleTimeoutSeconds is closed; a
// request line with headers over kRequestMemory bytes is answered with an error by the library itself.
// It answers only requests whose Host names it (DNS rebinding): loopback names and addresses, the
// address it is reached at, and the names given to setHostNames(); 421 for any other.
// Thread contract: setHostNames(), start() and stop() on the owner's thread; the handler runs on the
// server's thread.
class StatusHttpServer {
public:
    static constexpr unsigned kMaxConnections = 256;
    static constexpr unsigned kMaxPerPeer = 16;
    static constexpr unsigned kIdleTimeoutSeconds = 10;
    static constexpr std::chrono::milliseconds kHeadDeadline{5000};
    static constexpr std::size_t kRequestMemory = 16 * 1024;

    using Response = vx::http::Response;
    // Called with the method ("GET", ...) and the path without its query.
    using Handler = std::function<Response(const std::string& method, const std::string& path)>;

    explicit StatusHttpServer(Handler handler, std::chrono::milliseconds headDeadline = kHeadDeadline)
        : handler_(std::move(handler)), headDeadline_(headDeadline) {}
    ~StatusHttpServer();
    StatusHttpServer(const StatusHttpServer&) = delete;
    StatusHttpServer& operator=(const StatusHttpServer&) = delete;

    // Names besides the loopback ones and the address reached that a request's Host may give.
    void setHostNames(const QStringList& names);
    // Binds host:port (port 0: any free one) and starts serving. False, with the reason in *error.
    bool start(const QString& host, int port, QString* error);
    // Waits for the server's thread; connections still open are closed.
    void stop();
    // The port bound; 0 when not serving.
    int port() const { return port_; }
    const Handler& handler() const { return handler_; }

    // The library's callbacks; the server's thread.
    bool hostAccepted(MHD_Connection* connection) const;
    void connectionOpened(MHD_Connection* connection);
    void connectionClosed(MHD_Connection* connection);
    void headArrived(MHD_Connection* connection);
    void requestEnded(MHD_Connection* connection);

private:
    struct Head {
        int fd = -1;
        std::chrono::steady_clock::time_point since;
        bool arrived = false;
        bool cut = false;
    };
    void sweep();

    Handler handler_;
    std::chrono::milliseconds headDeadline_;
    std::vector<std::string> hostNames_;  // lower case; read by the server's thread while it runs
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
    // The connections whose head is awaited. The library tells of a close before it closes the
    // descriptor, so a descriptor found here under the lock is still the connection's own.
    vx::Mutex headsMutex_;
    std::condition_variable sweepWake_;
    bool sweeping_ GUARDED_BY(headsMutex_) = false;
    std::map<MHD_Connection*, Head> heads_ GUARDED_BY(headsMutex_);
    std::thread sweeper_;
};

}  // namespace vx::status
