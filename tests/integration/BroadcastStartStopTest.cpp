// SPDX-License-Identifier: GPL-3.0-or-later
// Starting and stopping the broadcast: refusals, failures that undo themselves, the directory at the
// stop, and a stop that does not pull the codec stream from under a running run.
#include "StationHarness.h"
#include "app/SignalCloser.h"
#include "audio/QueuedFileWriter.h"
#include "platform/Posting.h"
#include "platform/wavein/SimulatedWaveIn.h"
#include "support/LocalHttpServer.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <thread>

using vxtest::CoreStation;
using vxtest::LiveStation;
using vxtest::LocalHttpServer;

namespace {

std::shared_ptr<vx::wavein::SimulatedWaveIn> simulatedCapture() {
    return std::make_shared<vx::wavein::SimulatedWaveIn>();
}

TEST(BroadcastStart, EmptyRadioNameShowsMessage28AndChangesNothing) {
    auto capture = simulatedCapture();
    CoreStation s(capture, std::make_shared<vx::acm::SimulatedAcm>());
    Station& st = s.station();
    st.editSettings([](StationSettings& settings) {
        settings.radioName.clear();
        settings.mp3Copy = true;
    });
    StationProbe(st).setErrorCount(5);
    s.start();
    EXPECT_EQ(s.dialogs.messages, QStringList{st.Msg(28)});
    EXPECT_EQ(st.state(), StationState::Stopped);
    EXPECT_FALSE(s.broadcasting());
    EXPECT_FALSE(StationProbe(st).road.codec().Active());
    EXPECT_FALSE(StationProbe(st).road.capture().Active());
    EXPECT_EQ(capture->opens, 0);
    EXPECT_FALSE(StationProbe(st).directory().reportsRunning());
    EXPECT_FALSE(StationProbe(st).StatsTimer->isActive());
    EXPECT_EQ(StationProbe(st).road.errorCount(), 5u);
    EXPECT_TRUE(s.mp3Copies().isEmpty());
}

// Copies are named to the second: one started within the second of an earlier one keeps both.
TEST(BroadcastStart, AnMp3CopyNeverEmptiesAnEarlierOneOfTheSameName) {
    CoreStation s(simulatedCapture(), std::make_shared<vx::acm::SimulatedAcm>());
    Station& st = s.station();
    const QDateTime now = QDateTime::currentDateTime();
    QStringList earlier;
    for (int i = 0; i < 30; ++i) {  // whichever second the start falls into
        earlier << vxtest::writeFile(s.dir.path(), st.DateTimetoFilename(now.addSecs(i)) + ".mp3", "earlier");
    }
    st.editSettings([](StationSettings& settings) { settings.mp3Copy = true; });
    s.start();
    ASSERT_TRUE(s.broadcasting()) << s.dialogs.messages.join('|').toStdString();
    ASSERT_TRUE(s.filesSettled());
    EXPECT_TRUE(StationProbe(st).road.mp3File().fileName().endsWith(QStringLiteral(" (2).mp3")))
        << StationProbe(st).road.mp3File().fileName().toStdString();
    EXPECT_TRUE(QFile::exists(StationProbe(st).road.mp3File().fileName()));
    for (const QString& path : earlier) {
        EXPECT_EQ(vxtest::readFile(path), "earlier") << path.toStdString();
    }
    s.stop();
}

// "Mp3Aufz" is read at the start only; a copy that cannot be created is reported with the start's step
// and the run-time I/O error's text, and the broadcast goes on without it.
TEST(BroadcastStart, TheMp3CheckBoxCountsAtTheStartOnlyAndACopyThatCannotBeMadeIsReportedAtStep12) {
    auto capture = simulatedCapture();
    CoreStation s(capture, std::make_shared<vx::acm::SimulatedAcm>());  // 7 bytes a block
    Station& st = s.station();
    s.start();
    st.editSettings([](StationSettings& settings) { settings.mp3Copy = true; });
    ASSERT_TRUE(s.oneBlock(*capture));
    s.stop();
    EXPECT_TRUE(s.mp3Copies().isEmpty()) << "checking the box during a broadcast started a copy";

    s.start();
    ASSERT_EQ(s.mp3Copies().size(), 1);
    st.editSettings([](StationSettings& settings) { settings.mp3Copy = false; });
    ASSERT_TRUE(s.oneBlock(*capture));
    ASSERT_TRUE(s.oneBlock(*capture));
    s.stop();
    EXPECT_EQ(vxtest::readFile(s.path(s.mp3Copies().value(0))), QByteArray(14, '\xAB'))
        << "unchecking the box during a broadcast ended the copy";

    st.editSettings([](StationSettings& settings) { settings.mp3Copy = true; });
    ASSERT_TRUE(QDir(s.dir.path()).removeRecursively());
    s.start();
    ASSERT_TRUE(vxtest::waitUntil([&] { return !s.dialogs.messages.isEmpty(); }));
    EXPECT_EQ(s.dialogs.messages, QStringList{Station::reportText(QStringLiteral("File not found"),
                                                                  QStringLiteral("ConnectrbtnClick"), 12)});
    EXPECT_TRUE(s.broadcasting());
    EXPECT_FALSE(st.status()->mode.mp3Copy);
    s.stop();
    EXPECT_FALSE(capture->isOpen());
}

// A new start counts its transmission errors from 0; the label keeps the last broadcast's count until
// the first error of this one.
TEST(BroadcastStart, ANewStartCountsErrorsAfreshAndTheLabelKeepsItsTextUntilTheNextError) {
    auto capture = simulatedCapture();
    auto codecs = std::make_shared<vx::acm::SimulatedAcm>();
    LiveStation s(capture, codecs);
    TMainform& w = s.w();
    w.Connectrbtn->click();
    codecs->setResult("convert", 1);  // each block is a transmission error, the first one reported
    ASSERT_TRUE(s.oneBlock(*capture));
    ASSERT_TRUE(s.oneBlock(*capture));
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.Errorsvandorixclient->text() == QLatin1String("2"); }));
    w.Disconnectrbtn->click();

    w.Connectrbtn->click();
    ASSERT_TRUE(s.broadcasting());
    EXPECT_EQ(StationProbe(w.station()).road.errorCount(), 0u);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.Errorsvandorixclient->text(), QStringLiteral("2"));
    ASSERT_TRUE(s.oneBlock(*capture));
    EXPECT_TRUE(vxtest::waitUntil([&] { return w.Errorsvandorixclient->text() == QLatin1String("1"); }));
    w.Disconnectrbtn->click();
}

TEST(BroadcastStart, PortInUseFailsTheStartWhichUndoesItselfAndTheNextStartWorks) {
    auto capture = simulatedCapture();
    CoreStation s(capture, std::make_shared<vx::acm::SimulatedAcm>());
    Station& st = s.station();
    st.editSettings([](StationSettings& settings) { settings.mp3Copy = true; });
    {
        // Something else listens on the station's port.
        vxtest::LocalHttpServer blocker;
        st.editSettings([&](StationSettings& settings) { settings.port = blocker.port(); });
        s.start();
        ASSERT_EQ(s.dialogs.messages.size(), 1);
        EXPECT_TRUE(
            s.dialogs.messages[0].endsWith(QStringLiteral("DebugStr: ConnectrbtnClick\n\rDebugNum: 20")))
            << s.dialogs.messages[0].toStdString();
        EXPECT_EQ(st.state(), StationState::Stopped);
        EXPECT_FALSE(s.broadcasting());
        EXPECT_FALSE(StationProbe(st).road.codec().Active()) << "the codec stream stayed open";
        EXPECT_FALSE(StationProbe(st).road.capture().Active()) << "the capture stayed open";
        EXPECT_FALSE(capture->isOpen());
        EXPECT_FALSE(st.status()->mode.mp3Copy);
        EXPECT_FALSE(StationProbe(st).road.mp3File().isOpen());
        EXPECT_TRUE(s.mp3Copies().isEmpty()) << "the failed start left its empty MP3 copy";
        EXPECT_FALSE(StationProbe(st).directory().reportsRunning());
    }
    // The port is free again: the same start now goes through.
    s.start();
    EXPECT_EQ(s.dialogs.messages.size(), 1) << s.dialogs.messages.last().toStdString();
    EXPECT_TRUE(s.broadcasting());
    EXPECT_EQ(st.state(), StationState::OnAir);
    EXPECT_TRUE(StationProbe(st).road.codec().Active());
    EXPECT_TRUE(capture->isOpen());
    EXPECT_TRUE(st.status()->mode.mp3Copy);
    EXPECT_TRUE(StationProbe(st).StatsTimer->isActive());
    s.stop();
    EXPECT_EQ(st.state(), StationState::Stopped);
    EXPECT_FALSE(capture->isOpen());
    EXPECT_FALSE(StationProbe(st).road.mp3File().isOpen());
}

TEST(BroadcastStart, FailedCaptureOpenKeepsTheStepInTheReportAndClosesTheCodecStream) {
    auto capture = simulatedCapture();
    capture->setResult("open", 4);  // the device is in use
    auto codecs = std::make_shared<vx::acm::SimulatedAcm>();
    CoreStation s(capture, codecs);
    Station& st = s.station();
    s.start();
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_TRUE(s.dialogs.messages[0].startsWith(QStringLiteral("WaveIn-Open")));
    EXPECT_TRUE(s.dialogs.messages[0].endsWith(QStringLiteral("DebugStr: ConnectrbtnClick\n\rDebugNum: 17")));
    EXPECT_FALSE(StationProbe(st).road.codec().Active());
    EXPECT_EQ(codecs->closes, 1);
    // Without the undo, this start would fail at step 14: "You cannot change the buffer size while active."
    capture->clearResults();
    s.start();
    EXPECT_EQ(s.dialogs.messages.size(), 1) << s.dialogs.messages.last().toStdString();
    EXPECT_TRUE(s.broadcasting());
}

TEST(BroadcastStart, RecordModeOpensOnlyTheAudioPath) {
    auto capture = simulatedCapture();
    CoreStation s(capture, std::make_shared<vx::acm::SimulatedAcm>());
    Station& st = s.station();
    st.editSettings([](StationSettings& settings) {
        settings.radioName.clear();  // not checked in record mode
        settings.mp3Copy = true;
    });
    StationProbe(st).changeMode(StationEvent::RecordArmed);
    s.start();
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
    EXPECT_TRUE(StationProbe(st).road.codec().Active());
    EXPECT_EQ(StationProbe(st).road.codec().InputBufferSize(),
              int(StationProbe(st).road.codec().FormatIn.avgBytesPerSec()));
    EXPECT_EQ(StationProbe(st).road.capture().BufferSize(), StationProbe(st).road.codec().InputBufferSize());
    EXPECT_TRUE(capture->isOpen());
    EXPECT_FALSE(s.broadcasting());
    EXPECT_EQ(st.state(), StationState::RecordOnly);
    EXPECT_TRUE(StationProbe(st).StatsTimer->isActive());
    EXPECT_FALSE(StationProbe(st).directory().reportsRunning());
    EXPECT_TRUE(s.mp3Copies().isEmpty());
    s.stop();
    EXPECT_FALSE(StationProbe(st).road.codec().Active());
    EXPECT_FALSE(capture->isOpen());
    EXPECT_EQ(st.state(), StationState::Stopped);
}

// A start while record mode captures (the remote "Start" while no port listens) is no start: it neither
// fails on the open audio path nor closes it.
TEST(BroadcastStart, AStartDuringRecordModeLeavesItsAudioPathAlone) {
    auto capture = simulatedCapture();
    CoreStation s(capture, std::make_shared<vx::acm::SimulatedAcm>());
    Station& st = s.station();
    StationProbe(st).changeMode(StationEvent::RecordArmed);
    s.start();
    ASSERT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
    ASSERT_EQ(st.state(), StationState::RecordOnly);
    s.start();
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
    EXPECT_TRUE(StationProbe(st).road.codec().Active());
    EXPECT_TRUE(capture->isOpen());
    s.stop();
    EXPECT_FALSE(StationProbe(st).road.codec().Active());
    EXPECT_FALSE(capture->isOpen());
    EXPECT_EQ(st.state(), StationState::Stopped);
}

// The start waits for the directory's answer to its status report, and events are handled meanwhile: a
// stop that runs then has undone the start, which must end there instead of locking the settings and
// starting the timers of a broadcast that no longer runs.
TEST(BroadcastStart, AStopWhileTheStartWaitsForTheDirectoryLeavesTheStoppedState) {
    const std::pair<const char*, std::function<void(LiveStation&)>> stops[] = {
        {"remote Stop",
         [](LiveStation& s) {
             vxtest::RemotePeer peer(StationProbe(s.w().station()).remote().localPort());
             peer.sendLast("Stop" + vxtest::kTerminator);
             QByteArray ignored;
             peer.readUntilClosed(ignored);
         }},
        {"window close", [](LiveStation& s) { s.w().close(); }},
        {"SIGTERM", [](LiveStation&) { ::raise(SIGTERM); }},
    };
    for (const auto& [name, stop] : stops) {
        SCOPED_TRACE(name);
        LocalHttpServer directory;
        auto capture = simulatedCapture();
        LiveStation s(capture, std::make_shared<vx::acm::SimulatedAcm>(), directory.origin() + "/vdb/");
        TMainform& w = s.w();
        w.Passwort1->setText(QStringLiteral("pw"));
        w.Passwort2->setText(QStringLiteral("pw"));
        SignalCloser closer(w.station(), [&w] { return w.close(); });
        std::mutex mutex;
        std::condition_variable released;
        bool stopped = false;
        directory.setHandler([&](const LocalHttpServer::Request& r) -> std::optional<QByteArray> {
            if (!r.target().contains("action=setstatus")) {
                return LocalHttpServer::response("E108");
            }
            // The answer is held until the stop has run on the window thread, inside the start's wait.
            vx::postTo(&w, [&] {
                stop(s);
                EXPECT_TRUE(vxtest::waitUntil([&] { return !s.broadcasting(); }));
                std::lock_guard lock(mutex);
                stopped = true;
                released.notify_all();
            });
            std::unique_lock lock(mutex);
            released.wait(lock, [&] { return stopped; });
            return LocalHttpServer::response("E100");
        });
        w.Connectrbtn->click();
        ASSERT_TRUE(stopped);
        EXPECT_FALSE(s.broadcasting());
        EXPECT_TRUE(s.settingsUnlocked());
        EXPECT_FALSE(StationProbe(w.station()).directory().reportsRunning());
        EXPECT_FALSE(StationProbe(w.station()).StatsTimer->isActive());
        EXPECT_FALSE(StationProbe(w.station()).road.codec().Active());
        EXPECT_FALSE(capture->isOpen());
    }
}

TEST(BroadcastStop, DifferentPasswordsShowMessage30SendNoSetoffButStillTheCountZero) {
    vxtest::LocalHttpServer directory;
    directory.answerWith("E100");
    CoreStation s(simulatedCapture(), std::make_shared<vx::acm::SimulatedAcm>(),
                  directory.origin() + QStringLiteral("/vdb/"));
    Station& st = s.station();
    st.editSettings([](StationSettings& settings) {
        settings.password = QStringLiteral("geheim");
        settings.passwordConfirm = QStringLiteral("anders");
    });
    s.start();
    ASSERT_TRUE(s.broadcasting());
    const qsizetype messagesAtStart = s.dialogs.messages.size();
    const int requestsAtStart = directory.requestCount();

    s.stop();
    ASSERT_EQ(s.dialogs.messages.size(), messagesAtStart + 1);
    EXPECT_EQ(s.dialogs.messages.last(), st.Msg(30));
    EXPECT_EQ(st.state(), StationState::Stopped);
    EXPECT_FALSE(s.broadcasting());
    ASSERT_TRUE(vxtest::waitUntil([&] { return directory.requestCount() == requestsAtStart + 1; }));
    const QByteArray target = directory.requests().back().target();
    EXPECT_TRUE(target.contains("action=hoererupdate&hoerer=0")) << target.toStdString();
    for (const auto& r : directory.requests()) {
        EXPECT_FALSE(r.target().contains("action=setoff")) << r.target().toStdString();
    }
}

// A peer still in its handshake is no listener: the directory, the history and the list agree.
TEST(BroadcastDirectory, TheListenerCountIsTheListedListeners) {
    vxtest::LocalHttpServer directory;
    directory.answerWith("E100");
    CoreStation s(simulatedCapture(), std::make_shared<vx::acm::SimulatedAcm>(),
                  directory.origin() + QStringLiteral("/vdb/"));
    Station& st = s.station();
    s.start();
    ASSERT_TRUE(s.broadcasting());
    auto listener = vxtest::listenerProgram(s.port());
    vxtest::LoopbackPeer handshaking(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.status()->listenerCount() == 1; }));
    const int before = directory.requestCount();
    StationProbe(st).StatsTimerTimer();
    ASSERT_TRUE(vxtest::waitUntil([&] { return directory.requestCount() == before + 1; }));
    const QByteArray target = directory.requests().back().target();
    EXPECT_TRUE(target.contains("action=hoererupdate&hoerer=1&")) << target.toStdString();
    EXPECT_EQ(st.status()->history, std::vector<int>{1});
}

TEST(BroadcastStop, WaitsForARunStillConvertingBeforeItClosesTheCodecStream) {
    auto capture = simulatedCapture();
    auto codecs = std::make_shared<vxtest::GatedAcm>();
    CoreStation s(capture, codecs);
    Station& st = s.station();
    s.start();
    ASSERT_TRUE(s.broadcasting());
    ASSERT_TRUE(capture->fillNext(QByteArray(StationProbe(st).road.codec().InputBufferSize(), 'A')));
    ASSERT_TRUE(vxtest::waitUntil([&] { return codecs->conversions() == 1; }));

    // The run is inside Convert. It may go on once the stop has asked it to end.
    std::thread releaser([&] {
        while (!StationProbe(st).road.worker().Terminated()) {
            std::this_thread::yield();
        }
        codecs->openGate();
    });
    s.stop();
    releaser.join();
    EXPECT_FALSE(codecs->closedDuringConversion());
    EXPECT_FALSE(StationProbe(st).road.codec().Active());
    EXPECT_EQ(StationProbe(st).road.worker().State(), tsIdle);
    EXPECT_EQ(st.state(), StationState::Stopped);
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

// A slow run holds up no block: the blocks that arrive meanwhile wait for the worker in their own
// buffers and are converted in order, each once; only a block that finds the queue full is dropped.
TEST(BlockArrival, BlocksArrivingWhileTheRunConvertsWaitInOrderAndOnlyAFullQueueDropsOne) {
    auto capture = simulatedCapture();
    auto codecs = std::make_shared<vxtest::GatedAcm>();
    CoreStation s(capture, codecs);
    Station& st = s.station();
    s.start();
    ASSERT_TRUE(s.broadcasting());
    const int size = StationProbe(st).road.codec().InputBufferSize();
    ASSERT_TRUE(capture->fillNext(QByteArray(size, 'A')));
    ASSERT_TRUE(vxtest::waitUntil([&] { return codecs->conversions() == 1; }));

    for (const char c : {'B', 'C', 'D'}) {
        ASSERT_TRUE(capture->fillNext(QByteArray(size, c)));
    }
    EXPECT_EQ(StationProbe(st).road.droppedBlocks(), 1u) << "the block beyond the queue was not counted";
    codecs->openGate();
    ASSERT_TRUE(vxtest::waitUntil([&] { return StationProbe(st).road.idle(); }));
    ASSERT_EQ(codecs->conversions(), 3);
    EXPECT_EQ(codecs->input(0), QByteArray(size, 'A'));
    EXPECT_EQ(codecs->input(1), QByteArray(size, 'B')) << "the block after the slow run was lost";
    EXPECT_EQ(codecs->input(2), QByteArray(size, 'C'));

    ASSERT_TRUE(capture->fillNext(QByteArray(size, 'E')));
    ASSERT_TRUE(vxtest::waitUntil([&] { return codecs->conversions() == 4; }));
    EXPECT_EQ(codecs->input(3), QByteArray(size, 'E'));
    EXPECT_EQ(StationProbe(st).road.droppedBlocks(), 1u);
    s.stop();
}

TEST(BlockArrival, RefreshTimeIsTheTimeSinceThePreviousBlock) {
    auto capture = simulatedCapture();
    CoreStation s(capture, std::make_shared<vx::acm::SimulatedAcm>());
    Station& st = s.station();
    s.start();
    ASSERT_TRUE(s.broadcasting());
    // The first block measures from the start: pretend the start was 1.5 s ago.
    StationProbe(st).backdateLastBlock(1500.0);
    ASSERT_TRUE(capture->fillNext(QByteArray(StationProbe(st).road.codec().InputBufferSize(), 'x')));
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.status()->refreshMs != 0; }));
    const uint32_t shown = st.status()->refreshMs;
    EXPECT_GE(shown, 1500u);
    EXPECT_LT(shown, 1500u + 5000u);
    s.stop();
    // The clock's times of day are whole milliseconds: blocks 999, 1000 and 1001 ms apart show so at any
    // hour, also when midnight lies between them.
    const double day = 86400000.0;
    int wrong = 0;
    for (int now = 1001; now < 86400000; now += 9973) {
        for (const int apart : {999, 1000, 1001}) {
            wrong += BlockRoad::refreshMsBetween((now - apart) / day, now / day) != uint32_t(apart);
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(BlockRoad::refreshMsBetween((86400000 - 400) / day, 600 / day), 1000u);
}

// A run shows the block's size and its line load before it sends: a failure of a send reports the
// send's step, and the bar counts the listeners the block is about to reach.
TEST(BlockArrival, TheRunShowsTheBlockAndItsLoadBeforeItSends) {
    auto capture = simulatedCapture();
    LiveStation s(capture, std::make_shared<vx::acm::SimulatedAcm>());  // 7 bytes a block
    TMainform& w = s.w();
    w.Connectrbtn->click();
    ASSERT_TRUE(s.broadcasting());
    ASSERT_TRUE(s.oneBlock(*capture));  // its arrival reads "Upload" for the runs
    // Blocks whose arrival notice this thread does not handle before their run has ended (its handler
    // traces too); and no connection test either.
    StationProbe(w.station()).ConnectionTest->stop();
    BlockRoad& road = StationProbe(w.station()).road;
    auto run = [&] {
        if (!capture->fillNext(QByteArray(road.codec().InputBufferSize(), 'A'))) {
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!road.idle()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::yield();
        }
        return true;
    };
    ASSERT_TRUE(run());
    EXPECT_EQ(StationProbe(w.station()).DebugStr.value(), QStringLiteral("ThreadExecute"));
    EXPECT_EQ(StationProbe(w.station()).DebugNum, 14) << "nobody connected: the bar goes to 0";
    auto listener = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.station().GetUseranzahl() == 1; }));
    ASSERT_TRUE(run());
    EXPECT_EQ(StationProbe(w.station()).DebugStr.value(), QStringLiteral("ThreadExecute"));
    EXPECT_EQ(StationProbe(w.station()).DebugNum, 8) << "the sends are not the run's last step";
    ASSERT_TRUE(listener->waitForBytes(514 + 7));
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.Auslastung->value() == 7; }));
    EXPECT_EQ(w.Auslastung->maximum(), 64 * 128);
    EXPECT_EQ(w.Bytesvandorixclient->text(), QStringLiteral("7"));
    w.Disconnectrbtn->click();
}

}  // namespace
