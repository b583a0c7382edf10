// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The directory's HTTP side (libmicrohttpd): the station's requests on ".../index.php", the listing on
// "/", "/api/stations", "/stations.m3u", "/stations.pls" and "index.php?action=list".
//
// The station's requests are read from the raw request target (libmicrohttpd's URI log hook hands it
// over before the library splits or unescapes anything). Every connection has 10 s to complete its
// request, and one address holds at most 32 connections at once.
//
// Thread contract: start() and stop() from one thread; requests are answered on the library's pool.
#include "directory/DirectoryOptions.h"
#include "directory/DirectoryService.h"

#include <cstdint>
#include <functional>
#include <string>

struct MHD_Daemon;
struct MHD_Connection;

namespace vx::directory {

class DirectoryHttpServer {
public:
    DirectoryHttpServer(const DirectoryOptions& options, DirectoryService& service, DirectoryStore& store);
    ~DirectoryHttpServer();
    DirectoryHttpServer(const DirectoryHttpServer&) = delete;
    DirectoryHttpServer& operator=(const DirectoryHttpServer&) = delete;

    // False with `error` (the system's reason) when the address cannot be bound.
    bool start(std::string& error);
    void stop();
    int port() const { return port_; }

    struct Response {
        unsigned status = 200;
        std::string contentType;
        std::string body;
        bool cors = false;
    };
    // One request, as the library hands it over (public for the library's callbacks).
    Response respond(MHD_Connection* connection, const std::string& method, const std::string& rawTarget,
                     std::string& logNote);

    // Where each request's line goes (standard error by default); never with the query.
    std::function<void(const std::string&)> OnLog;

private:
    std::string clientAddress(MHD_Connection* connection, bool& viaTrustedProxy) const;

    const DirectoryOptions& options_;
    DirectoryService& service_;
    DirectoryStore& store_;
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
};

// The client behind a chain of proxies: the right-most X-Forwarded-For entry that is not a trusted
// proxy; when every entry is trusted, the left-most. Empty when the header names no address.
std::string forwardedClient(const std::string& forwardedFor, const std::vector<AddressRange>& trusted);

// Text from others (a path, a name) made safe for one log line: control characters escaped.
std::string logSafe(const std::string& text);

}  // namespace vx::directory
