// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <mutex>

// Clang's thread-safety analysis (-Wthread-safety): members say which mutex guards them, functions which
// mutex they need, and the compiler checks every access. Other compilers see plain code.
#if defined(__clang__)
#define VX_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VX_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) VX_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY VX_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) VX_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) VX_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) VX_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VX_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VX_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define EXCLUDES(...) VX_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS VX_THREAD_ATTRIBUTE(no_thread_safety_analysis)

namespace vx {

// std::mutex as a capability the analysis knows.
class CAPABILITY("mutex") Mutex {
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

private:
    friend class MutexLock;
    std::mutex mutex_;
};

// Holds a Mutex for its scope; condition-variable waits go through it and hold the mutex again when
// they return, as far as the analysis is concerned (a predicate is written as the caller's loop, so the
// analysis sees it read under the lock).
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    void wait(std::condition_variable& cv) { cv.wait(lock_); }
    // False when the deadline passed.
    template <class TimePoint>
    bool waitUntil(std::condition_variable& cv, const TimePoint& deadline) {
        return cv.wait_until(lock_, deadline) == std::cv_status::no_timeout;
    }
    // False when the time passed.
    template <class Duration>
    bool waitFor(std::condition_variable& cv, const Duration& duration) {
        return cv.wait_for(lock_, duration) == std::cv_status::no_timeout;
    }
    // Lets go of the mutex for a moment of work outside it, and takes it again.
    void unlock() RELEASE() { lock_.unlock(); }
    void relock() ACQUIRE() { lock_.lock(); }

private:
    std::unique_lock<std::mutex> lock_;
};

}  // namespace vx
