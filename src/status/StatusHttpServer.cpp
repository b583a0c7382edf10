// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusHttpServer.h"

#include "platform/AddressText.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace vx::status {

using Response = StatusHttpServer::Response;

namespace {

// A flood of connects that the per-peer limit closes at once must not fill the queue before them and
// drop a legitimate client's connect with it.
constexpr int kListenBacklog = 1024;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The numeric address this connection reached, as a Host header would give it.
std::string reachedAddress(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    return vx::addressText(address);
}

int connectionFd(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    return info == nullptr ? -1 : int(info->connect_fd);
}

void notifyConnection(void* self, MHD_Connection* connection, void** /*socketContext*/,
                      MHD_ConnectionNotificationCode code) {
    auto* server = static_cast<StatusHttpServer*>(self);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        server->connectionOpened(connection);
    } else {
        server->connectionClosed(connection);
    }
}

void requestCompleted(void* self, MHD_Connection* connection, void** /*state*/,
                      MHD_RequestTerminationCode /*code*/) {
    static_cast<StatusHttpServer*>(self)->requestEnded(connection);
}

Response misdirected() {
    return http::plainText(421, "This server does not answer for that host name.");
}

// A socket bound and listening on host:port, or -1 with the reason. Bound here rather than by the
// library, so a port in use is reported with the system's own words.
int listenOn(const QString& host, int port, QString* error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const QByteArray hostBytes = host.toUtf8();
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(hostBytes.constData(), service.c_str(), &hints, &found); rc != 0) {
        *error = QString::fromUtf8(::gai_strerror(rc));
        return -1;
    }
    int fd = -1;
    int lastErrno = 0;
    for (addrinfo* ai = found; ai != nullptr && fd < 0; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastErrno = errno;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // a restart finds the port free
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, kListenBacklog) != 0) {
            lastErrno = errno;
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(lastErrno));
    }
    return fd;
}

int boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

MHD_Result answer(void* self, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, std::size_t* uploadSize,
                  void** state) {
    // The library calls once for the headers, then for each piece of a body: the answer goes with the
    // first call, and a body (which no path here takes) is skipped.
    if (*state == nullptr) {
        *state = self;
    } else {
        *uploadSize = 0;
        return MHD_YES;
    }
    auto* server = static_cast<StatusHttpServer*>(self);
    server->headArrived(connection);
    const Response r = server->hostAccepted(connection) ? server->handler()(method, url) : misdirected();
    MHD_Response* response = MHD_create_response_from_buffer(
        std::size_t(r.body.size()), const_cast<char*>(r.body.constData()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    if (!r.contentType.isEmpty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, r.contentType.constData());
    }
    for (const auto& [name, value] : r.headers) {
        MHD_add_response_header(response, name.constData(), value.constData());
    }
    const MHD_Result queued = MHD_queue_response(connection, r.status, response);
    MHD_destroy_response(response);
    return queued;
}

}  // namespace

StatusHttpServer::~StatusHttpServer() {
    stop();
}

bool StatusHttpServer::start(const QString& host, int port, QString* error) {
    stop();
    const int fd = listenOn(host, port, error);
    if (fd < 0) {
        return false;
    }
    const int bound = boundPort(fd);
    // One thread of the library's own, watching every connection through epoll: a thousand idle
    // clients cost descriptors up to the limit, not threads.
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD, 0, nullptr, nullptr, &answer, this, MHD_OPTION_LISTEN_SOCKET,
        MHD_socket(fd), MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        kMaxPerPeer, MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kRequestMemory, MHD_OPTION_NOTIFY_CONNECTION, &notifyConnection, this, MHD_OPTION_NOTIFY_COMPLETED,
        &requestCompleted, this, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        ::close(fd);
        *error = QStringLiteral("the HTTP server did not start");
        return false;
    }
    port_ = bound;
    {
        vx::MutexLock lock(headsMutex_);
        sweeping_ = true;
    }
    sweeper_ = std::thread([this] { sweep(); });
    return true;
}

void StatusHttpServer::setHostNames(const QStringList& names) {
    hostNames_.clear();
    for (const QString& name : names) {
        hostNames_.push_back(lower(name.toStdString()));
    }
}

bool StatusHttpServer::hostAccepted(MHD_Connection* connection) const {
    const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    if (value == nullptr) {
        return true;  // HTTP/1.0 without a Host: no browser sends that, so no page can be behind it
    }
    const std::string host = lower(http::hostPart(value));
    return !host.empty() && (http::isLoopbackName(host) || host == reachedAddress(connectionFd(connection)) ||
                             std::find(hostNames_.begin(), hostNames_.end(), host) != hostNames_.end());
}

void StatusHttpServer::connectionOpened(MHD_Connection* connection) {
    vx::MutexLock lock(headsMutex_);
    heads_[connection] = Head{connectionFd(connection), std::chrono::steady_clock::now(), false, false};
}

void StatusHttpServer::connectionClosed(MHD_Connection* connection) {
    vx::MutexLock lock(headsMutex_);
    heads_.erase(connection);
}

void StatusHttpServer::headArrived(MHD_Connection* connection) {
    vx::MutexLock lock(headsMutex_);
    if (const auto it = heads_.find(connection); it != heads_.end()) {
        it->second.arrived = true;
    }
}

void StatusHttpServer::requestEnded(MHD_Connection* connection) {
    // A kept-alive connection's next request gets a deadline of its own.
    vx::MutexLock lock(headsMutex_);
    if (const auto it = heads_.find(connection); it != heads_.end()) {
        it->second.arrived = false;
        it->second.since = std::chrono::steady_clock::now();
    }
}

void StatusHttpServer::sweep() {
    const auto period = std::max(headDeadline_ / 5, std::chrono::milliseconds(50));
    vx::MutexLock lock(headsMutex_);
    while (sweeping_) {
        lock.waitFor(sweepWake_, period);
        const auto now = std::chrono::steady_clock::now();
        for (auto& [connection, head] : heads_) {
            if (!head.arrived && !head.cut && now - head.since >= headDeadline_) {
                // The library sees the end of the stream and closes the connection on its own thread;
                // the descriptor itself stays the library's to close.
                ::shutdown(head.fd, SHUT_RDWR);
                head.cut = true;
            }
        }
    }
}

void StatusHttpServer::stop() {
    if (sweeper_.joinable()) {
        {
            vx::MutexLock lock(headsMutex_);
            sweeping_ = false;
        }
        sweepWake_.notify_all();
        sweeper_.join();
    }
    if (daemon_ != nullptr) {
        MHD_stop_daemon(daemon_);  // closes the listening socket too
        daemon_ = nullptr;
    }
    port_ = 0;
}

}  // namespace vx::status
