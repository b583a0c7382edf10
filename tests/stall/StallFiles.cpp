// SPDX-License-Identifier: GPL-3.0-or-later
// A disk that stops answering, for a station process run with LD_PRELOAD: while the file named by
// VX_STALL_FLAG exists, every open, write, sync, rename and close of a path under the folder VX_STALL_DIR
// (and of the descriptors opened there) waits, as a network folder or a USB stick that hangs does.
// Nothing else is touched.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMostDescriptors = 65536;
std::atomic<bool> g_stalledFd[kMostDescriptors];

const char* env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool underFolder(const char* path) {
    const char* dir = env("VX_STALL_DIR");
    if (dir == nullptr || path == nullptr) {
        return false;
    }
    const std::size_t n = std::strlen(dir);
    return std::strncmp(path, dir, n) == 0 && (path[n] == '\0' || path[n] == '/');
}

bool stalledFd(int fd) {
    return fd >= 0 && fd < kMostDescriptors && g_stalledFd[fd].load(std::memory_order_relaxed);
}

void markFd(int fd, bool stalled) {
    if (fd >= 0 && fd < kMostDescriptors) {
        g_stalledFd[fd].store(stalled, std::memory_order_relaxed);
    }
}

// Waits while the flag file exists. access() is not wrapped here.
void stall() {
    const char* flag = env("VX_STALL_FLAG");
    while (flag != nullptr && ::access(flag, F_OK) == 0) {
        ::usleep(20000);
    }
}

template <class F>
F next(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

mode_t modeOf(int flags, va_list args) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(args, int)) : 0;
}

int opened(const char* path, int fd) {
    if (underFolder(path)) {
        markFd(fd, true);
    }
    return fd;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    if (underFolder(path)) {
        stall();
    }
    static const auto real = next<int (*)(const char*, int, ...)>("open");
    return opened(path, real(path, flags, mode));
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    if (underFolder(path)) {
        stall();
    }
    static const auto real = next<int (*)(const char*, int, ...)>("open64");
    return opened(path, real(path, flags, mode));
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    if (underFolder(path)) {
        stall();
    }
    static const auto real = next<int (*)(int, const char*, int, ...)>("openat");
    return opened(path, real(dirfd, path, flags, mode));
}

int openat64(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    if (underFolder(path)) {
        stall();
    }
    static const auto real = next<int (*)(int, const char*, int, ...)>("openat64");
    return opened(path, real(dirfd, path, flags, mode));
}

int __open_2(const char* path, int flags) {
    return open(path, flags);
}

int __open64_2(const char* path, int flags) {
    return open64(path, flags);
}

ssize_t write(int fd, const void* data, size_t size) {
    if (stalledFd(fd)) {
        stall();
    }
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    return real(fd, data, size);
}

int fsync(int fd) {
    if (stalledFd(fd)) {
        stall();
    }
    static const auto real = next<int (*)(int)>("fsync");
    return real(fd);
}

int fdatasync(int fd) {
    if (stalledFd(fd)) {
        stall();
    }
    static const auto real = next<int (*)(int)>("fdatasync");
    return real(fd);
}

int rename(const char* from, const char* to) {
    if (underFolder(from) || underFolder(to)) {
        stall();
    }
    static const auto real = next<int (*)(const char*, const char*)>("rename");
    return real(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    if (underFolder(from) || underFolder(to)) {
        stall();
    }
    static const auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
    return real(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    if (underFolder(from) || underFolder(to)) {
        stall();
    }
    static const auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return real(fromDir, from, toDir, to, flags);
}

int close(int fd) {
    if (stalledFd(fd)) {
        stall();
        markFd(fd, false);
    }
    static const auto real = next<int (*)(int)>("close");
    return real(fd);
}

}  // extern "C"
