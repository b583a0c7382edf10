// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What the two HTTP ports of the station do alike: the status port (loopback, through libmicrohttpd)
// and the public web port (on the listener's epoll server, written by hand). One answer value, the
// plain-text and method answers both give, the head as the web port writes it, and the Host rules.
namespace vx::http {

struct Response {
    unsigned status = 200;
    QByteArray contentType;
    QByteArray body;
    // Further header fields, in the order they go out.
    std::vector<std::pair<QByteArray, QByteArray>> headers;
};

// A short message for people: the text and a line end, as UTF-8 plain text.
Response plainText(unsigned status, const QByteArray& text);
// Both ports only read: GET and HEAD.
bool readsOnly(const QByteArray& method);
// The answer to any other method: 405 with `text` and the methods allowed.
Response methodNotAllowed(const QByteArray& text);

// "HTTP/1.1 200 OK\r\n" and its kin for the codes the ports answer with.
QByteArray statusLine(unsigned status);
// The head: the status line, the type, the length (left out for a stream, whose body runs until the
// connection closes), the further fields in order, and the empty line.
QByteArray head(const Response& r, bool withLength = true);
// The whole answer: the head, then the body unless the request was HEAD.
QByteArray bytes(const Response& r, bool headRequest);

// The host part of a Host header: "name:port", "[::1]:port" or a bare name.
std::string hostPart(std::string_view value);
// A loopback name or address: "localhost" and its subdomains, 127.0.0.0/8, ::1.
bool isLoopbackName(const std::string& host);

}  // namespace vx::http
