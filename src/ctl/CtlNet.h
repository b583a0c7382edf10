// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// What both of vandorixctl's ports need: plain POSIX sockets, errors on standard error.
namespace vx::ctl {

// A decimal integer from low to high, nothing else in the text.
bool parseInt(const char* text, int low, int high, int& out);
// A connected TCP socket, or -1 with the reason on standard error (unless quiet).
int connectTo(const std::string& host, int port, bool quiet = false);
bool sendAll(int fd, const std::string& bytes);
// Reads until the peer closes, is quiet for quietMs after some data, or waitMs have passed.
std::string readAnswer(int fd, int waitMs, int quietMs);

// Where a port of the installed service is, found without flags: the environment variable (VANDORIX_REMOTE,
// VANDORIX_STATUS: HOST:PORT, [IPV6]:PORT or PORT) first, else the service's configuration file (
// VANDORIX_CONFIG, default /etc/vandorixserver/vandorixserver.conf) where this user may read it, else the
// station's defaults. An address that listens on every interface is reached on loopback. False with the
// reason on standard error when a value is not understood.
struct Endpoint {
    std::string host = "127.0.0.1";
    int port = 0;
};
enum class PortKind { Remote, Status };
bool findEndpoint(PortKind kind, Endpoint& out);

}  // namespace vx::ctl
