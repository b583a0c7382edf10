// SPDX-License-Identifier: GPL-3.0-or-later
#include "LocalHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace vxtest {

namespace {

int listenOnLoopback(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

// Complete when the headers have ended and as many body bytes as Content-Length announced are in.
bool parseComplete(const QByteArray& data, LocalHttpServer::Request& out) {
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0) {
        return false;
    }
    LocalHttpServer::Request r;
    r.raw = data;
    r.requestLine = data.left(data.indexOf("\r\n"));
    const qsizetype length = r.header("Content-Length").trimmed().toLongLong();
    if (data.size() < end + 4 + length) {
        return false;
    }
    r.body = data.mid(end + 4, length);
    r.raw = data.left(end + 4 + length);
    out = r;
    return true;
}

void sendAll(int fd, const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, std::size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += n;
    }
}

}  // namespace

QByteArray LocalHttpServer::Request::header(const QByteArray& name) const {
    const QList<QByteArray> lines = raw.left(raw.indexOf("\r\n\r\n")).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).compare(name, Qt::CaseInsensitive) == 0) {
            return line.mid(colon + 1).trimmed();
        }
    }
    return {};
}

bool LocalHttpServer::Request::hasHeader(const QByteArray& name) const {
    const QList<QByteArray> lines = raw.left(raw.indexOf("\r\n\r\n")).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0 && lines[i].left(colon).compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

QByteArray LocalHttpServer::Request::target() const {
    const QList<QByteArray> words = requestLine.split(' ');
    return words.size() >= 2 ? words[1] : QByteArray();
}

LocalHttpServer::LocalHttpServer() {
    listenFd_ = listenOnLoopback(port_);
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    handler_ = [](const Request&) { return std::optional<QByteArray>(response("OK")); };
    thread_ = std::thread([this] { run(); });
}

LocalHttpServer::~LocalHttpServer() {
    const char stop = 1;
    (void)::write(wakeFds_[1], &stop, 1);
    thread_.join();
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
}

QString LocalHttpServer::origin() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port_);
}

void LocalHttpServer::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void LocalHttpServer::answerWith(const QByteArray& body) {
    setHandler([body](const Request&) { return std::optional<QByteArray>(response(body)); });
}

std::vector<LocalHttpServer::Request> LocalHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

int LocalHttpServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return int(requests_.size());
}

QByteArray LocalHttpServer::response(const QByteArray& body, const QByteArray& status, bool withLength) {
    QByteArray out = status + "\r\nContent-Type: text/html\r\n";
    if (withLength) {
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    return out + "\r\n" + body;
}

uint16_t LocalHttpServer::closedPort() {
    uint16_t port = 0;
    ::close(listenOnLoopback(port));
    return port;
}

void LocalHttpServer::run() {
    using Clock = std::chrono::steady_clock;
    struct Client {
        int fd;
        QByteArray data;
        bool answered;
        QByteArray trickled;  // what is still to go out, one byte at a time
        Clock::time_point next;
    };
    std::vector<Client> clients;
    auto closeClient = [this](Client& c) {
        ::close(c.fd);
        c.fd = -1;
        --open_;
    };
    for (;;) {
        std::vector<pollfd> fds{{wakeFds_[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
        int timeoutMs = -1;
        const Clock::time_point now = Clock::now();
        for (const Client& c : clients) {
            fds.push_back({c.fd, POLLIN, 0});
            if (!c.trickled.isEmpty()) {
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(c.next - now).count();
                timeoutMs = std::max(0, timeoutMs < 0 ? int(wait) : std::min(timeoutMs, int(wait)));
            }
        }
        if (::poll(fds.data(), nfds_t(fds.size()), timeoutMs) < 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back({fd, {}, false, {}, {}});
                ++connections_;
                ++open_;
            }
        }
        // Only the clients that were polled; one accepted just now waits for the next round.
        const std::size_t polled = fds.size() - 2;
        for (std::size_t i = 0; i < polled; ++i) {
            Client& c = clients[i];
            if (!c.trickled.isEmpty() && Clock::now() >= c.next) {
                if (::send(c.fd, c.trickled.constData(), 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1) {
                    closeClient(c);
                    continue;
                }
                c.trickled.remove(0, 1);
                c.next += std::chrono::milliseconds(trickleMs_.load());
                if (c.trickled.isEmpty()) {
                    closeClient(c);
                    continue;
                }
            }
            if (fds[i + 2].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closeClient(c);
                continue;
            }
            c.data.append(buffer, n);
            Request request;
            if (c.answered || !parseComplete(c.data, request)) {
                continue;
            }
            c.answered = true;
            Handler handler;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
                handler = handler_;
            }
            if (const std::optional<QByteArray> answer = handler(request)) {
                if (trickleMs_.load() > 0 && !answer->isEmpty()) {
                    c.trickled = *answer;
                    c.next = Clock::now();
                    continue;
                }
                sendAll(c.fd, *answer);
                closeClient(c);
            }
        }
        std::erase_if(clients, [](const Client& c) { return c.fd < 0; });
    }
    for (const Client& c : clients) {
        ::close(c.fd);
    }
}

}  // namespace vxtest
