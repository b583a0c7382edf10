#include "status/StatusHttpServer.h"

#include <microhttpd.h>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vx::status {

namespace {

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
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
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
    const StatusHttpServer::Response r = static_cast<const StatusHttpServer*>(self)->handler()(method, url);
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
    daemon_ = MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD, 0, nullptr, nullptr, &answer, this,
                               MHD_OPTION_LISTEN_SOCKET, MHD_socket(fd), MHD_OPTION_CONNECTION_LIMIT,
                               kMaxConnections, MHD_OPTION_CONNECTION_TIMEOUT, kIdleTimeoutSeconds,
                               MHD_OPTION_CONNECTION_MEMORY_LIMIT, kRequestMemory, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        ::close(fd);
        *error = QStringLiteral("the HTTP server did not start");
        return false;
    }
    port_ = bound;
    return true;
}

void StatusHttpServer::stop() {
    if (daemon_ != nullptr) {
        MHD_stop_daemon(daemon_);  // closes the listening socket too
        daemon_ = nullptr;
    }
    port_ = 0;
}

}  // namespace vx::status
