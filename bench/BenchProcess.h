// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every benchmark program needs around the servers it measures: free ports, connections on
// loopback, child processes, and their CPU time and memory from /proc.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace vxbench {

using Clock = std::chrono::steady_clock;

inline int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// A connection to the port on loopback; -1 when refused. A non-blocking one may still be connecting.
inline int connectTo(int port, bool blocking = true) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && (blocking || errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool waitForPort(int port, int seconds) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        const int fd = connectTo(port);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Puts every thread of a process on one CPU; the threads it starts later inherit it.
inline void pinProcess(pid_t pid, int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        ::sched_setaffinity(pid_t(task.toInt()), sizeof set, &set);
    }
}

// Starts a program with its output thrown away, its standard error to errorFd when given.
inline pid_t spawn(const std::vector<std::string>& args, int errorFd = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        const int devnull = ::open("/dev/null", O_RDWR);
        ::dup2(devnull, 1);
        ::dup2(errorFd >= 0 ? errorFd : devnull, 2);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

inline void stopProcess(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// User and system time of the whole process, threads that have ended included (a server that starts a
// thread per block does much of its work in threads that are gone by the time /proc/PID/task is read),
// to the nanosecond: /proc/PID/stat counts in clock ticks, which at 10 ms is a few per cent of a window.
inline double cpuSeconds(pid_t pid) {
    clockid_t clock{};
    timespec t{};
    if (::clock_getcpuclockid(pid, &clock) != 0 || ::clock_gettime(clock, &t) != 0) {
        return 0.0;
    }
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

inline double rssMiB(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) {
        return 0.0;
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return 0.0;
}

}  // namespace vxbench
