// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vxtest {

// A small HTTP server on 127.0.0.1 (ephemeral port) on a thread of its own. It records every request
// exactly as it arrived and answers with whatever the handler returns; a handler that returns nothing
// leaves the connection open without an answer until the client gives up or the server stops.
class LocalHttpServer {
public:
    struct Request {
        QByteArray raw;          // request line, headers and body as received
        QByteArray requestLine;  // without CRLF
        QByteArray body;
        // Value of the first header of that name (case-insensitive); empty when absent.
        QByteArray header(const QByteArray& name) const;
        bool hasHeader(const QByteArray& name) const;
        QByteArray target() const;  // second word of the request line
    };
    using Handler = std::function<std::optional<QByteArray>(const Request&)>;

    LocalHttpServer();
    ~LocalHttpServer();

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>"
    QString origin() const;

    void setHandler(Handler handler);
    // Answers every request with this body ("HTTP/1.0 200 OK", Content-Length).
    void answerWith(const QByteArray& body);
    // From now on every answer goes out one byte each intervalMs (0: at once), as a slow server sends.
    void trickle(int intervalMs) { trickleMs_ = intervalMs; }

    std::vector<Request> requests() const;
    int requestCount() const;
    int connectionCount() const { return connections_.load(); }
    // Connections accepted and not yet closed by either side.
    int openConnections() const { return open_.load(); }

    // A full response: status line, Content-Length when withLength, the body.
    static QByteArray response(const QByteArray& body, const QByteArray& status = "HTTP/1.0 200 OK",
                               bool withLength = true);

    // A port on 127.0.0.1 where nothing listens.
    static uint16_t closedPort();

private:
    void run();

    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    Handler handler_;
    std::vector<Request> requests_;
    std::atomic<int> connections_{0};
    std::atomic<int> open_{0};
    std::atomic<int> trickleMs_{0};
};

}  // namespace vxtest
