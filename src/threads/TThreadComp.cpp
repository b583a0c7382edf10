// SPDX-License-Identifier: GPL-3.0-or-later
#include "threads/TThreadComp.h"

#include "platform/Posting.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <utility>

TThreadComp::TThreadComp(TNotifyEvent onCreate) : OnCreate(std::move(onCreate)), context_(new QObject) {
    if (OnCreate) {
        OnCreate(this);
    }
}

TThreadComp::~TThreadComp() {
    {
        // A run that still waits to start (or is held suspended) would never end by itself.
        vx::MutexLock lock(mutex_);
        if (run_ && !run_->threadDone) {
            run_->terminated = true;
            run_->suspended = false;
            changed_.notify_all();
        }
    }
    try {
        WaitForRun(-1);
    } catch (...) {
        // An OnTerminating failure has nowhere to go while the component goes.
    }
    stopCarrier();
    if (OnDestroy) {
        try {
            OnDestroy(this);
        } catch (...) {
        }
    }
}

int TThreadComp::platformPriority(TThreadPriority priority) {
    static constexpr int kValues[] = {-15, -2, -1, 0, 1, 2, 15};
    return kValues[std::clamp<int>(priority, tpIdle, tpTimeCritical)];
}

int TThreadComp::niceFor(TThreadPriority priority, int inheritedNice) {
    return std::clamp(inheritedNice - platformPriority(priority), -20, 19);
}

TThreadPriority TThreadComp::ThreadPriority() const {
    vx::MutexLock lock(mutex_);
    return priority_;
}

void TThreadComp::SetThreadPriority(TThreadPriority value) {
    vx::MutexLock lock(mutex_);
    priority_ = value;
    if (state_ != tsIdle && run_) {
        run_->priority = value;
        applyPriority(*run_);
    }
}

void TThreadComp::applyPriority(const Run& run) {
    if (carrierTid_ == 0 || run.threadDone) {
        return;  // the carrier applies it itself when it takes the run
    }
    // Failure (no privilege to raise the priority) leaves the thread at its inherited priority.
    (void)::setpriority(PRIO_PROCESS, id_t(carrierTid_), niceFor(run.priority, inheritedNice_));
}

TThreadState TThreadComp::State() const {
    vx::MutexLock lock(mutex_);
    return state_;
}

bool TThreadComp::Terminated() const {
    vx::MutexLock lock(mutex_);
    return run_ && run_->terminated;
}

void TThreadComp::startCarrier() {
    try {
        carrier_ = std::thread([this] { carry(); });
    } catch (const std::system_error& e) {
        throw EThread("Thread creation error: " + e.code().message());
    }
}

// Asks the carrier to end and waits for it; only called while no run is under way or waiting for it.
void TThreadComp::stopCarrier() {
    {
        vx::MutexLock lock(mutex_);
        carrierLeaving_ = true;
        changed_.notify_all();
    }
    if (carrier_.joinable()) {
        carrier_.join();
    }
    vx::MutexLock lock(mutex_);
    carrierLeaving_ = false;
    carrierTid_ = 0;
}

void TThreadComp::carry() {
    ::pthread_setname_np(::pthread_self(), "worker");
    vx::MutexLock lock(mutex_);
    carrierTid_ = ::gettid();
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, id_t(carrierTid_));
    inheritedNice_ = errno == 0 ? nice : 0;
    for (;;) {
        while (handed_ == nullptr && !carrierLeaving_) {
            lock.wait(changed_);
        }
        if (handed_ == nullptr) {
            return;
        }
        Run* const run = std::exchange(handed_, nullptr);
        applyPriority(*run);
        lock.unlock();
        runThread(run);
        lock.relock();
    }
}

void TThreadComp::DoAction(TThreadAction action) {
    bool announceKill = false;
    {
        vx::MutexLock lock(mutex_);
        switch (action) {
            case taRun:
                if (state_ == tsIdle) {
                    if (carrierLeaving_ || !carrier_.joinable()) {
                        lock.unlock();
                        stopCarrier();  // one that leaves after its last run is gone in a moment
                        lock.relock();
                        startCarrier();
                    }
                    // The last run's thread is done with it: the state is idle.
                    run_ = std::make_unique<Run>();
                    run_->freeOnTerminate = FreeOnTerminate;
                    run_->priority = priority_;
                    run_->suspended = StartSuspended;
                    run_->announce = bool(OnTerminating);
                    handed_ = run_.get();
                    changed_.notify_all();
                    state_ = StartSuspended ? tsSuspended : tsRunning;
                    NotifyPending = true;
                } else if (state_ == tsSuspended) {
                    run_->suspended = false;
                    state_ = tsRunning;
                    changed_.notify_all();
                }
                break;
            case taSuspend:
                if (state_ == tsRunning && !run_->threadDone) {
                    run_->suspended = true;
                    state_ = tsSuspended;
                }
                break;
            case taTerminate:
                if (state_ == tsRunning) {
                    run_->terminated = true;
                    state_ = tsTerminated;
                }
                break;
            case taKill:
                if (state_ != tsIdle && run_) {
                    // A run that was asked to terminate is only ended: its end is announced to no one,
                    // by the kill or by its thread. A running or suspended one is announced here.
                    announceKill =
                        state_ != tsTerminated && !run_->noticeDone && std::exchange(NotifyPending, false);
                    run_->terminated = true;
                    run_->killed = true;
                    run_->suspended = false;
                    state_ = tsTerminated;
                    run_->noticeDone = true;  // the thread sends no notice of its own
                    changed_.notify_all();
                }
                break;
        }
    }
    if (announceKill) {
        if (OnTerminating) {
            OnTerminating(this);
        }
    }
}

void TThreadComp::runThread(Run* run) {
    bool skip = false;
    {
        vx::MutexLock lock(mutex_);
        while (run->suspended && !run->terminated) {
            lock.wait(changed_);
        }
        skip = run->terminated;
    }
    if (!skip && OnExecute) {
        try {
            OnExecute(this);
        } catch (...) {
            // A failing run ends like any other: its error reaches no one.
        }
    }

    bool announce = false;
    {
        vx::MutexLock lock(mutex_);
        while (run->suspended && !run->terminated) {
            lock.wait(changed_);
        }
        if (!run->noticeDone && !run->announce) {
            run->noticeDone = true;  // nobody to tell: the run ends without the creating thread
        } else if (!run->noticeDone) {
            run->noticeWanted = true;
            announce = true;
            changed_.notify_all();  // a caller in WaitForRun carries the notice out itself
        }
    }
    if (announce) {
        vx::postTo(context_.get(), [this] { carryOutNotice(); });
        vx::MutexLock lock(mutex_);
        while (!run->noticeDone) {
            lock.wait(changed_);
        }
    }

    vx::MutexLock lock(mutex_);
    // The next run begins at the inherited priority, as on a fresh thread. A lowered priority cannot be
    // raised again without privileges: then this thread leaves and the next run starts a new one.
    if (::setpriority(PRIO_PROCESS, id_t(carrierTid_), inheritedNice_) != 0) {
        carrierLeaving_ = true;
    }
    if (run->freeOnTerminate) {
        state_ = tsIdle;
    }
    run->threadDone = true;
    changed_.notify_all();
}

void TThreadComp::carryOutNotice() {
    bool fire = false;
    {
        vx::MutexLock lock(mutex_);
        if (!run_ || !run_->noticeWanted || run_->noticeDone) {
            return;  // carried out already (by a waiting caller or a kill)
        }
        fire = std::exchange(NotifyPending, false);
    }
    // The run's thread goes on even when OnTerminating fails.
    struct Release {
        TThreadComp* self;
        ~Release() {
            vx::MutexLock lock(self->mutex_);
            self->run_->noticeDone = true;
            self->changed_.notify_all();
        }
    } release{this};
    if (fire) {
        if (OnTerminating) {
            OnTerminating(this);
        }
    }
}

bool TThreadComp::WaitForRun(int timeoutMs) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    vx::MutexLock lock(mutex_);
    for (;;) {
        if (!run_ || run_->threadDone) {
            return true;
        }
        if (run_->noticeWanted && !run_->noticeDone) {
            lock.unlock();
            carryOutNotice();
            lock.relock();
            continue;
        }
        if (timeoutMs < 0) {
            lock.wait(changed_);
        } else if (!lock.waitUntil(changed_, deadline)) {
            return !run_ || run_->threadDone;
        }
    }
}
