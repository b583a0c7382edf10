// SPDX-License-Identifier: GPL-3.0-or-later
// Web listeners beside ICY listeners and the floor: what a listener of the web port costs the station,
// with and without ICY metadata.
//
// Three headless stations (tone device, no listener limit, web port on) and the floor, bench_floor_send,
// fed by a relay of the first station's stream. For each N: N ICY listeners on the first station's
// listener port, N plain web listeners (GET /stream) on the second's web port, N metadata listeners
// (Icy-MetaData: 1) on the third's, N listeners of the floor; one window measures all four where this
// process has the descriptors for them, else each in a window of its own. CPU is the server process's,
// per second of audio; the last columns are CPU over the floor's.
//
//   bench_web_load [--seconds S] [N ...]   (default: 10 s, N = 1000 5000)
#include "LoadClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vxbench;

struct BenchStation {
    QTemporaryDir dir;
    int listenerPort = freePort();
    int remotePort = freePort();
    int webPort = freePort();
    pid_t pid = -1;

    bool start(const QString& bin) {
        writeSettings(dir.path(), listenerPort);
        // No burst: the window measures the live stream, and a burst per connection only slows the
        // settling of thousands of listeners.
        pid = spawnStation(bin, dir.path(), remotePort, 0,
                           {"--web-listen", "127.0.0.1:" + std::to_string(webPort), "--web-burst", "0",
                            // As behind a reverse proxy: every listener comes from loopback.
                            "--public-url", "http://bench.example/"});
        if (!waitForPort(remotePort, 20)) {
            return false;
        }
        sendStart(remotePort);
        return waitForPort(listenerPort, 20);
    }
    ~BenchStation() {
        if (pid > 0) {
            stopProcess(pid);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int seconds = 10;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else {
            counts.push_back(std::atoi(argv[i]));
        }
    }
    if (counts.empty()) {
        counts = {1000, 5000};
    }
    const rlim_t openFiles = raiseOpenFileLimit();
    const QString bin = QCoreApplication::applicationDirPath();
    std::printf(
        "stations: %s/vandorixserver, tone device, 18 kb/s MPEG Layer-3; floor: bench_floor_send; "
        "window %d s\n",
        qPrintable(bin), seconds);

    const QByteArray icy = "GET / HTTP/1.0\r\nUser-Agent: bench\r\n\r\n";
    const QByteArray web = "GET /stream HTTP/1.1\r\nHost: bench\r\nUser-Agent: bench\r\n\r\n";
    const QByteArray meta =
        "GET /stream HTTP/1.1\r\nHost: bench\r\nUser-Agent: bench\r\nIcy-MetaData: 1\r\n\r\n";
    struct Row {
        int n;
        std::vector<Figures> f;  // floor, ICY, web, web with metadata
    };
    std::vector<Row> rows;
    for (const int n : counts) {
        BenchStation stations[3];
        for (BenchStation& s : stations) {
            if (!s.start(bin)) {
                std::fprintf(stderr, "a station did not come up\n");
                return 1;
            }
        }
        Relay relay(stations[0].listenerPort);
        warmUp(relay);
        const int floorPort = freePort();
        const pid_t floor = spawn({(bin + "/bench_floor_send").toStdString(), std::to_string(floorPort),
                                   std::to_string(stations[0].listenerPort), "300"});
        waitForPort(floorPort, 20);
        const uint64_t blockBytes = 2400;
        const std::vector<Server> servers{{floor, floorPort, icy},
                                          {stations[0].pid, stations[0].listenerPort, icy},
                                          {stations[1].pid, stations[1].webPort, web},
                                          {stations[2].pid, stations[2].webPort, meta}};
        Row row{n, {}};
        if (rlim_t(4 * n + 1024) <= openFiles) {
            row.f = measureSideBySide(servers, n, seconds, relay, blockBytes);
        } else {
            std::printf("  N = %d: the servers take turns (descriptors)\n", n);
            for (const Server& s : servers) {
                row.f.push_back(measure(s.pid, s.port, s.request, n, seconds, relay, blockBytes));
            }
        }
        stopProcess(floor);
        std::printf("N = %d\n", n);
        print("floor", row.f[0]);
        print("ICY listeners", row.f[1]);
        print("web, plain", row.f[2]);
        print("web, metadata", row.f[3]);
        std::fflush(stdout);
        rows.push_back(row);
    }
    std::printf("\n%7s | %-20s | %-20s | %-20s | %-20s | %s\n", "N", "floor CPU s/s, whole",
                "ICY CPU s/s, whole", "web CPU s/s, whole", "web+meta CPU s/s, whole",
                "CPU / floor: ICY, web, web+meta");
    for (const Row& r : rows) {
        std::printf("%7d | %8.4f %9.1f%% | %8.4f %9.1f%% | %8.4f %9.1f%% | %8.4f %9.1f%% | %s %s %s\n", r.n,
                    r.f[0].cpuPerSecond, r.f[0].everyBlock * 100, r.f[1].cpuPerSecond,
                    r.f[1].everyBlock * 100, r.f[2].cpuPerSecond, r.f[2].everyBlock * 100,
                    r.f[3].cpuPerSecond, r.f[3].everyBlock * 100,
                    qPrintable(ratio(r.f[1].cpuPerSecond, r.f[0].cpuPerSecond)),
                    qPrintable(ratio(r.f[2].cpuPerSecond, r.f[0].cpuPerSecond)),
                    qPrintable(ratio(r.f[3].cpuPerSecond, r.f[0].cpuPerSecond)));
    }
    return 0;
}
