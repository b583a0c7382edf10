// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/DirectoryHttpServer.h"

#include "directory/ListingPages.h"
#include "platform/AddressText.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vx::directory {

namespace {

constexpr int kListenBacklog = 4096;
constexpr unsigned kPoolThreads = 4;
constexpr unsigned kMaxConnections = 8000;
constexpr unsigned kMaxPerAddress = 32;
constexpr unsigned kRequestSeconds = 10;
constexpr std::size_t kRequestMemory = 16 * 1024;  // a head beyond it is refused by the library

struct RequestState {
    std::string rawTarget;
    bool answered = false;
};

void* keepRawTarget(void* /*self*/, const char* uri, MHD_Connection* /*connection*/) {
    auto* state = new RequestState;
    state->rawTarget = uri == nullptr ? std::string() : std::string(uri);
    return state;
}

void requestCompleted(void* /*self*/, MHD_Connection* /*connection*/, void** state,
                      MHD_RequestTerminationCode /*code*/) {
    delete static_cast<RequestState*>(*state);
    *state = nullptr;
}

MHD_Result answer(void* self, MHD_Connection* connection, const char* /*url*/, const char* method,
                  const char* /*version*/, const char* /*uploadData*/, std::size_t* uploadSize,
                  void** state) {
    auto* request = static_cast<RequestState*>(*state);
    if (request == nullptr) {
        return MHD_NO;
    }
    if (request->answered) {
        *uploadSize = 0;  // a body nobody asked for is ignored
        return MHD_YES;
    }
    request->answered = true;
    auto* server = static_cast<DirectoryHttpServer*>(self);
    std::string note;
    DirectoryHttpServer::Response r;
    try {
        r = server->respond(connection, method, request->rawTarget, note);
    } catch (const std::exception&) {
        // Nothing may unwind into the library; a station reads this as a failed request.
        r = {500, "text/plain; charset=utf-8", "E209 the directory failed to answer, try again later\n",
             false};
    }
    MHD_Response* response = MHD_create_response_from_buffer(r.body.size(), const_cast<char*>(r.body.data()),
                                                             MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, r.contentType.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache, no-store");
    if (r.cors) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ACCESS_CONTROL_ALLOW_ORIGIN, "*");
    }
    if (r.status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    }
    const MHD_Result queued = MHD_queue_response(connection, r.status, response);
    MHD_destroy_response(response);
    return queued;
}

int listenOn(const std::string& host, int port, std::string& error) {
    sockaddr_storage address{};
    socklen_t length = 0;
    int family = AF_INET6;
    const std::optional<in6_addr> parsed =
        host.empty() ? std::optional<in6_addr>(in6addr_any) : parseAddress(host);
    if (!parsed) {
        error = host + ": not an address";
        return -1;
    }
    if (IN6_IS_ADDR_V4MAPPED(&*parsed)) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(uint16_t(port));
        std::memcpy(&v4->sin_addr, &parsed->s6_addr[12], 4);
        length = sizeof *v4;
        family = AF_INET;
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(uint16_t(port));
        v6->sin6_addr = *parsed;
        length = sizeof *v6;
    }
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    const int on = 1;
    const int off = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);  // a restart finds the port free
    if (family == AF_INET6) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);  // IPv4 peers too
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, kListenBacklog) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
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

DirectoryHttpServer::Response text(unsigned status, std::string body) {
    return {status, "text/plain; charset=utf-8", std::move(body), false};
}

std::string pathOf(const std::string& target) {
    return target.substr(0, target.find('?'));
}

std::string trim(const std::string& s) {
    const std::size_t begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return {};
    }
    return s.substr(begin, s.find_last_not_of(" \t") - begin + 1);
}

bool trusted(const std::string& address, const std::vector<AddressRange>& ranges) {
    const std::optional<in6_addr> a = parseAddress(address);
    if (!a) {
        return false;
    }
    for (const AddressRange& r : ranges) {
        if (r.contains(*a)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string forwardedClient(const std::string& forwardedFor, const std::vector<AddressRange>& ranges) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start <= forwardedFor.size()) {
        const std::size_t comma = forwardedFor.find(',', start);
        const std::string entry = trim(forwardedFor.substr(start, comma - start));
        const std::optional<in6_addr> a = parseAddress(entry);
        if (!a) {
            return {};  // a list we cannot read names nobody we could believe
        }
        entries.push_back(addressString(*a));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (!trusted(*it, ranges)) {
            return *it;
        }
    }
    return entries.empty() ? std::string() : entries.front();
}

std::string logSafe(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

DirectoryHttpServer::DirectoryHttpServer(const DirectoryOptions& options, DirectoryService& service,
                                         DirectoryStore& store)
    : options_(options), service_(service), store_(store) {}

DirectoryHttpServer::~DirectoryHttpServer() {
    stop();
}

bool DirectoryHttpServer::start(std::string& error) {
    const int fd = listenOn(options_.listenHost, options_.listenPort, error);
    if (fd < 0) {
        return false;
    }
    port_ = boundPort(fd);
    daemon_ = MHD_start_daemon(
        MHD_USE_EPOLL_INTERNAL_THREAD, 0, nullptr, nullptr, &answer, this, MHD_OPTION_LISTEN_SOCKET,
        MHD_socket(fd), MHD_OPTION_THREAD_POOL_SIZE, kPoolThreads, MHD_OPTION_CONNECTION_LIMIT,
        kMaxConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxPerAddress, MHD_OPTION_CONNECTION_TIMEOUT,
        kRequestSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, kRequestMemory, MHD_OPTION_URI_LOG_CALLBACK,
        &keepRawTarget, this, MHD_OPTION_NOTIFY_COMPLETED, &requestCompleted, this, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        ::close(fd);
        port_ = 0;
        error = "the HTTP server did not start";
        return false;
    }
    return true;
}

void DirectoryHttpServer::stop() {
    if (daemon_ != nullptr) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }
}

std::string DirectoryHttpServer::clientAddress(MHD_Connection* connection, bool& viaTrustedProxy) const {
    viaTrustedProxy = false;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info == nullptr || info->client_addr == nullptr) {
        return {};
    }
    sockaddr_storage peer{};
    std::memcpy(&peer, info->client_addr,
                info->client_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    const std::string address = vx::addressText(peer);
    if (options_.trustedProxies.empty() || !trusted(address, options_.trustedProxies)) {
        return address;
    }
    viaTrustedProxy = true;
    const char* forwarded = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Forwarded-For");
    const std::string client =
        forwarded == nullptr ? std::string() : forwardedClient(forwarded, options_.trustedProxies);
    return client.empty() ? address : client;
}

DirectoryHttpServer::Response DirectoryHttpServer::respond(MHD_Connection* connection,
                                                           const std::string& method,
                                                           const std::string& rawTarget,
                                                           std::string& logNote) {
    bool viaProxy = false;
    const std::string client = clientAddress(connection, viaProxy);
    const std::string path = pathOf(rawTarget);
    Response r;
    if (method != "GET" && method != "HEAD") {
        r = text(MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD.\n");
    } else if (isStationScriptPath(path)) {
        const std::string query =
            rawTarget.size() > path.size() ? rawTarget.substr(path.size() + 1) : std::string();
        if (query == "action=list") {
            try {
                const int64_t now = unixNow();
                r = text(200, listingPlain(
                                  listedStations(store_.listed(now), now, options_.allowPrivateStations)));
            } catch (const StoreError&) {
                r = text(503, "The list cannot be read now; try again in a minute.\n");
            }
            logNote = "list";
        } else {
            DirectoryService::Answer a = service_.answer(query, client);
            r = text(200, std::move(a.body));
            logNote = std::move(a.logNote);
        }
    } else if (path == "/" || path == "/index.html" || path == "/api/stations" || path == "/stations.m3u" ||
               path == "/stations.pls") {
        try {
            const int64_t now = unixNow();
            const std::vector<ListedStation> stations =
                listedStations(store_.listed(now), now, options_.allowPrivateStations);
            if (path == "/api/stations") {
                r = {200, "application/json", listingJson(stations), true};
            } else if (path == "/stations.m3u") {
                r = {200, "audio/x-mpegurl", listingM3u(stations), true};
            } else if (path == "/stations.pls") {
                r = {200, "audio/x-scpls", listingPls(stations), true};
            } else {
                const char* proto =
                    viaProxy ? MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Forwarded-Proto")
                             : nullptr;
                const bool https = options_.publicUrl.starts_with("https://") ||
                                   (proto != nullptr && std::string(proto) == "https");
                r = {200, "text/html; charset=utf-8", listingPage(stations, https), false};
            }
        } catch (const StoreError&) {
            r = text(503, "The list cannot be read now; try again in a minute.\n");
        }
    } else {
        r = text(
            404,
            "Not found: try /, /api/stations, /stations.m3u, /stations.pls or /index.php?action=list.\n");
    }
    if (OnLog) {
        OnLog(client + " " + method + " " + logSafe(path) + " " + std::to_string(r.status) +
              (logNote.empty() ? std::string() : " " + logSafe(logNote)));
    }
    return r;
}

}  // namespace vx::directory
