#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct MHD_Daemon;

namespace vx::status {

// A small read-only HTTP server on a thread of its own (libmicrohttpd's internal epoll thread). It never
// calls into the station: the handler answers from data published to it.
// Bounded: at most kMaxConnections at once (more are refused at accept), a connection idle for
// kIdleTimeoutSeconds is closed, and a request line with headers over kRequestMemory bytes is answered
// with an error by the library itself.
// Thread contract: start() and stop() on the owner's thread; the handler runs on the server's thread.
class StatusHttpServer {
public:
    static constexpr unsigned kMaxConnections = 64;
    static constexpr unsigned kIdleTimeoutSeconds = 10;
    static constexpr std::size_t kRequestMemory = 16 * 1024;

    struct Response {
        unsigned status = 200;
        QByteArray contentType;
        QByteArray body;
        std::vector<std::pair<QByteArray, QByteArray>> headers;
    };
    // Called with the method ("GET", ...) and the path without its query.
    using Handler = std::function<Response(const std::string& method, const std::string& path)>;

    explicit StatusHttpServer(Handler handler) : handler_(std::move(handler)) {}
    ~StatusHttpServer();
    StatusHttpServer(const StatusHttpServer&) = delete;
    StatusHttpServer& operator=(const StatusHttpServer&) = delete;

    // Binds host:port (port 0: any free one) and starts serving. False, with the reason in *error.
    bool start(const QString& host, int port, QString* error);
    // Waits for the server's thread; connections still open are closed.
    void stop();
    // The port bound; 0 when not serving.
    int port() const { return port_; }
    const Handler& handler() const { return handler_; }

private:
    Handler handler_;
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
};

}  // namespace vx::status
