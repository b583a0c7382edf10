// SPDX-License-Identifier: GPL-3.0-or-later
// File playback: how closely the chunks keep to the clock, and what sending them to many listeners
// costs beside a live broadcast of the same stream.
//
// Runs the real station headless as a child process. Pacing: `--play FILE --loop`, one listener program
// timestamps the arrival of each chunk over the window; the drift is the last chunk's lateness against
// "first chunk + n seconds". Fan-out: N ICY listeners read from the station, once while it plays the
// file and once while it broadcasts the tone device live in the same format; CPU seconds per second of
// the station process for both.
//
//   bench_playback [--pacing-seconds S] [--fanout-seconds S] [N]   (default: 60 s, 15 s, N = 5000)
#include "BenchProcess.h"
#include "audio/TACMConvertor.h"
#include "platform/TAudioFormat.h"
#include "platform/acm/PlatformAcm.h"
#include "settings/TOptionsRecord.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vxbench;

double secondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// A recording of the station's default formats: 10 s of a 440 Hz tone through LAME.
QByteArray makeRecording() {
    TACMConvertor acmc(std::make_shared<vx::acm::PlatformAcm>());
    acmc.FormatIn = defaultInputFormat();
    acmc.FormatOut = defaultOutputFormat();
    const uint32_t rate = acmc.FormatIn.samplesPerSec();
    acmc.SetInputBufferSize(int(acmc.FormatIn.avgBytesPerSec()));
    acmc.SetActive(true);
    QByteArray file = acmc.FormatOut.toBytes();
    std::vector<int16_t> pcm(rate);
    for (uint32_t second = 0; second < 10; ++second) {
        for (uint32_t i = 0; i < rate; ++i) {
            pcm[i] =
                int16_t(16000 * std::sin(2 * std::numbers::pi * 440.0 * double(second * rate + i) / rate));
        }
        std::memcpy(acmc.BufferIn(), pcm.data(), pcm.size() * 2);
        const int n = acmc.Convert();
        file.append(reinterpret_cast<const char*>(acmc.BufferOut()), n);
    }
    acmc.SetActive(false);
    return file;
}

struct Station {
    pid_t pid = -1;
    int listenerPort = 0;
    int remotePort = 0;
};

// The station on a fresh data folder, without listener limit; `extra` picks playback or capture.
Station startStation(const QTemporaryDir& dir, const std::vector<std::string>& extra) {
    Station s;
    s.listenerPort = freePort();
    s.remotePort = freePort();
    QFile server(dir.path() + "/Server.ini");
    server.open(QIODevice::WriteOnly);
    server.write("http://127.0.0.1:9/vandorixdb/\n");
    server.close();
    TOptionsRecord options;
    options.Port = s.listenerPort;
    options.Radioname = QStringLiteral("Bench");
    options.FormatIn = defaultInputFormat();
    options.FormatOut = defaultOutputFormat();
    options.Upload = 1000000;
    options.Beschr = false;
    QFile f(dir.path() + "/Optionen.ini");
    f.open(QIODevice::WriteOnly);
    f.write(options.toBytes());
    f.close();
    std::vector<std::string> args = {QCoreApplication::applicationDirPath().toStdString() + "/vandorixserver",
                                     "/WO",
                                     "--data-dir",
                                     dir.path().toStdString(),
                                     "--capture-device",
                                     "tone",
                                     "--remote-port",
                                     std::to_string(s.remotePort)};
    args.insert(args.end(), extra.begin(), extra.end());
    s.pid = spawn(args);
    return s;
}

// One listener program; each chunk's arrival time, a chunk being what arrives after a pause of at
// least 300 ms.
void pacing(const QString& file, int seconds) {
    QTemporaryDir dir;
    const Station s = startStation(dir, {"--play", file.toStdString(), "--loop"});
    if (!waitForPort(s.listenerPort, 20)) {
        std::printf("pacing: the station did not come up\n");
        stopProcess(s.pid);
        return;
    }
    const int fd = connectTo(s.listenerPort);
    ::send(fd, "KT-VandorixClient v30", 21, MSG_NOSIGNAL);
    std::vector<double> arrivals;
    std::vector<uint64_t> sizes;
    uint64_t total = 0;
    const auto t0 = Clock::now();
    double last = -1.0;
    char buffer[65536];
    while (secondsSince(t0) < seconds + 1.5) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        const double now = secondsSince(t0);
        total += uint64_t(n);
        if (total <= 514) {
            continue;  // the station header
        }
        if (last < 0 || now - last > 0.3) {
            arrivals.push_back(now);
            sizes.push_back(0);
        }
        sizes.back() += uint64_t(n);
        last = now;
    }
    ::close(fd);
    stopProcess(s.pid);
    if (arrivals.size() < 3) {
        std::printf("pacing: only %zu chunks arrived\n", arrivals.size());
        return;
    }
    double worst = 0.0;
    for (std::size_t k = 0; k < arrivals.size(); ++k) {
        worst = std::max(worst, std::fabs(arrivals[k] - arrivals[0] - double(k)));
    }
    const double span = double(arrivals.size() - 1);
    const double lateness = arrivals.back() - arrivals[0] - span;
    std::printf("pacing: %zu chunks over %.0f s of playback (2250-byte chunks, 10-s file looped)\n",
                arrivals.size(), span);
    std::printf(
        "  last chunk against first + n s: %+.1f ms, i.e. %+.1f ms per minute; worst single chunk %.1f ms\n",
        lateness * 1000.0, lateness * 1000.0 * 60.0 / span, worst * 1000.0);
}

// N readers on one epoll set, counting bytes.
class Readers {
public:
    Readers(int port, int n) : epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
        while (int(fds_.size()) < n) {
            for (int i = 0; i < 8 && int(fds_.size()) < n; ++i) {
                const int fd = connectTo(port, false);
                if (fd < 0) {
                    continue;
                }
                epoll_event ev{};
                ev.events = EPOLLOUT;
                ev.data.u32 = uint32_t(fds_.size());
                ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
                fds_.push_back(fd);
            }
            pump(10);
        }
    }
    ~Readers() {
        for (int fd : fds_) {
            ::close(fd);
        }
        ::close(epoll_);
    }
    void pump(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        std::vector<epoll_event> events(1024);
        static char buffer[65536];
        do {
            const int n = ::epoll_wait(epoll_, events.data(), int(events.size()), 20);
            for (int i = 0; i < n; ++i) {
                const uint32_t k = events[std::size_t(i)].data.u32;
                if (events[std::size_t(i)].events & EPOLLOUT) {
                    ::send(fds_[k], "GET / HTTP/1.0\r\n\r\n", 18, MSG_NOSIGNAL);
                    epoll_event ev{};
                    ev.events = EPOLLIN;
                    ev.data.u32 = k;
                    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fds_[k], &ev);
                    continue;
                }
                while (::recv(fds_[k], buffer, sizeof buffer, 0) > 0) {
                    ++reads_;
                }
            }
        } while (Clock::now() < end);
    }
    uint64_t reads() const { return reads_; }

private:
    int epoll_;
    std::vector<int> fds_;
    uint64_t reads_ = 0;
};

double fanout(const char* name, const std::vector<std::string>& extra, bool sendStart, int n, int seconds) {
    QTemporaryDir dir;
    const Station s = startStation(dir, extra);
    if (!waitForPort(s.remotePort, 20)) {
        std::printf("%s: the station did not come up\n", name);
        stopProcess(s.pid);
        return 0.0;
    }
    if (sendStart) {
        const int ctl = connectTo(s.remotePort);
        ::send(ctl, "Start\xFF\xFF\xFF\xFF", 9, MSG_NOSIGNAL);
        ::close(ctl);
    }
    if (!waitForPort(s.listenerPort, 20)) {
        std::printf("%s: no listener port\n", name);
        stopProcess(s.pid);
        return 0.0;
    }
    Readers readers(s.listenerPort, n);
    readers.pump(3000);  // every listener has had its reply and first chunks
    const uint64_t readsBefore = readers.reads();
    const double cpuBefore = cpuSeconds(s.pid);
    const auto t0 = Clock::now();
    readers.pump(seconds * 1000);
    const double perSecond = (cpuSeconds(s.pid) - cpuBefore) / secondsSince(t0);
    std::printf("  %-9s %5d listeners: %.4f CPU s per s (%.0f reads per listener per s)\n", name, n,
                perSecond, double(readers.reads() - readsBefore) / n / seconds);
    stopProcess(s.pid);
    return perSecond;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    int pacingSeconds = 60;
    int fanoutSeconds = 15;
    int n = 5000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pacing-seconds") == 0 && i + 1 < argc) {
            pacingSeconds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--fanout-seconds") == 0 && i + 1 < argc) {
            fanoutSeconds = std::atoi(argv[++i]);
        } else {
            n = std::atoi(argv[i]);
        }
    }
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);

    QTemporaryDir files;
    const QString recording = files.path() + QStringLiteral("/ton.ktv");
    QFile f(recording);
    f.open(QIODevice::WriteOnly);
    f.write(makeRecording());
    f.close();

    if (pacingSeconds > 0) {
        pacing(recording, pacingSeconds);
    }
    if (n > 0 && fanoutSeconds > 0) {
        std::printf("fan-out over %d s, 18 kb/s MPEG Layer-3:\n", fanoutSeconds);
        const double played =
            fanout("playback", {"--play", recording.toStdString(), "--loop"}, false, n, fanoutSeconds);
        const double live = fanout("live", {}, true, n, fanoutSeconds);
        if (live > 0.0) {
            std::printf("  playback / live: %.2f\n", played / live);
        }
    }
    return 0;
}
