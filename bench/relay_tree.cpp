// SPDX-License-Identifier: GPL-3.0-or-later
// The station's stream through a tree of icecast2 relays on loopback, with tens of thousands of listeners.
//
// The station (headless, tone device, MP3 copy on) relays to one icecast2, the master. Three more icecast2
// relay the master's mount with icecast's own relay settings: one mirrors the master (<master-server>),
// two relay the mount (<relay>). Load clients, one process per server (each below the descriptor limit),
// spread the listeners over the four servers. Each round measures a window with only the station's ten
// direct listeners and the tree (the baseline), then a window with the whole audience, and prints:
// - per listener whether it received every byte of the window, its bytes compared with the station's MP3
//   copy (aligned by content: an icecast listener joins mid-stream);
// - the station's CPU and RSS with the audience against the baseline;
// - each icecast2's CPU and memory per listener;
// - the delay from a byte's arrival in the station's MP3 copy to its arrival at a listener, per tier, and
//   how far behind live the first byte a new listener gets is (icecast's burst on connect).
// With --restart-master K the master icecast2 is stopped a third into the window and its port answered by
// a stub for K seconds that counts who knocks (the station's source logins, the relays' requests) before
// icecast2 is started again; listeners reconnect 2 s after they lose their stream, as players do.
//
//   bench_relay_tree [--seconds S] [--listeners N] [--burst BYTES] [--rounds R] [--restart-master K]
//   (default: 60 s, 60000 listeners, 8192 bytes, 1 round, no restart)
#include "LoadClient.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using namespace vxbench;

constexpr uint64_t kHashBase = 0x100000001b3ULL;  // any odd number; the hash wraps at 2^64
constexpr std::size_t kHeadBytes = 256;           // what a listener keeps of its first bytes, to align
constexpr std::size_t kKeyBytes = 16;             // the copy's index: each offset by its next 16 bytes

int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

double loadAverage() {
    QFile f(QStringLiteral("/proc/loadavg"));
    f.open(QIODevice::ReadOnly);
    return f.readAll().split(' ').value(0).toDouble();
}

// What one connection of a load client received: enough to find its first byte in the station's copy and
// to check all of its bytes against the copy (a polynomial hash that the copy's prefix sums reproduce
// for any range), and when each part arrived.
struct Reception {
    bool headerDone = false;
    QByteArray header;
    int status = 0;  // the reply's status code; 200 carries the stream
    uint64_t bytes = 0;
    uint64_t hash = 0;
    QByteArray head;
    int64_t opened = 0;
    int64_t first = 0;
    int64_t closed = 0;
    std::vector<std::pair<uint64_t, int64_t>> arrivals;  // bytes received so far, and when
};

void receive(Reception& r, const char* data, std::size_t n) {
    if (!r.headerDone) {
        r.header.append(data, qsizetype(n));
        const qsizetype end = r.header.indexOf("\r\n\r\n");
        if (end < 0) {
            return;
        }
        r.headerDone = true;
        r.status = r.header.split(' ').value(1).toInt();
        const QByteArray rest = r.header.mid(end + 4);
        r.header.clear();
        if (!rest.isEmpty()) {
            receive(r, rest.constData(), std::size_t(rest.size()));
        }
        return;
    }
    const int64_t t = nowNs();
    if (r.bytes == 0) {
        r.first = t;
    }
    if (std::size_t(r.head.size()) < kHeadBytes) {
        r.head.append(data, qsizetype(std::min(n, kHeadBytes - std::size_t(r.head.size()))));
    }
    uint64_t h = r.hash;
    for (std::size_t i = 0; i < n; ++i) {
        h = h * kHashBase + uint8_t(data[i]);
    }
    r.hash = h;
    r.bytes += n;
    r.arrivals.emplace_back(r.bytes, t);
}

// One load client: `count` listeners of one server, a process of its own. Tells the parent on `ready` when
// all have their first bytes, reads from `control` when to end, then writes what each received to `out`.
[[noreturn]] void runClient(int port, int count, bool reconnect, int control, int ready, const char* out) {
    const int asked = count;
    // Opened first: at the end the listeners may have taken every descriptor there is.
    FILE* f = std::fopen(out, "wb");
    std::vector<Reception> rec;
    std::vector<std::pair<int64_t, bool>> lost;  // closed connections, due for their reconnection
    int64_t end = 0;
    Listeners* self = nullptr;
    const QByteArray request = "GET /stream HTTP/1.0\r\nUser-Agent: bench\r\n\r\n";
    Listeners listeners(port, request, [&] {
        if (end == 0) {
            int64_t value = 0;
            if (::read(control, &value, sizeof value) == ssize_t(sizeof value)) {
                end = value;
            }
        }
        if (self == nullptr) {
            return;
        }
        const int64_t t = nowNs();
        for (auto& [due, done] : lost) {
            if (!done && due <= t) {
                done = true;
                self->open();
                while (rec.size() < std::size_t(self->opened())) {
                    rec.emplace_back().opened = t;
                }
            }
        }
    });
    self = &listeners;
    listeners.onData = [&](uint32_t k, const char* data, std::size_t n) { receive(rec[k], data, n); };
    listeners.onClosed = [&](uint32_t k) {
        rec[k].closed = nowNs();
        if (reconnect) {
            lost.emplace_back(rec[k].closed + 2'000'000'000LL, false);
        }
    };
    ::fcntl(control, F_SETFL, O_NONBLOCK);
    const auto deadline = Clock::now() + std::chrono::seconds(600);
    // A reception per connection, in the order they are opened. icecast2 accepts from a queue of five
    // and answers a listener only when its source's next data arrives: connections opened in a burst are
    // dropped by the kernel and retried a second, then 3, 7, ... seconds later. So 2 every 10 ms, and at
    // most 500 waiting for their answer. (At 8 every 10 ms and 2000 waiting, a tenth of
    // 15,000 listeners never got in.)
    rec.reserve(std::size_t(count) * 2);
    while (listeners.opened() < count && Clock::now() < deadline) {
        for (int i = 0; i < 2 && listeners.opened() < count &&
                        listeners.opened() - listeners.answered() - listeners.closed() < 500;
             ++i) {
            const int before = listeners.opened();
            listeners.open();
            if (listeners.opened() == before) {
                count = listeners.opened();  // out of descriptors or ports: this is as far as it goes
                break;
            }
            while (rec.size() < std::size_t(listeners.opened())) {
                rec.emplace_back().opened = nowNs();
            }
        }
        listeners.pump(10);
    }
    // The last ones get a minute for their answer: a server out of descriptors never answers.
    const auto answers = std::min(deadline, Clock::now() + std::chrono::seconds(60));
    while (listeners.answered() + listeners.closed() < listeners.opened() && Clock::now() < answers) {
        listeners.pump(100);
    }
    if (listeners.failed() > 0 || listeners.opened() < asked) {
        std::printf("  load client of port %d: %d of %d listeners opened, %d opens failed (%s)\n", port,
                    listeners.opened(), asked, listeners.failed(), std::strerror(listeners.lastError()));
        std::fflush(stdout);
    }
    const char one = 1;
    (void)!::write(ready, &one, 1);
    while (end == 0 || nowNs() < end) {
        listeners.pump(100);
    }
    for (const Reception& r : rec) {
        const uint64_t fixed[7] = {r.bytes,
                                   r.hash,
                                   uint64_t(r.opened),
                                   uint64_t(r.first),
                                   uint64_t(r.closed),
                                   uint64_t(r.arrivals.size()),
                                   uint64_t(r.status)};
        const uint32_t headSize = uint32_t(r.head.size());
        std::fwrite(fixed, sizeof fixed, 1, f);
        std::fwrite(&headSize, sizeof headSize, 1, f);
        std::fwrite(r.head.constData(), 1, headSize, f);
        std::fwrite(r.arrivals.data(), sizeof r.arrivals[0], r.arrivals.size(), f);
    }
    std::fclose(f);
    ::_exit(0);
}

std::vector<Reception> readReceptions(const QString& path) {
    std::vector<Reception> all;
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (f == nullptr) {
        return all;
    }
    uint64_t fixed[7];
    while (std::fread(fixed, sizeof fixed, 1, f) == 1) {
        Reception r;
        r.bytes = fixed[0];
        r.hash = fixed[1];
        r.opened = int64_t(fixed[2]);
        r.first = int64_t(fixed[3]);
        r.closed = int64_t(fixed[4]);
        r.status = int(fixed[6]);
        uint32_t headSize = 0;
        if (std::fread(&headSize, sizeof headSize, 1, f) != 1) {
            break;
        }
        r.head.resize(headSize);
        r.arrivals.resize(fixed[5]);
        if ((headSize > 0 && std::fread(r.head.data(), 1, headSize, f) != headSize) ||
            std::fread(r.arrivals.data(), sizeof r.arrivals[0], r.arrivals.size(), f) != r.arrivals.size()) {
            break;
        }
        all.push_back(std::move(r));
    }
    std::fclose(f);
    return all;
}

// The station's MP3 copy, the reference every listener is checked against: its growth is watched every
// 5 ms, which stamps the moment each byte left the station (the copy is written beside the send).
class CopyWatch {
public:
    explicit CopyWatch(QString dir) : dir_(std::move(dir)) {
        thread_ = std::thread([this] {
            while (!stop_) {
                if (path_.isEmpty()) {
                    const QStringList mp3 = QDir(dir_).entryList({QStringLiteral("*.mp3")}, QDir::Files);
                    if (!mp3.isEmpty()) {
                        std::lock_guard lock(mutex_);
                        path_ = dir_ + QLatin1Char('/') + mp3.front();
                    }
                }
                struct stat st {};
                if (!path_.isEmpty() && ::stat(QFile::encodeName(path_).constData(), &st) == 0) {
                    std::lock_guard lock(mutex_);
                    if (samples_.empty() || uint64_t(st.st_size) > samples_.back().first) {
                        samples_.emplace_back(uint64_t(st.st_size), nowNs());
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~CopyWatch() {
        stop_ = true;
        thread_.join();
    }
    QByteArray bytes() const {
        QFile f(path());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    QString path() const {
        std::lock_guard lock(mutex_);
        return path_;
    }
    // The copy's size at time t.
    uint64_t sizeAt(int64_t t) const {
        std::lock_guard lock(mutex_);
        auto it = std::upper_bound(samples_.begin(), samples_.end(), t,
                                   [](int64_t v, const auto& s) { return v < s.second; });
        return it == samples_.begin() ? 0 : std::prev(it)->first;
    }
    // When the copy first held `offset` bytes; 0 when not seen.
    int64_t timeOf(uint64_t offset) const {
        std::lock_guard lock(mutex_);
        auto it = std::lower_bound(samples_.begin(), samples_.end(), offset,
                                   [](const auto& s, uint64_t v) { return s.first < v; });
        return it == samples_.end() ? 0 : it->second;
    }

private:
    QString dir_;
    mutable std::mutex mutex_;
    QString path_;
    std::vector<std::pair<uint64_t, int64_t>> samples_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Finds a listener's bytes in the copy: each offset indexed by its next 16 bytes, and prefix hashes that
// give the hash of any range.
class CopyIndex {
public:
    explicit CopyIndex(QByteArray copy) : copy_(std::move(copy)) {
        const std::size_t n = std::size_t(copy_.size());
        prefix_.resize(n + 1);
        power_.resize(n + 1);
        power_[0] = 1;
        for (std::size_t i = 0; i < n; ++i) {
            prefix_[i + 1] = prefix_[i] * kHashBase + uint8_t(copy_[qsizetype(i)]);
            power_[i + 1] = power_[i] * kHashBase;
        }
        for (std::size_t i = 0; i + kKeyBytes <= n; ++i) {
            at_[key(copy_.constData() + i)].push_back(uint32_t(i));
        }
    }
    // The offset of the head's first byte; -1 when not found, -2 when found more than once.
    int64_t find(const QByteArray& head) const {
        if (std::size_t(head.size()) < kKeyBytes) {
            return -1;
        }
        const auto it = at_.find(key(head.constData()));
        if (it == at_.end()) {
            return -1;
        }
        int64_t found = -1;
        for (const uint32_t offset : it->second) {
            if (copy_.mid(offset, head.size()) == head) {
                if (found >= 0) {
                    return -2;
                }
                found = offset;
            }
        }
        return found;
    }
    bool matches(uint64_t offset, uint64_t bytes, uint64_t hash) const {
        if (offset + bytes >= prefix_.size()) {
            return false;
        }
        return prefix_[offset + bytes] - prefix_[offset] * power_[bytes] == hash;
    }
    uint64_t size() const { return uint64_t(copy_.size()); }

private:
    static uint64_t key(const char* p) {
        uint64_t a, b;
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + 8, 8);
        return a * 0x9E3779B97F4A7C15ULL ^ b;
    }
    QByteArray copy_;
    std::vector<uint64_t> prefix_, power_;
    std::unordered_map<uint64_t, std::vector<uint32_t>> at_;
};

struct Percentiles {
    double p50 = 0, p99 = 0, max = 0;
    std::size_t count = 0;
};

Percentiles percentiles(std::vector<double> v) {
    Percentiles p;
    p.count = v.size();
    if (v.empty()) {
        return p;
    }
    std::sort(v.begin(), v.end());
    p.p50 = v[v.size() / 2];
    p.p99 = v[std::min(v.size() - 1, v.size() * 99 / 100)];
    p.max = v.back();
    return p;
}

// A plain HTTP GET on loopback; the whole answer.
QByteArray httpGet(int port, const QByteArray& path) {
    const int fd = connectTo(port);
    if (fd < 0) {
        return {};
    }
    const QByteArray request = "GET " + path + " HTTP/1.0\r\nUser-Agent: bench\r\n\r\n";
    ::send(fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL);
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    QByteArray answer;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
        answer.append(buffer, n);
    }
    ::close(fd);
    return answer;
}

// Waits until a listener of the server's /stream receives bytes.
bool waitForStream(int port, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        Listeners probe(port, "GET /stream HTTP/1.0\r\nUser-Agent: bench\r\n\r\n", {});
        probe.connectAll(1, Clock::now() + std::chrono::seconds(3));
        probe.pump(1500);
        if (probe.bytes().front() > 400) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    return false;
}

// Who knocks at a port while its server is down: the time and first line of each connection.
std::vector<std::pair<int64_t, QByteArray>> answerPortFor(int port, int seconds) {
    std::vector<std::pair<int64_t, QByteArray>> knocks;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
        std::printf("  (the stub could not take port %d: %s)\n", port, std::strerror(errno));
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        return knocks;
    }
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) {
            continue;
        }
        const int c = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            continue;
        }
        const int64_t t = nowNs();
        timeval tv{0, 300000};
        ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buffer[512];
        const ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
        const QByteArray got = n > 0 ? QByteArray(buffer, n) : QByteArray();
        // Who it is: the station's libshout, a relaying icecast2, or a listener of the load clients.
        const QByteArray who = got.contains("User-Agent: bench") ? "listener"
                               : got.contains("Icecast")         ? "relay"
                                                                 : "station";
        knocks.emplace_back(t, who + " " + got.left(std::max<qsizetype>(0, got.indexOf('\r'))));
        ::close(c);
    }
    ::close(fd);
    return knocks;
}

struct Ice {
    const char* name;
    QString dir;
    int port = 0;
    pid_t pid = -1;
    QString config;
};

pid_t startIcecast(const QString& icecast, const Ice& ice) {
    const pid_t pid = spawn({icecast.toStdString(), "-c", ice.config.toStdString()});
    return waitForPort(ice.port, 20) ? pid : -1;
}

// Lines the station writes to standard error, with the time each arrived.
class ErrorLines {
public:
    ErrorLines() {
        int fds[2];
        (void)!::pipe2(fds, O_CLOEXEC);
        read_ = fds[0];
        write_ = fds[1];
        thread_ = std::thread([this] {
            QByteArray pending;
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(read_, buffer, sizeof buffer)) > 0) {
                pending.append(buffer, n);
                qsizetype nl;
                while ((nl = pending.indexOf('\n')) >= 0) {
                    std::lock_guard lock(mutex_);
                    lines_.emplace_back(nowNs(), pending.left(nl));
                    pending.remove(0, nl + 1);
                }
            }
        });
    }
    ~ErrorLines() {
        ::close(write_);
        thread_.join();
        ::close(read_);
    }
    int fd() const { return write_; }
    // Closes the parent's end once the station has its copy.
    void release() {
        ::close(write_);
        write_ = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    }
    std::vector<std::pair<int64_t, QByteArray>> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    int read_ = -1, write_ = -1;
    mutable std::mutex mutex_;
    std::vector<std::pair<int64_t, QByteArray>> lines_;
    std::thread thread_;
};

struct Client {
    pid_t pid = -1;
    int control = -1;
    int ready = -1;
    QString out;
};

Client startClient(int port, int count, bool reconnect, const QString& out) {
    int control[2], ready[2];
    (void)!::pipe2(control, O_CLOEXEC);
    (void)!::pipe2(ready, O_CLOEXEC);
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(control[1]);
        ::close(ready[0]);
        runClient(port, count, reconnect, control[0], ready[1], QFile::encodeName(out).constData());
    }
    ::close(control[0]);
    ::close(ready[1]);
    return {pid, control[1], ready[0], out};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    int seconds = 60;
    int total = 60000;
    int burst = 8192;
    int rounds = 1;
    int restartDown = 0;
    int updateInterval = 10;  // icecast2's default, 120 s, is also how long a relay waits to retry
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = value;
        } else if (std::strcmp(argv[i], "--listeners") == 0) {
            total = value;
        } else if (std::strcmp(argv[i], "--burst") == 0) {
            burst = value;
        } else if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = value;
        } else if (std::strcmp(argv[i], "--update-interval") == 0) {
            updateInterval = value;
        } else if (std::strcmp(argv[i], "--restart-master") == 0) {
            restartDown = value;
        } else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 2;
        }
    }
    const rlim_t limit = raiseOpenFileLimit();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const QString bin = QCoreApplication::applicationDirPath();
    const QString icecast = QStandardPaths::findExecutable(QStringLiteral("icecast2"));
    if (icecast.isEmpty()) {
        std::fprintf(stderr, "icecast2 is not installed\n");
        return 1;
    }
    const int perServer = total / 4;
    std::printf(
        "station: %s/vandorixserver, tone, 18 kb/s MP3; icecast2: %s; window %d s; %d listeners "
        "(%d per server); burst %d bytes; relays' update interval %d s; descriptor limit %llu; %d rounds%s\n",
        qPrintable(bin), qPrintable(icecast), seconds, perServer * 4, perServer, burst, updateInterval,
        static_cast<unsigned long long>(limit), rounds,
        restartDown > 0 ? qPrintable(QStringLiteral("; master down for %1 s").arg(restartDown)) : "");

    QTemporaryDir root;
    if (std::getenv("VX_KEEP") != nullptr) {
        root.setAutoRemove(false);  // the servers' logs, to read afterwards
        std::printf("files in %s\n", qPrintable(root.path()));
    }
    ::chmod(QFile::encodeName(root.path()).constData(), 0777);  // icecast drops root for "nobody"
    std::vector<Ice> ices{{"master", {}, 0, -1, {}},
                          {"mirror", {}, 0, -1, {}},
                          {"relay-a", {}, 0, -1, {}},
                          {"relay-b", {}, 0, -1, {}}};
    for (Ice& ice : ices) {
        ice.dir = root.path() + QLatin1Char('/') + QLatin1String(ice.name);
        QDir().mkpath(ice.dir);
        ::chmod(QFile::encodeName(ice.dir).constData(), 0777);
        ice.port = freePort();
    }
    const int masterPort = ices[0].port;
    const QString relayMount =
        QStringLiteral(
            "  <relay><server>127.0.0.1</server><port>%1</port><mount>/stream</mount>\n"
            "    <local-mount>/stream</local-mount><on-demand>0</on-demand></relay>\n"
            "  <master-update-interval>%2</master-update-interval>\n")
            .arg(masterPort)
            .arg(updateInterval);
    ices[0].config = icecastConfig(ices[0].dir, ices[0].port, perServer, {burst, {}});
    ices[1].config = icecastConfig(
        ices[1].dir, ices[1].port, perServer,
        {burst, QStringLiteral("  <master-server>127.0.0.1</master-server><master-server-port>%1"
                               "</master-server-port>\n  <master-username>relay</master-username>"
                               "<master-password>vxbench</master-password>\n"
                               "  <master-update-interval>%2</master-update-interval>\n")
                    .arg(masterPort)
                    .arg(updateInterval)});
    ices[2].config = icecastConfig(ices[2].dir, ices[2].port, perServer, {burst, relayMount});
    ices[3].config = icecastConfig(ices[3].dir, ices[3].port, perServer, {burst, relayMount});

    ices[0].pid = startIcecast(icecast, ices[0]);
    if (ices[0].pid < 0) {
        std::fprintf(stderr, "the master icecast2 did not come up\n");
        return 1;
    }
    const QString stationDir = root.path() + QStringLiteral("/station");
    QDir().mkpath(stationDir);
    const int listenerPort = freePort();
    const int remotePort = freePort();
    const int statusPort = freePort();
    writeSettings(stationDir, listenerPort);
    const QByteArray title = "Through the tree";
    ErrorLines stationErrors;
    const pid_t station = spawnStation(bin, stationDir, remotePort, masterPort,
                                       {"--mp3-copy", "--info", title.toStdString(), "--status-listen",
                                        "127.0.0.1:" + std::to_string(statusPort)},
                                       stationErrors.fd());
    stationErrors.release();
    if (!waitForPort(remotePort, 20)) {
        std::fprintf(stderr, "the station did not come up\n");
        return 1;
    }
    CopyWatch copy(stationDir);
    sendStart(remotePort);
    if (!waitForPort(listenerPort, 20) || !waitForStream(masterPort, 30)) {
        std::fprintf(stderr, "the station's stream did not reach the master\n");
        return 1;
    }
    const auto treeStart = Clock::now();
    for (std::size_t i = 1; i < ices.size(); ++i) {
        ices[i].pid = startIcecast(icecast, ices[i]);
        if (ices[i].pid < 0 || !waitForStream(ices[i].port, 150)) {
            std::fprintf(stderr, "%s did not relay the mount\n", ices[i].name);
            printIcecastLog(ices[i].dir);
            return 1;
        }
    }
    std::printf("tree up: the relays carried the mount %.1f s after they started\n",
                std::chrono::duration<double>(Clock::now() - treeStart).count());
    Listeners direct(listenerPort, "GET / HTTP/1.0\r\nUser-Agent: bench\r\n\r\n", {});
    direct.connectAll(10, Clock::now() + std::chrono::seconds(20));

    for (int round = 1; round <= rounds; ++round) {
        std::printf("\nround %d\n", round);
        // The baseline: the tree without an audience, ten listeners at the station.
        std::vector<double> rssIdle;
        const double loadA = loadAverage();
        double cpuA = cpuSeconds(station);
        double relayA = threadCpuSeconds(station, "icecast-relay");
        auto tA = Clock::now();
        direct.pump(seconds * 1000);
        const double wallA = std::chrono::duration<double>(Clock::now() - tA).count();
        cpuA = (cpuSeconds(station) - cpuA) / wallA;
        relayA = (threadCpuSeconds(station, "icecast-relay") - relayA) / wallA;
        const double rssA = rssMiB(station);
        for (const Ice& ice : ices) {
            rssIdle.push_back(rssMiB(ice.pid));
        }

        // The audience: one load client per server.
        std::vector<Client> clients;
        const auto connectStart = Clock::now();
        for (std::size_t i = 0; i < ices.size(); ++i) {
            clients.push_back(startClient(ices[i].port, perServer, restartDown > 0,
                                          root.path() + QStringLiteral("/client-%1.bin").arg(i)));
        }
        for (Client& c : clients) {
            pollfd p{c.ready, POLLIN, 0};
            while (::poll(&p, 1, 0) == 0) {
                direct.pump(100);
            }
        }
        std::printf("  audience connected in %.1f s\n",
                    std::chrono::duration<double>(Clock::now() - connectStart).count());
        direct.pump(2000);

        const double loadB = loadAverage();
        std::vector<double> cpuBefore;
        for (const Ice& ice : ices) {
            cpuBefore.push_back(cpuSeconds(ice.pid));
        }
        double clientCpu = 0;
        for (const Client& c : clients) {
            clientCpu -= cpuSeconds(c.pid);
        }
        double cpuB = cpuSeconds(station);
        double relayB = threadCpuSeconds(station, "icecast-relay");
        const int64_t t0 = nowNs();
        const auto tB = Clock::now();
        std::thread restarter;
        std::vector<std::pair<int64_t, QByteArray>> knocks;
        int64_t killedAt = 0, backAt = 0;
        if (restartDown > 0) {
            restarter = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::seconds(seconds / 3));
                killedAt = nowNs();
                stopProcess(ices[0].pid);
                knocks = answerPortFor(masterPort, restartDown);
                ices[0].pid = startIcecast(icecast, ices[0]);
                backAt = nowNs();
            });
        }
        direct.pump(seconds * 1000);
        if (restarter.joinable()) {
            restarter.join();
        }
        const int64_t t1 = nowNs();
        const double wallB = std::chrono::duration<double>(Clock::now() - tB).count();
        cpuB = (cpuSeconds(station) - cpuB) / wallB;
        relayB = (threadCpuSeconds(station, "icecast-relay") - relayB) / wallB;
        const double rssB = rssMiB(station);
        std::vector<double> iceCpu, iceRss;
        for (std::size_t i = 0; i < ices.size(); ++i) {
            iceCpu.push_back((cpuSeconds(ices[i].pid) - cpuBefore[i]) / wallB);
            iceRss.push_back(rssMiB(ices[i].pid));
        }
        for (const Client& c : clients) {
            clientCpu += cpuSeconds(c.pid);
        }
        clientCpu /= wallB;
        // The listeners read on until the window's last bytes have passed the tree.
        const int64_t end = nowNs() + 10'000'000'000LL;
        for (const Client& c : clients) {
            (void)!::write(c.control, &end, sizeof end);
        }
        for (Client& c : clients) {
            while (::waitpid(c.pid, nullptr, WNOHANG) != c.pid) {
                direct.pump(100);
            }
            ::close(c.control);
            ::close(c.ready);
        }

        const CopyIndex index(copy.bytes());
        const uint64_t w0 = copy.sizeAt(t0), w1 = copy.sizeAt(t1);
        std::printf(
            "  window: %.1f s, the copy grew %llu bytes; load average %.2f before the baseline, "
            "%.2f before the audience's window\n",
            wallB, static_cast<unsigned long long>(w1 - w0), loadA, loadB);
        std::printf(
            "  station: CPU %.5f s/s with the audience against %.5f with ten direct listeners "
            "(ratio %s); RSS %.1f MiB against %.1f (ratio %s); load clients %.3f CPU s/s\n",
            cpuB, cpuA, qPrintable(ratio(cpuB, cpuA)), rssB, rssA, qPrintable(ratio(rssB, rssA)), clientCpu);
        std::printf("  the station's relay thread: %.5f CPU s/s against %.5f\n", relayB, relayA);
        std::vector<double> delayMaster, delayRelays, burstLag, burstBytes;
        for (std::size_t i = 0; i < ices.size(); ++i) {
            const std::vector<Reception> rec = readReceptions(clients[i].out);
            int connected = 0, complete = 0, matched = 0, unaligned = 0, ambiguous = 0, reconnected = 0,
                refused = 0, recovered = 0, streaming = 0;
            int64_t firstAgain = 0;
            for (std::size_t k = 0; k < rec.size(); ++k) {
                const Reception& r = rec[k];
                const bool again = int(k) >= perServer;
                reconnected += again ? 1 : 0;
                if (r.bytes == 0) {
                    continue;
                }
                if (r.status != 200) {
                    ++refused;  // a relay without its source answers 404
                    continue;
                }
                connected += again ? 0 : 1;
                streaming += r.closed == 0 ? 1 : 0;
                const int64_t s = index.find(r.head);
                if (s < 0) {
                    (s == -2 ? ambiguous : unaligned) += 1;
                    continue;
                }
                const uint64_t start = uint64_t(s);
                if (!index.matches(start, r.bytes, r.hash)) {
                    continue;
                }
                ++matched;
                if (again) {
                    ++recovered;
                    firstAgain = firstAgain == 0 ? r.first : std::min(firstAgain, r.first);
                }
                complete += start <= w0 && start + r.bytes >= w1 ? 1 : 0;
                const int64_t leftFirst = copy.timeOf(start + 1);
                if (leftFirst > 0 && r.first > 0) {
                    burstLag.push_back(double(r.first - leftFirst) / 1e9);
                    burstBytes.push_back(double(copy.sizeAt(r.first)) - double(start));
                }
                for (const auto& [bytes, t] : r.arrivals) {
                    if (t < t0 || t > t1) {
                        continue;
                    }
                    const int64_t left = copy.timeOf(start + bytes);
                    if (left > 0) {
                        (i == 0 ? delayMaster : delayRelays).push_back(double(t - left) / 1e9);
                    }
                }
            }
            std::printf(
                "  %-8s %5d of %5d listeners connected, %5d received every byte of the window "
                "(%5.1f %%); %d connections matched the copy in all they received, %d not found in "
                "the copy, %d found twice\n",
                ices[i].name, connected, perServer, complete, 100.0 * complete / perServer, matched,
                unaligned, ambiguous);
            if (restartDown > 0) {
                std::printf(
                    "           %d reconnections: %d refused (no source), %d with the stream, the first "
                    "at +%.1f s after the master stopped; %d listeners with the stream at the end\n",
                    reconnected, refused, recovered,
                    firstAgain > 0 ? double(firstAgain - killedAt) / 1e9 : -1.0, streaming);
            }
            if (connected < perServer && restartDown == 0) {
                printIcecastLog(ices[i].dir);
            }
            if (restartDown > 0 && i == 0) {
                std::printf("           (CPU and memory of a restarted process are not comparable)\n");
                continue;
            }
            std::printf(
                "           CPU %.4f s/s (%.2f ms/s per 1000 listeners), RSS %.1f MiB (%.2f KiB per "
                "listener over the idle tree)\n",
                iceCpu[i], iceCpu[i] * 1e6 / std::max(1, connected), iceRss[i],
                (iceRss[i] - rssIdle[i]) * 1024.0 / std::max(1, connected));
        }
        const auto show = [](const char* what, const Percentiles& p) {
            std::printf("  %s: p50 %.3f s, p99 %.3f s, max %.3f s (%zu samples)\n", what, p.p50, p.p99, p.max,
                        p.count);
        };
        show("delay station -> master's listeners", percentiles(delayMaster));
        show("delay station -> relays' listeners ", percentiles(delayRelays));
        show("first byte behind live on connect  ", percentiles(burstLag));
        const Percentiles bb = percentiles(burstBytes);
        std::printf("  first byte behind live, in bytes: p50 %.0f, max %.0f\n", bb.p50, bb.max);
        if (restartDown > 0) {
            std::printf("  master stopped at +%.1f s, icecast2 again at +%.1f s; who knocked meanwhile:\n",
                        double(killedAt - t0) / 1e9, double(backAt - t0) / 1e9);
            int listenerKnocks = 0;
            for (const auto& [t, line] : knocks) {
                if (line.startsWith("listener")) {
                    ++listenerKnocks;
                } else {
                    std::printf("    +%6.2f s  %s\n", double(t - killedAt) / 1e9, line.left(70).constData());
                }
            }
            std::printf("    and %d listeners' requests\n", listenerKnocks);
            for (const auto& [t, line] : stationErrors.lines()) {
                if (t >= killedAt - 1'000'000'000LL) {
                    std::printf("    station +%6.2f s  %s\n", double(t - killedAt) / 1e9, line.constData());
                }
            }
            const QByteArray status = httpGet(statusPort, "/status.json");
            const qsizetype at = status.indexOf("\"dropped_blocks\"");
            std::printf("  station's relay: %s\n", at >= 0 ? status.mid(at, 24).constData() : "no status");
        }
        // A relay learns the title from the master's stream, at its next metadata interval.
        std::printf("  the title on each mount at the window's end:");
        for (const Ice& ice : ices) {
            std::printf(" %s %s;", ice.name,
                        httpGet(ice.port, "/status-json.xsl").contains(title) ? "yes" : "NO");
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    for (Ice& ice : ices) {
        stopProcess(ice.pid);
    }
    stopProcess(station);
    return 0;
}
