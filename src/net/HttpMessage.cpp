// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/HttpMessage.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace vx::http {

Response plainText(unsigned status, const QByteArray& text) {
    return {status, "text/plain; charset=utf-8", text + '\n', {}};
}

bool readsOnly(const QByteArray& method) {
    return method == "GET" || method == "HEAD";
}

Response methodNotAllowed(const QByteArray& text) {
    Response r = plainText(405, text);
    r.headers.emplace_back("Allow", "GET, HEAD");
    return r;
}

QByteArray statusLine(unsigned status) {
    switch (status) {
        case 200:
            return "HTTP/1.1 200 OK\r\n";
        case 400:
            return "HTTP/1.1 400 Bad Request\r\n";
        case 404:
            return "HTTP/1.1 404 Not Found\r\n";
        case 405:
            return "HTTP/1.1 405 Method Not Allowed\r\n";
        case 415:
            return "HTTP/1.1 415 Unsupported Media Type\r\n";
        case 421:
            return "HTTP/1.1 421 Misdirected Request\r\n";
        case 431:
            return "HTTP/1.1 431 Request Header Fields Too Large\r\n";
        default:
            return "HTTP/1.1 503 Service Unavailable\r\n";
    }
}

QByteArray head(const Response& r, bool withLength) {
    QByteArray out = statusLine(r.status) + "Content-Type: " + r.contentType + "\r\n";
    if (withLength) {
        out += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
    }
    for (const auto& [name, value] : r.headers) {
        out += name + ": " + value + "\r\n";
    }
    return out + "\r\n";
}

QByteArray bytes(const Response& r, bool headRequest) {
    return headRequest ? head(r) : head(r) + r.body;
}

std::string hostPart(std::string_view value) {
    if (value.starts_with('[')) {
        const std::size_t close = value.find(']');
        return close == std::string_view::npos ? std::string() : std::string(value.substr(1, close - 1));
    }
    return std::string(value.substr(0, value.find(':')));
}

bool isLoopbackName(const std::string& host) {
    if (host == "localhost" || host.ends_with(".localhost") || host == "::1") {
        return true;
    }
    in_addr v4{};
    return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

}  // namespace vx::http
