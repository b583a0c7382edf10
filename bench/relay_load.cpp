// SPDX-License-Identifier: GPL-3.0-or-later
// The station under listener load, with and without its relay to icecast2, and icecast2 fed by it.
//
// Runs the real station headless (tone device, no listener limit) as a child process and, for each N,
// connects N listeners on loopback that read the stream, then measures over a window of live audio: the
// server's CPU seconds per second of audio, its resident memory, the memory per listener (against the
// same server without listeners) and the share of the stream's bytes that every listener received.
// Each N is measured twice: the station alone, and the station relaying its stream to icecast2
// (--icecast), whose difference is what the relay costs the station. icecast2 fed by that relay is then
// measured with the same N listeners; the last columns are the station's figures divided by icecast's.
// Last, icecast2 alone carries M listeners of the relayed stream.
//
//   bench_relay_load [--seconds S] [--icecast-listeners M] [N ...]
//   (default: 10 s, N = 100 1000 5000, M = 10000; M = 0 leaves that run out)
#include "LoadClient.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vxbench;

// The station headless on dir's settings, broadcasting; relaying to icecast2 when icecastPort is set.
pid_t startStation(const QString& bin, const QString& dir, int listenerPort, int icecastPort) {
    const int remotePort = freePort();
    const pid_t station = spawnStation(bin, dir, remotePort, icecastPort);
    if (!waitForPort(remotePort, 20)) {
        stopProcess(station);
        return -1;
    }
    sendStart(remotePort);
    if (!waitForPort(listenerPort, 20)) {
        stopProcess(station);
        return -1;
    }
    return station;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    int seconds = 10;
    int icecastListeners = 10000;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--icecast-listeners") == 0 && i + 1 < argc) {
            icecastListeners = std::atoi(argv[++i]);
        } else {
            counts.push_back(std::atoi(argv[i]));
        }
    }
    if (counts.empty()) {
        counts = {100, 1000, 5000};
    }
    raiseOpenFileLimit();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    const QString bin = QCoreApplication::applicationDirPath();
    const QString icecast = QStandardPaths::findExecutable(QStringLiteral("icecast2"));
    std::printf("station: %s/vandorixserver, tone device, 18 kb/s MPEG Layer-3; icecast2: %s; window %d s\n",
                qPrintable(bin), icecast.isEmpty() ? "not installed" : qPrintable(icecast), seconds);
    const uint64_t blockBytes = 2400;  // one second of the 18 kb/s stream, with room
    const QByteArray stationRequest = "GET / HTTP/1.0\r\nUser-Agent: bench\r\n\r\n";
    const QByteArray icecastRequest = "GET /stream HTTP/1.0\r\nUser-Agent: bench\r\n\r\n";

    struct Row {
        int n;
        Figures alone, station, ice;
    };
    std::vector<Row> rows;
    for (const int n : counts) {
        Row row{n, {}, {}, {}};
        QTemporaryDir dir;
        ::chmod(QFile::encodeName(dir.path()).constData(), 0777);  // icecast drops root for "nobody"
        const int listenerPort = freePort();
        writeSettings(dir.path(), listenerPort);
        std::printf("N = %d\n", n);

        // The station alone.
        pid_t station = startStation(bin, dir.path(), listenerPort, 0);
        if (station < 0) {
            std::fprintf(stderr, "the station did not come up\n");
            return 1;
        }
        {
            Relay counter(listenerPort);
            warmUp(counter);
            row.alone = measure(station, listenerPort, stationRequest, n, seconds, counter, blockBytes);
        }
        stopProcess(station);
        print("alone", row.alone);
        std::fflush(stdout);

        // The station relaying to icecast2, then icecast2 with as many listeners.
        pid_t ice = -1;
        int icecastPort = 0;
        if (!icecast.isEmpty()) {
            icecastPort = freePort();
            ice =
                spawn({icecast.toStdString(), "-c", icecastConfig(dir.path(), icecastPort, n).toStdString()});
            if (!waitForPort(icecastPort, 20)) {
                stopProcess(ice);
                ice = -1;
                icecastPort = 0;
            }
        }
        if (ice < 0) {
            rows.push_back(row);
            continue;
        }
        station = startStation(bin, dir.path(), listenerPort, icecastPort);
        {
            Relay counter(listenerPort);
            warmUp(counter);
            row.station = measure(station, listenerPort, stationRequest, n, seconds, counter, blockBytes);
            print("relaying", row.station);
            row.ice = measure(ice, icecastPort, icecastRequest, n, seconds, counter, blockBytes);
            print("icecast2", row.ice);
        }
        if (row.ice.everyBlock < 0.99) {
            printIcecastLog(dir.path());
        }
        std::printf(
            "  the relay's own thread: %.6f CPU s per s (%.2f %% of the relaying station)\n",
            row.station.relayThreads,
            row.station.cpuPerSecond > 0 ? row.station.relayThreads / row.station.cpuPerSecond * 100.0 : 0.0);
        std::printf(
            "  relay costs the station %+.4f CPU s per s (%+.1f %%); station / icecast2: CPU %s, RSS %s, "
            "memory per listener %s, whole-stream share %s\n",
            row.station.cpuPerSecond - row.alone.cpuPerSecond,
            row.alone.cpuPerSecond > 0
                ? (row.station.cpuPerSecond - row.alone.cpuPerSecond) / row.alone.cpuPerSecond * 100.0
                : 0.0,
            qPrintable(ratio(row.station.cpuPerSecond, row.ice.cpuPerSecond)),
            qPrintable(ratio(row.station.rss, row.ice.rss)),
            qPrintable(ratio(row.station.kibPerListener, row.ice.kibPerListener)),
            qPrintable(ratio(row.station.everyBlock, row.ice.everyBlock)));
        std::fflush(stdout);
        stopProcess(ice);
        stopProcess(station);
        rows.push_back(row);
    }

    std::printf("\n%7s | %-16s | %-33s | %-33s | %s\n", "N", "alone: CPU s/s",
                "relaying: CPU s/s, MiB, KiB/l, whole", "icecast2: CPU s/s, MiB, KiB/l, whole",
                "relay cost, ratio CPU, MiB, KiB/l");
    for (const Row& r : rows) {
        std::printf(
            "%7d | %16.4f | %7.4f %7.1f %7.2f %6.1f%% | %7.4f %7.1f %7.2f %6.1f%% | %+6.1f%% %s %s %s\n", r.n,
            r.alone.cpuPerSecond, r.station.cpuPerSecond, r.station.rss, r.station.kibPerListener,
            r.station.everyBlock * 100, r.ice.cpuPerSecond, r.ice.rss, r.ice.kibPerListener,
            r.ice.everyBlock * 100,
            r.alone.cpuPerSecond > 0
                ? (r.station.cpuPerSecond - r.alone.cpuPerSecond) / r.alone.cpuPerSecond * 100.0
                : 0.0,
            qPrintable(ratio(r.station.cpuPerSecond, r.ice.cpuPerSecond)),
            qPrintable(ratio(r.station.rss, r.ice.rss)),
            qPrintable(ratio(r.station.kibPerListener, r.ice.kibPerListener)));
    }

    // Through the relay: icecast2 alone carries M listeners of the station's stream.
    if (icecastListeners > 0 && !icecast.isEmpty()) {
        QTemporaryDir dir;
        ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
        const int listenerPort = freePort();
        writeSettings(dir.path(), listenerPort);
        const int icecastPort = freePort();
        const pid_t ice = spawn({icecast.toStdString(), "-c",
                                 icecastConfig(dir.path(), icecastPort, icecastListeners).toStdString()});
        if (!waitForPort(icecastPort, 20)) {
            std::fprintf(stderr, "icecast2 did not come up\n");
            stopProcess(ice);
            return 1;
        }
        const pid_t station = startStation(bin, dir.path(), listenerPort, icecastPort);
        Relay counter(listenerPort);
        warmUp(counter);
        const double stationCpuBefore = cpuSeconds(station);
        const auto t0 = Clock::now();
        const Figures f =
            measure(ice, icecastPort, icecastRequest, icecastListeners, seconds, counter, blockBytes);
        const double stationCpu = (cpuSeconds(station) - stationCpuBefore) /
                                  std::chrono::duration<double>(Clock::now() - t0).count();
        std::printf("\nThrough the relay, M = %d listeners on icecast2:\n", icecastListeners);
        print("icecast2", f);
        std::printf("  the station meanwhile (no direct listeners, one relay): %.4f CPU s per s\n",
                    stationCpu);
        if (f.everyBlock < 0.99) {
            printIcecastLog(dir.path());
        }
        stopProcess(ice);
        stopProcess(station);
    }
    return 0;
}
