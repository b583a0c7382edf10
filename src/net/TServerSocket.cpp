// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/TServerSocket.h"

#include "platform/AddressText.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <string>

namespace {

constexpr uint64_t kListenerId = 0;
constexpr uint64_t kWakeId = ~uint64_t(0);
constexpr int kEventBatch = 256;
// When the process runs out of descriptors, accepting pauses this long instead of spinning on the
// listening socket that stays readable.
constexpr int kAcceptPauseMs = 100;
// Deadlines of silent peers closer together than this are handled in one wake-up: a crowd that arrived
// within seconds would otherwise wake the thread once for each of them.
constexpr int kSilenceBatchMs = 250;

}  // namespace

TServerSocket::TServerSocket()
    : context_(std::make_unique<QObject>()), link_(std::make_shared<ServerLink>()) {
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ < 0) {
        throw ESocketError::fromCode(errno, "epoll_create1");
    }
    const int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.u64 = kWakeId;
    if (wakeFd < 0 || ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd, &wake) != 0) {
        const int code = errno;
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
        ::close(epollFd_);
        throw ESocketError::fromCode(code, "eventfd");
    }
    notifier_ = new QSocketNotifier(qintptr(epollFd_), QSocketNotifier::Read, context_.get());
    QObject::connect(notifier_, &QSocketNotifier::activated, context_.get(), [this] { onNotifier(); });
    acceptRetry_ = new QTimer(context_.get());
    acceptRetry_->setSingleShot(true);
    acceptRetry_->setInterval(kAcceptPauseMs);
    QObject::connect(acceptRetry_, &QTimer::timeout, context_.get(), [this] {
        if (listenFd_ >= 0) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u64 = kListenerId;
            ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, listenFd_, &ev);
        }
    });
    silenceCheck_ = new QTimer(context_.get());
    silenceCheck_->setSingleShot(true);
    QObject::connect(silenceCheck_, &QTimer::timeout, context_.get(), [this] { CheckDeadlines(); });
    vx::MutexLock lock(link_->mutex);
    link_->server = this;
    link_->wakeFd = wakeFd;
}

TServerSocket::~TServerSocket() {
    {
        vx::MutexLock lock(link_->mutex);
        link_->server = nullptr;
        link_->pendingReleases.clear();
    }
    releaseAll();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
    context_.reset();
    ::close(link_->wakeFd);
    ::close(epollFd_);
}

void TServerSocket::SetActive(bool active) {
    if (active == Active()) {
        return;
    }
    if (!active) {
        releaseAll();
        acceptRetry_->stop();
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, listenFd_, nullptr);
        const int fd = listenFd_;
        listenFd_ = -1;
        if (::close(fd) != 0) {
            throw ESocketError::fromCode(errno, "closesocket");
        }
        return;
    }

    sockaddr_storage addr{};
    socklen_t addrLen = 0;
    const bool v6 = Address.find(':') != std::string::npos;
    if (v6) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&addr);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(uint16_t(Port));
        addrLen = sizeof(sockaddr_in6);
        if (::inet_pton(AF_INET6, Address.c_str(), &a6->sin6_addr) != 1) {
            throw ESocketError::fromCode(EINVAL, "bind");
        }
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&addr);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_ANY);
        a4->sin_port = htons(uint16_t(Port));
        addrLen = sizeof(sockaddr_in);
        if (!Address.empty() && ::inet_pton(AF_INET, Address.c_str(), &a4->sin_addr) != 1) {
            throw ESocketError::fromCode(EINVAL, "bind");
        }
    }
    if (Port < 0 || Port > 65535) {
        throw ESocketError::fromCode(EINVAL, "bind");
    }
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw ESocketError::fromCode(errno, "socket");
    }
    auto fail = [this, fd](const char* api) {
        const int code = errno;
        ::close(fd);
        ESocketError error = ESocketError::fromCode(code, api);
        if (!Name.empty()) {
            error.about(Name + " port " + std::to_string(Port));
        }
        return error;
    };
    // Connections this server closed linger in TIME_WAIT; without this a stop and restart of the
    // broadcast would fail for a minute. A port another socket listens on still fails the bind.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (v6) {
        // The system's default may be v6-only; every address means the IPv4 peers as well.
        const int off = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), addrLen) != 0) {
        throw fail("bind");
    }
    // A burst of listeners connecting at once must not be turned away by the kernel.
    if (::listen(fd, SOMAXCONN) != 0) {
        throw fail("listen");
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kListenerId;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
        throw fail("epoll_ctl");
    }
    listenFd_ = fd;
}

int TServerSocket::LocalPort() const {
    if (listenFd_ < 0) {
        return 0;
    }
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return 0;
    }
    return addr.ss_family == AF_INET6 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port)
                                      : ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
}

int TServerSocket::ConnectionCount() const {
    vx::MutexLock lock(listMutex_);
    return int(list_.size());
}

std::shared_ptr<TServerClientWinSocket> TServerSocket::ConnectionAt(int i) const {
    vx::MutexLock lock(listMutex_);
    if (i < 0 || std::size_t(i) >= list_.size()) {
        return nullptr;
    }
    return list_[std::size_t(i)];
}

std::vector<std::shared_ptr<TServerClientWinSocket>> TServerSocket::Connections() const {
    vx::MutexLock lock(listMutex_);
    return list_;
}

std::shared_ptr<const TServerSocket::ConnectionSnapshot> TServerSocket::Snapshot() const {
    vx::MutexLock lock(listMutex_);
    if (!snapshot_) {
        snapshot_ = std::make_shared<const ConnectionSnapshot>(ConnectionSnapshot{generation_, list_});
    }
    return snapshot_;
}

void TServerSocket::SessionsChanged() {
    vx::MutexLock lock(listMutex_);
    listChanged();
}

void TServerSocket::listChanged() {
    ++generation_;
    snapshot_.reset();  // the connections it holds go with the last copy handed out
}

void TServerSocket::onNotifier() {
    epoll_event events[kEventBatch];
    const int n = ::epoll_wait(epollFd_, events, kEventBatch, 0);
    for (int i = 0; i < n; ++i) {
        const uint64_t id = events[i].data.u64;
        if (id == kWakeId) {
            releasePending();
            continue;
        }
        if (id == kListenerId) {
            if (listenFd_ >= 0) {
                acceptAll();
            }
            continue;
        }
        // A connection released earlier in this batch (or closed from another thread) is no longer
        // known by its id; its notice is stale.
        const auto it = byId_.find(id);
        if (it == byId_.end()) {
            continue;
        }
        const std::shared_ptr<TServerClientWinSocket> conn = it->second;  // alive through the handlers
        handleConnectionEvent(conn, events[i].events);
    }
}

void TServerSocket::acceptAll() {
    while (listenFd_ >= 0) {
        sockaddr_storage addr{};
        socklen_t len = sizeof addr;
        const int fd =
            ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED) {
                continue;
            }
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                pauseAccepting();
            }
            return;  // would block, or a failed accept: the peer simply is not taken
        }
        if (full()) {
            ::close(fd);  // refused: the peer sees its connection end at once
            continue;
        }
        const QString peer = QString::fromStdString(vx::addressText(addr));
        if (peerFull(peer)) {
            ::close(fd);
            continue;
        }
        const uint64_t id = IdBase + nextId_++;
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u64 = id;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
            ::close(fd);
            continue;
        }
        std::shared_ptr<TServerClientWinSocket> conn(
            new TServerClientWinSocket(fd, epollFd_, id, peer, link_, NewUserData ? NewUserData() : nullptr));
        {
            vx::MutexLock lock(listMutex_);
            list_.push_back(conn);
            listChanged();
        }
        byId_.emplace(id, conn);
        awaitFirstData(conn);
        if (OnClientConnect) {
            OnClientConnect(this, conn);
        }
    }
}

void TServerSocket::pauseAccepting() {
    epoll_event ev{};
    ev.events = 0;
    ev.data.u64 = kListenerId;
    ::epoll_ctl(epollFd_, EPOLL_CTL_MOD, listenFd_, &ev);
    acceptRetry_->start();
}

void TServerSocket::handleConnectionEvent(const std::shared_ptr<TServerClientWinSocket>& conn,
                                          uint32_t events) {
    if (events & EPOLLERR) {
        int error = 0;
        socklen_t len = sizeof error;
        const int fd = conn->SocketHandle();
        if (fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error != 0) {
            asyncError(
                conn, (events & (EPOLLHUP | EPOLLRDHUP)) ? TErrorEvent::eeDisconnect : TErrorEvent::eeReceive,
                error);
            return;
        }
    }
    if ((events & EPOLLIN) && conn->available() > 0) {
        conn->dataArrived_ = true;
        if (OnClientRead) {
            OnClientRead(this, conn);
        } else {
            conn->ReadAvailableText();  // nobody listens: drop it rather than be woken for it forever
        }
        return;
    }
    if (events & (EPOLLHUP | EPOLLRDHUP)) {
        conn->CloseConnection();  // closed by the peer, everything it sent has been read
    }
}

bool TServerSocket::full() const {
    if (MaxConnections <= 0) {
        return false;
    }
    vx::MutexLock lock(listMutex_);
    // Closed connections whose release is still queued hold no peer.
    return std::count_if(list_.begin(), list_.end(), [](const auto& c) { return c->IsOpen(); }) >=
           MaxConnections;
}

bool TServerSocket::peerFull(const QString& address) const {
    if (MaxConnectionsPerPeer <= 0) {
        return false;
    }
    vx::MutexLock lock(listMutex_);
    return std::count_if(list_.begin(), list_.end(), [&](const auto& c) {
               return c->IsOpen() && c->PeerAddress() == address;
           }) >= MaxConnectionsPerPeer;
}

void TServerSocket::RequestDone(const std::shared_ptr<TServerClientWinSocket>& conn) {
    // The deadline under way finds this when it is due and sets the next one from here.
    conn->requestDoneAt_ = Clock();
}

void TServerSocket::KeepOpen(const std::shared_ptr<TServerClientWinSocket>& conn) {
    conn->requestDoneAt_ = std::chrono::steady_clock::time_point::max();
}

void TServerSocket::awaitFirstData(const std::shared_ptr<TServerClientWinSocket>& conn) {
    const auto now = Clock();
    if (FirstDataTimeoutMs > 0) {
        addDeadline(now + std::chrono::milliseconds(FirstDataTimeoutMs), conn, false);
    }
    if (RequestTimeoutMs > 0) {
        addDeadline(now + std::chrono::milliseconds(RequestTimeoutMs), conn, true);
    }
}

void TServerSocket::addDeadline(std::chrono::steady_clock::time_point due,
                                const std::shared_ptr<TServerClientWinSocket>& conn, bool request) {
    const FirstDataDeadline entry{due, conn, request};
    // Kept in order of the deadlines; with one timeout that is the order of arrival, so this appends.
    const auto at = std::upper_bound(silent_.begin(), silent_.end(), entry,
                                     [](const auto& a, const auto& b) { return a.due < b.due; });
    const bool earliest = at == silent_.begin();
    silent_.insert(at, entry);
    if (earliest) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock());
        silenceCheck_->start(int(std::max<int64_t>(0, wait.count())));
    }
}

void TServerSocket::CheckDeadlines() {
    const auto now = Clock();
    while (!silent_.empty() && silent_.front().due <= now) {
        const FirstDataDeadline entry = silent_.front();
        const std::shared_ptr<TServerClientWinSocket> conn = entry.connection.lock();
        silent_.pop_front();
        if (!conn || !conn->IsOpen()) {
            continue;
        }
        if (entry.request) {
            if (RequestTimeoutMs <= 0 ||
                conn->requestDoneAt_ == std::chrono::steady_clock::time_point::max()) {
                continue;
            }
            const auto next = conn->requestDoneAt_ + std::chrono::milliseconds(RequestTimeoutMs);
            if (next > now) {
                addDeadline(next, conn, true);
            } else {
                conn->CloseConnection();
            }
            continue;
        }
        // Bytes that arrived just now but whose notice is not handled yet count as sent in time.
        if (!conn->dataArrived_ && conn->available() == 0) {
            conn->CloseConnection();
        }
    }
    if (!silent_.empty()) {
        silenceCheck_->start(
            std::max(kSilenceBatchMs,
                     int(std::chrono::ceil<std::chrono::milliseconds>(silent_.front().due - now).count())));
    }
}

void TServerSocket::asyncError(const std::shared_ptr<TServerClientWinSocket>& conn, TErrorEvent kind,
                               int code) {
    int errorCode = code;
    if (OnClientError) {
        OnClientError(this, conn, kind, errorCode);
    }
    // The socket carries a pending error (reset, timed out, unreachable): it can neither be read nor
    // written again, so it is closed rather than left in the list as a ghost that keeps a descriptor.
    conn->CloseConnection();
    if (errorCode != 0) {
        throw ESocketError("Asynchronous socket error " + std::to_string(errorCode));
    }
}

void TServerSocket::releasePending() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(link_->wakeFd, &count, sizeof count);
    std::vector<uint64_t> ids;
    {
        vx::MutexLock lock(link_->mutex);
        ids.swap(link_->pendingReleases);
    }
    for (const uint64_t id : ids) {
        release(id);
    }
}

void TServerSocket::release(uint64_t id) {
    byId_.erase(id);
    vx::MutexLock lock(listMutex_);
    const auto it = std::find_if(list_.begin(), list_.end(), [id](const auto& c) { return c->id_ == id; });
    if (it != list_.end()) {
        list_.erase(it);
        listChanged();
    }
}

void TServerSocket::releaseAll() {
    std::vector<std::shared_ptr<TServerClientWinSocket>> all;
    std::shared_ptr<const ConnectionSnapshot> snapshot;  // its connections go here, newest first, too
    {
        vx::MutexLock lock(listMutex_);
        all.swap(list_);
        snapshot.swap(snapshot_);
        listChanged();
    }
    snapshot.reset();
    byId_.clear();
    silent_.clear();
    silenceCheck_->stop();
    // Newest first: each object goes (with its user data) unless another thread still holds a copy.
    while (!all.empty()) {
        all.back()->closeSocket();
        all.pop_back();
    }
}
