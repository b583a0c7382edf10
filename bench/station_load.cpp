// SPDX-License-Identifier: GPL-3.0-or-later
// The station under listener load, beside the floor and icecast2 fed with the same stream.
//
// Runs the real station headless (tone device, no listener limit) as a child process and, for each N,
// connects N listeners on loopback to each server, then measures all of them over one window of live
// audio: each server's CPU seconds per second of audio, its resident memory, the memory per listener
// (against the same server without listeners) and the share of the stream's bytes that every listener
// received. The floor, bench_floor_send, does one non-blocking send of each block per listener and
// nothing else; icecast2 is fed by a relay of the station's own stream. Both get each block a few hundred
// milliseconds after the station, so that no two servers send at the same moment; the last columns are
// CPU over the floor's.
//
//   bench_station_load [--seconds S] [--rounds R] [--storm K] [N ...]   (default: 10 s, 1 round,
//                                                                        N = 100 1000 5000)
//
// --rounds R measures R windows, each with new listeners, and reports the mean CPU, each round's figures on
// the way. --storm K opens K more listeners at 5000 a second to the station during the first window and
// reports how long the slowest waited for its answer. Three times N listeners need as many descriptors in
// this process; where that is beyond the hard limit (and the program may not raise it) the servers take
// turns instead, each measured in a window of its own.
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

// Sends "Liste" to the remote control and reads the answer: the seconds until the last of `expected`
// addresses arrived (or the answer stopped for a second), and the addresses it listed.
std::pair<double, int> askForList(int remotePort, int expected) {
    const auto t0 = Clock::now();
    const int fd = connectTo(remotePort);
    if (fd < 0) {
        return {-1.0, 0};
    }
    const QByteArray command = "Liste" + kTerminator;
    ::send(fd, command.constData(), std::size_t(command.size()), MSG_NOSIGNAL);
    timeval wait{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    QByteArray answer;
    auto last = Clock::now();
    char buffer[65536];
    for (ssize_t n; answer.count(kTerminator) < expected && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, n);
        last = Clock::now();
    }
    ::close(fd);
    return {std::chrono::duration<double>(last - t0).count(), int(answer.count(kTerminator))};
}

// Takes one round's figures into the row's: CPU as the mean over the rounds, the share of listeners
// that received every block as the worst round's, everything else from the first round.
// The listeners of the fixed-cost round.
constexpr int kFew = 10;

// CPU seconds per second of audio that one more listener costs, from a server with n and with kFew.
struct PerListener {
    double station = 0;
    double floor = 0;
};
PerListener perListener(const Figures& station, const Figures& stationFew, const Figures& floor,
                        const Figures& floorFew, int n) {
    return {(station.cpuPerSecond - stationFew.cpuPerSecond) / (n - kFew),
            (floor.cpuPerSecond - floorFew.cpuPerSecond) / (n - kFew)};
}

void addRound(Figures& total, const Figures& round, bool first, int rounds) {
    if (first) {
        const double cpu = round.cpuPerSecond / rounds;
        total = round;
        total.cpuPerSecond = cpu;
        return;
    }
    total.cpuPerSecond += round.cpuPerSecond / rounds;
    total.everyBlock = std::min(total.everyBlock, round.everyBlock);
    total.meanShare = std::min(total.meanShare, round.meanShare);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::signal(SIGPIPE, SIG_IGN);
    int seconds = 10;
    int storm = 0;
    int rounds = 1;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--storm") == 0 && i + 1 < argc) {
            storm = std::atoi(argv[++i]);
        } else {
            counts.push_back(std::atoi(argv[i]));
        }
    }
    if (counts.empty()) {
        counts = {100, 1000, 5000};
    }
    const rlim_t openFiles = raiseOpenFileLimit();

    const QString bin = QCoreApplication::applicationDirPath();
    const QString icecast = QStandardPaths::findExecutable(QStringLiteral("icecast2"));
    std::printf(
        "station: %s/vandorixserver, tone device, 18 kb/s MPEG Layer-3; floor: bench_floor_send; "
        "icecast2: %s; window %d s\n",
        qPrintable(bin), icecast.isEmpty() ? "not installed" : qPrintable(icecast), seconds);

    struct Row {
        int n;
        Figures floor, station, ice;
        // The same servers with kFew listeners, side by side: what broadcasting costs before the fan-out.
        Figures floorFew, stationFew;
        double idleCpu = 0;
        double listSeconds = -1;
        int listed = 0;
    };
    std::vector<Row> rows;
    for (const int n : counts) {
        QTemporaryDir dir;
        ::chmod(QFile::encodeName(dir.path()).constData(), 0777);  // icecast drops root for "nobody"
        const int listenerPort = freePort();
        const int remotePort = freePort();
        writeSettings(dir.path(), listenerPort);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const pid_t station = spawnStation(bin, dir.path(), remotePort);
        if (!waitForPort(remotePort, 20)) {
            std::fprintf(stderr, "the station did not come up\n");
            stopProcess(station);
            return 1;
        }
        Row row{n, {}, {}, {}, {}, {}};
        {
            // Between blocks a station without listeners should cost next to nothing.
            const double before = cpuSeconds(station);
            std::this_thread::sleep_for(std::chrono::seconds(5));
            row.idleCpu = (cpuSeconds(station) - before) / 5.0;
        }
        const bool pin = ::getenv("VX_PIN") != nullptr;
        if (pin) {
            pinProcess(::getpid(), 0);
            pinProcess(station, 1);
        }
        sendStart(remotePort);
        waitForPort(listenerPort, 20);

        int icecastPort = 0;
        pid_t ice = -1;
        if (!icecast.isEmpty()) {
            icecastPort = freePort();
            ice = spawn({icecast.toStdString(), "-c",
                         icecastConfig(dir.path(), icecastPort, n + storm).toStdString()});
            if (!waitForPort(icecastPort, 20)) {
                stopProcess(ice);
                ice = -1;
                icecastPort = 0;
            }
        }
        // The floor and icecast send each block 300 and 600 ms after the station: one window measures all
        // three under the same conditions of the machine, and no two of them send at the same moment.
        Relay relay(listenerPort, icecastPort, 600);
        warmUp(relay);
        const uint64_t blockBytes = 2400;  // one second of the 18 kb/s stream, with room
        const QByteArray get = "GET / HTTP/1.0\r\nUser-Agent: bench\r\n\r\n";
        // One window for all servers needs all their listeners in this process at once.
        const bool sideBySide = rlim_t((ice > 0 ? 3 : 2) * n + storm + 1024) <= openFiles;
        if (!sideBySide) {
            std::printf(
                "  N = %d: the servers take turns, %d listeners each exceed this process's limit of %llu "
                "descriptors when side by side\n",
                n, n, static_cast<unsigned long long>(openFiles));
        }
        for (int round = -1; round < rounds; ++round) {
            // Round -1 measures the fixed cost: the station's encoder, tone, timers and ports, the
            // floor's receiving of the stream, each with a handful of listeners.
            const bool fixedRound = round < 0;
            if (fixedRound && n <= kFew) {
                continue;
            }
            const int listenersNow = fixedRound ? kFew : n;
            const bool first = round == 0;
            // A fresh floor each round: the listeners of a round are new to every server.
            const int floorPort = freePort();
            const pid_t floor = spawn({(bin + "/bench_floor_send").toStdString(), std::to_string(floorPort),
                                       std::to_string(listenerPort), "300"});
            waitForPort(floorPort, 20);
            if (pin) {
                pinProcess(floor, 1);
            }
            std::vector<Server> servers{{station, listenerPort, get}, {floor, floorPort, get}};
            if (ice > 0 && !fixedRound) {
                servers.push_back({ice, icecastPort, "GET /stream HTTP/1.0\r\nUser-Agent: bench\r\n\r\n"});
            }
            // The relay and the floor are listeners of the station too; the storm's are on the list as well.
            const auto askStation = [&] {
                if (first) {
                    std::tie(row.listSeconds, row.listed) = askForList(remotePort, n + storm + 2);
                }
            };
            std::vector<Figures> f;
            if (sideBySide) {
                f = measureSideBySide(servers, listenersNow, seconds, relay, blockBytes, {first ? storm : 0},
                                      askStation);
            } else {
                // One window per server, each with listeners of its own.
                for (std::size_t i = 0; i < servers.size(); ++i) {
                    const bool station = i == 0;
                    f.push_back(
                        measure(servers[i].pid, servers[i].port, servers[i].request, listenersNow, seconds,
                                relay, blockBytes, {station && first ? storm : 0},
                                station ? std::function<void()>(askStation) : std::function<void()>()));
                }
            }
            stopProcess(floor);
            if (fixedRound) {
                row.stationFew = f[0];
                row.floorFew = f[1];
                continue;
            }
            const Figures iceRound = ice > 0 ? f[2] : Figures{};
            if (rounds > 1) {
                std::printf(
                    "  round %d: floor %.4f, station %.4f, icecast2 %.4f CPU s per s; station / floor %s\n",
                    round + 1, f[1].cpuPerSecond, f[0].cpuPerSecond, iceRound.cpuPerSecond,
                    qPrintable(ratio(f[0].cpuPerSecond, f[1].cpuPerSecond)));
                std::fflush(stdout);
            }
            addRound(row.station, f[0], first, rounds);
            addRound(row.floor, f[1], first, rounds);
            addRound(row.ice, iceRound, first, rounds);
        }
        std::printf("N = %d\n", n);
        print("floor", row.floor);
        print("station", row.station);
        if (n > kFew) {
            const PerListener cost = perListener(row.station, row.stationFew, row.floor, row.floorFew, n);
            std::printf(
                "  fixed cost (%d listeners): station %.5f, floor %.5f CPU s per s; per listener: station "
                "%.2f, floor %.2f us CPU per s, station / floor %s\n",
                kFew, row.stationFew.cpuPerSecond, row.floorFew.cpuPerSecond, cost.station * 1e6,
                cost.floor * 1e6, qPrintable(ratio(cost.station, cost.floor)));
        }
        std::printf("  station idle: %.5f CPU s per s; \"Liste\" answered in %.3f s with %d addresses\n",
                    row.idleCpu, row.listSeconds, row.listed);
        if (storm > 0) {
            std::printf("  storm: %d of %d new listeners answered, the slowest after %.2f s\n",
                        row.station.stormAnswered, storm, row.station.stormLongest);
        }
        if (ice > 0) {
            print("icecast2", row.ice);
            if (row.ice.everyBlock < 0.99) {
                printIcecastLog(dir.path());
            }
            stopProcess(ice);
        }
        std::fflush(stdout);
        stopProcess(station);
        rows.push_back(row);
    }

    std::printf("\n%7s | %-24s | %-24s | %s\n", "N", "fixed: station, floor",
                "per listener (us/s): station, floor", "per listener: station / floor");
    for (const Row& r : rows) {
        if (r.n <= kFew) {
            continue;
        }
        const PerListener cost = perListener(r.station, r.stationFew, r.floor, r.floorFew, r.n);
        std::printf("%7d | %11.5f %11.5f  | %11.2f %11.2f  | %s\n", r.n, r.stationFew.cpuPerSecond,
                    r.floorFew.cpuPerSecond, cost.station * 1e6, cost.floor * 1e6,
                    qPrintable(ratio(cost.station, cost.floor)));
    }
    std::printf("\n%7s | %-26s | %-26s | %-26s | %s\n", "N", "floor: CPU s/s, MiB, whole",
                "station: CPU s/s, KiB/l, whole", "icecast2: CPU s/s, KiB/l, whole",
                "CPU / floor: station, icecast2");
    for (const Row& r : rows) {
        std::printf("%7d | %8.4f %7.1f %6.1f%% | %8.4f %7.2f %6.1f%% | %8.4f %7.2f %6.1f%% | %s %s\n", r.n,
                    r.floor.cpuPerSecond, r.floor.rss, r.floor.everyBlock * 100, r.station.cpuPerSecond,
                    r.station.kibPerListener, r.station.everyBlock * 100, r.ice.cpuPerSecond,
                    r.ice.kibPerListener, r.ice.everyBlock * 100,
                    qPrintable(ratio(r.station.cpuPerSecond, r.floor.cpuPerSecond)),
                    qPrintable(ratio(r.ice.cpuPerSecond, r.floor.cpuPerSecond)));
    }
    return 0;
}
