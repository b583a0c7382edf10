// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ThreadSafety.h"

#include <QObject>

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
enum TThreadAction { taKill, taSuspend, taRun, taTerminate };
enum TThreadState : uint8_t { tsIdle = 0, tsSuspended = 1, tsRunning = 2, tsTerminated = 3 };

// The thread cannot be created.
class EThread : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A component that runs OnExecute on a thread of its own per request ("a run"), at most one run at a time,
// and announces each run's end on the thread that created the component (the window thread).
//
// The runs are carried out one after another by one long-lived thread, started with the first run: a
// thread started afresh for every block landed wherever the scheduler put new threads and sent to
// thousands of listeners measurably slower than one that keeps its place. Between runs that thread waits
// at the priority it inherited, so each run begins as a fresh thread would.
//
// Thread contract: construction, destruction, the priority setter, WaitForRun and OnTerminating belong to
// the creating thread, which must run a Qt event loop for end notices to arrive; DoAction may come from
// one other thread too (capture starts the runs). OnExecute runs on the run's thread; State() and
// Terminated() may be called from anywhere. The events are set before the first run.
// A run waits for its end notice on the creating thread only when there is one (OnTerminating set):
// without one, a busy creating thread holds up no run.
//
// Linux has no safe way to suspend or kill another thread, so both are cooperative:
// - taSuspend holds the run at its next pause point (before OnExecute starts, and before its end notice);
//   a run already inside OnExecute finishes that call first.
// - taKill marks the run terminated and announces its end at once on the requesting thread; the run's
//   thread is not killed: it skips OnExecute if it has not begun, otherwise finishes it, sends no second
//   notice, and only then lets the state return to tsIdle, so a new run never overlaps a killed one.
//   A run already asked to terminate (tsTerminated) is ended the same way, but its end is announced to
//   no one: OnTerminating does not fire for it.
// A run created with StartSuspended enters tsSuspended, so a later taRun starts it.
//
// Priorities map to the platform values -15, -2, -1, 0, 1, 2, 15 and are applied as the run thread's nice
// value relative to the one it inherited (nice = inherited - value, within -20..19). Raising the priority
// needs privileges; without them the run keeps its inherited priority and nothing is reported.
class TThreadComp {
public:
    using TNotifyEvent = std::function<void(TThreadComp* Sender)>;

    // OnCreate fires at the end of construction when given here (a component loaded with its window gets
    // its events only afterwards, so for it OnCreate never fires).
    explicit TThreadComp(TNotifyEvent onCreate = {});
    // Waits for a run that still exists (carrying out its end notice itself), then calls OnDestroy.
    ~TThreadComp();
    TThreadComp(const TThreadComp&) = delete;
    TThreadComp& operator=(const TThreadComp&) = delete;

    bool StartSuspended = false;
    bool FreeOnTerminate = true;
    int32_t ReturnValue = 0;
    TNotifyEvent OnCreate;
    TNotifyEvent OnExecute;
    TNotifyEvent OnTerminating;
    TNotifyEvent OnDestroy;

    TThreadPriority ThreadPriority() const;
    void SetThreadPriority(TThreadPriority value);

    // The request table: taRun creates a run when idle and resumes a suspended one; taSuspend and
    // taTerminate act on a running one; taKill on any existing one. Anything else does nothing.
    // Throws EThread "Thread creation error: ..." when the thread cannot be created.
    void DoAction(TThreadAction action);

    TThreadState State() const;
    // True while the current run has been asked to terminate (or killed). For OnExecute to poll.
    bool Terminated() const;

    // Waits up to timeoutMs (negative: without limit) until the current run's thread has finished
    // OnExecute and its end notice; carries out that notice here, since the event loop cannot while the
    // caller waits. True when no run is left under way.
    bool WaitForRun(int timeoutMs);

    // Nice value a priority maps to, given the nice value the thread inherited.
    static int niceFor(TThreadPriority priority, int inheritedNice);
    // The platform priority value of a TThreadPriority.
    static int platformPriority(TThreadPriority priority);

private:
    struct Run {
        bool terminated = false;
        bool suspended = false;
        bool killed = false;
        bool freeOnTerminate = true;
        bool noticeWanted = false;
        bool noticeDone = false;
        bool announce = false;    // OnTerminating was set when the run began
        bool threadDone = false;  // the thread touches nothing of the component any more
        TThreadPriority priority = tpNormal;
    };

    void carry();
    void runThread(Run* run);
    void carryOutNotice();
    void applyPriority(const Run& run) REQUIRES(mutex_);
    void startCarrier();
    void stopCarrier();

    mutable vx::Mutex mutex_;
    std::condition_variable changed_;
    // A run's fields are read and written under mutex_ too, also through the pointer its thread holds.
    std::unique_ptr<Run> run_ GUARDED_BY(mutex_);
    // The thread that carries out the runs (started and joined by the owner's thread), and the run handed
    // to it that it has not taken yet.
    std::thread carrier_;
    Run* handed_ GUARDED_BY(mutex_) = nullptr;
    // Asked to end, or ends because it cannot return to its priority.
    bool carrierLeaving_ GUARDED_BY(mutex_) = false;
    pid_t carrierTid_ GUARDED_BY(mutex_) = 0;  // 0 until the carrier has started
    int inheritedNice_ GUARDED_BY(mutex_) = 0;
    TThreadPriority priority_ GUARDED_BY(mutex_) = tpNormal;
    TThreadState state_ GUARDED_BY(mutex_) = tsIdle;
    bool NotifyPending GUARDED_BY(mutex_) = false;
    // Receives the queued end notices on the creating thread.
    std::unique_ptr<QObject> context_;
};
