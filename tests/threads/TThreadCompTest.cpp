// SPDX-License-Identifier: GPL-3.0-or-later
// The worker component: its request table, the end notice on the window thread, dropped errors,
// priorities and a destruction that waits for the run.
#include "app/StationApplication.h"
#include "support/TestSupport.h"
#include "threads/TThreadComp.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace {

// A gate OnExecute waits at until the test opens it.
class Gate {
public:
    void open() {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    void pass() {
        std::unique_lock lock(m_);
        cv_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool open_ = false;
};

// Takes the privilege to raise priorities out of this thread (and the threads it starts) while alive, so
// that a test run as root meets the limits of an ordinary user.
class WithoutNicePrivilege {
public:
    WithoutNicePrivilege() {
        ::syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~(1u << CAP_SYS_NICE);
        ::syscall(SYS_capset, &header_, lowered);
    }
    ~WithoutNicePrivilege() { ::syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
};

struct Counters {
    std::atomic<int> executes{0};
    std::atomic<int> entered{0};
    std::atomic<int> finished{0};
    int terminating = 0;  // window thread only
    bool terminatingOnWindowThread = true;
    TThreadState stateDuringNotice = tsIdle;
};

void bind(TThreadComp& comp, Counters& c, Gate* gate) {
    comp.OnExecute = [&c, gate](TThreadComp*) {
        ++c.executes;
        ++c.entered;
        if (gate) {
            gate->pass();
        }
        ++c.finished;
    };
    comp.OnTerminating = [&c](TThreadComp* sender) {
        ++c.terminating;
        c.terminatingOnWindowThread &= QThread::currentThread() == QCoreApplication::instance()->thread();
        c.stateDuringNotice = sender->State();
    };
}

TEST(TThreadComp, RunRequestedWhileRunningCreatesNoSecondRun) {
    Counters c;
    Gate gate;
    TThreadComp comp;
    bind(comp, c, &gate);

    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return c.entered == 1; }));
    comp.DoAction(taRun);
    comp.DoAction(taRun);
    EXPECT_EQ(comp.State(), tsRunning);
    gate.open();
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle; }));
    EXPECT_EQ(c.executes, 1);
    EXPECT_EQ(c.terminating, 1);

    // Back in idle, the next request runs again.
    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle && c.terminating == 2; }));
    EXPECT_EQ(c.executes, 2);
}

TEST(TThreadComp, TerminateLetsTheRunFinishAndAnnouncesItsEndOnce) {
    Counters c;
    Gate gate;
    TThreadComp comp;
    bind(comp, c, &gate);

    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return c.entered == 1; }));
    comp.DoAction(taTerminate);
    EXPECT_EQ(comp.State(), tsTerminated);
    EXPECT_TRUE(comp.Terminated());
    comp.DoAction(taRun);  // ignored while terminated
    gate.open();
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle; }));
    EXPECT_EQ(c.finished, 1);
    EXPECT_EQ(c.executes, 1);
    EXPECT_EQ(c.terminating, 1);
    EXPECT_TRUE(c.terminatingOnWindowThread);
    // The run's thread waited for the notice: it had not gone yet while OnTerminating ran.
    EXPECT_EQ(c.stateDuringNotice, tsTerminated);
}

TEST(TThreadComp, WithoutFreeOnTerminateOnlyTheFirstRunRuns) {
    Counters c;
    TThreadComp comp;
    comp.FreeOnTerminate = false;
    bind(comp, c, nullptr);

    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return c.terminating == 1; }));
    ASSERT_TRUE(comp.WaitForRun(5000));
    EXPECT_EQ(comp.State(), tsRunning);  // the ended run was never destroyed
    comp.DoAction(taRun);
    comp.DoAction(taRun);
    ASSERT_TRUE(comp.WaitForRun(5000));  // would wait for a second run if one had been created
    EXPECT_EQ(c.executes, 1);
    EXPECT_EQ(c.terminating, 1);
}

TEST(TThreadComp, TerminateWhileIdleDoesNotReachTheNextRun) {
    Counters c;
    TThreadComp comp;
    bind(comp, c, nullptr);
    std::atomic<bool> sawTerminated{true};
    comp.OnExecute = [&](TThreadComp* sender) {
        sawTerminated = sender->Terminated();
        ++c.executes;
    };

    comp.DoAction(taTerminate);
    comp.DoAction(taSuspend);
    comp.DoAction(taKill);
    EXPECT_EQ(comp.State(), tsIdle);
    EXPECT_EQ(c.terminating, 0);
    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle && c.terminating == 1; }));
    EXPECT_EQ(c.executes, 1);
    EXPECT_FALSE(sawTerminated);
}

TEST(TThreadComp, ErrorsInOnExecuteAreDroppedAndTheRunEndsNormally) {
    auto* app = static_cast<StationApplication*>(QCoreApplication::instance());
    int reported = 0;
    auto previous = app->OnException;
    app->OnException = [&](QObject*, const std::exception&) { ++reported; };

    Counters c;
    TThreadComp comp;
    bind(comp, c, nullptr);
    int kind = 0;
    comp.OnExecute = [&kind](TThreadComp*) {
        if (kind == 0) {
            throw std::runtime_error("conversion failed");
        }
        throw 42;  // not even an exception class
    };
    for (kind = 0; kind < 2; ++kind) {
        comp.DoAction(taRun);
        ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle && c.terminating == kind + 1; }));
    }
    app->OnException = previous;
    EXPECT_EQ(reported, 0);
}

TEST(TThreadComp, KillAnnouncesARunningRunAtOnceATerminatedOneNeverAndNoNewRunOverlaps) {
    Counters c;
    Gate gate;
    TThreadComp comp;
    bind(comp, c, &gate);

    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return c.entered == 1; }));
    comp.DoAction(taKill);
    EXPECT_EQ(c.terminating, 1);  // announced inside DoAction
    EXPECT_EQ(comp.State(), tsTerminated);
    comp.DoAction(taRun);
    EXPECT_EQ(c.entered, 1);
    gate.open();
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle; }));
    ASSERT_TRUE(comp.WaitForRun(5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(c.terminating, 1);
    EXPECT_EQ(c.executes, 1);

    // A run already asked to terminate is only ended: no notice from the kill, none from its thread.
    Gate second;
    bind(comp, c, &second);
    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return c.entered == 2; }));
    comp.DoAction(taTerminate);
    comp.DoAction(taKill);
    EXPECT_EQ(c.terminating, 1);
    second.open();
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle; }));
    ASSERT_TRUE(comp.WaitForRun(5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(c.terminating, 1);
    EXPECT_EQ(c.finished, 2);
    comp.DoAction(taRun);  // the next run is announced again
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle && c.terminating == 2; }));
}

TEST(TThreadComp, SuspendedRunsWaitForTheNextRunRequest) {
    Counters c;
    TThreadComp comp;
    comp.StartSuspended = true;
    bind(comp, c, nullptr);

    comp.DoAction(taRun);
    EXPECT_EQ(comp.State(), tsSuspended);
    EXPECT_FALSE(comp.WaitForRun(100));
    EXPECT_EQ(c.executes, 0);
    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle && c.terminating == 1; }));
    EXPECT_EQ(c.executes, 1);

    // Suspended during OnExecute: the run holds before its end notice until it is resumed.
    Gate gate;
    comp.StartSuspended = false;
    bind(comp, c, &gate);
    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return c.entered == 2; }));
    comp.DoAction(taSuspend);
    EXPECT_EQ(comp.State(), tsSuspended);
    gate.open();
    ASSERT_TRUE(vxtest::waitUntil([&] { return c.finished == 2; }));
    EXPECT_FALSE(comp.WaitForRun(100));
    EXPECT_EQ(c.terminating, 1);
    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle && c.terminating == 2; }));
}

TEST(TThreadComp, DestructionWaitsForTheRunAndCarriesOutItsNotice) {
    Counters c;
    std::atomic<bool> finished{false};
    {
        TThreadComp comp;
        bind(comp, c, nullptr);
        comp.OnExecute = [&](TThreadComp* sender) {
            ++c.entered;
            while (!sender->Terminated()) {
                std::this_thread::yield();
            }
            finished = true;
        };
        comp.DoAction(taRun);
        ASSERT_TRUE(vxtest::waitUntil([&] { return c.entered == 1; }));
    }  // no event loop runs here: the destructor itself must carry out the end notice
    EXPECT_TRUE(finished);
    EXPECT_EQ(c.terminating, 1);
}

TEST(TThreadComp, PriorityMapsToTheNiceValueOfTheRunThread) {
    struct Row {
        TThreadPriority priority;
        int platform;
    };
    const Row rows[] = {{tpIdle, -15}, {tpLowest, -2}, {tpLower, -1},       {tpNormal, 0},
                        {tpHigher, 1}, {tpHighest, 2}, {tpTimeCritical, 15}};
    for (const Row& row : rows) {
        EXPECT_EQ(TThreadComp::platformPriority(row.priority), row.platform) << row.priority;
        EXPECT_EQ(TThreadComp::niceFor(row.priority, 0), -row.platform) << row.priority;
    }
    EXPECT_EQ(TThreadComp::niceFor(tpIdle, 10), 19);
    EXPECT_EQ(TThreadComp::niceFor(tpTimeCritical, -10), -20);

    // Lowering a thread's priority needs no privilege, so this holds everywhere.
    const WithoutNicePrivilege unprivileged;
    errno = 0;
    const int inherited = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    ASSERT_EQ(errno, 0);
    Counters c;
    Gate gate;
    TThreadComp comp;
    comp.SetThreadPriority(tpLowest);
    std::atomic<int> atStart{0};
    std::atomic<int> afterChange{0};
    comp.OnExecute = [&](TThreadComp*) {
        atStart = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
        ++c.entered;
        gate.pass();
        afterChange = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    };
    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return c.entered == 1; }));
    comp.SetThreadPriority(tpIdle);  // applies to the running run at once
    gate.open();
    ASSERT_TRUE(vxtest::waitUntil([&] { return comp.State() == tsIdle; }));
    EXPECT_EQ(atStart, std::min(inherited + 2, 19));
    EXPECT_EQ(afterChange, std::min(inherited + 15, 19));

    // The next run begins at its own priority, although the thread of the last one was lowered further
    // than an unprivileged thread may raise it again.
    comp.SetThreadPriority(tpLowest);
    comp.DoAction(taRun);
    ASSERT_TRUE(vxtest::waitUntil([&] { return c.entered == 2 && comp.State() == tsIdle; }));
    EXPECT_EQ(atStart, std::min(inherited + 2, 19));
    EXPECT_EQ(afterChange, std::min(inherited + 2, 19));
}

}  // namespace
