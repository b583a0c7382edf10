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

}  // namespace vx::ctl
