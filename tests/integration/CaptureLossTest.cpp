// SPDX-License-Identifier: GPL-3.0-or-later
// A capture device that fails during the broadcast: one report, the listeners stay, the station opens the
// device again until it is back, and the stop ends the retries.
#include "StationHarness.h"
#include "platform/wavein/SimulatedWaveIn.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>

#include <QStandardPaths>

#include <sys/un.h>

#include <algorithm>

using vx::wavein::SimulatedWaveIn;
using vxtest::CoreStation;
using vxtest::waitUntil;

namespace {

constexpr int kHeaderSize = 514;
constexpr int kSimulatedBlock = 7;  // what the simulated codec makes of any block
const QByteArray kSecond(22050, '\x01');
const QString kLost = QStringLiteral("WaveIn-Capture The specified resource does not exist.");

int openCalls(const SimulatedWaveIn& capture) {
    return int(std::count(capture.calls.begin(), capture.calls.end(), "open"));
}

// A station on the simulated device and codec with one listener program.
struct SimulatedBroadcast {
    SimulatedBroadcast() { StationProbe(s.station()).CaptureRetry->setInterval(10); }
    bool start() {
        s.start();
        listener = vxtest::listenerProgram(s.port());
        return s.broadcasting() && waitUntil([&] { return s.station().GetUseranzahl() == 1; });
    }
    // The device is unplugged and cannot be opened; the station has noticed and tried again twice.
    bool unplug() {
        capture->setResult("open", 2);
        const int opens = openCalls(*capture);
        return capture->fail(2) && waitUntil([&] { return openCalls(*capture) >= opens + 2; });
    }
    // The device is back: the station opens it again (and, with `record`, the next block reaches the
    // listener).
    bool plugIn(bool record) {
        capture->clearResults();
        const qsizetype expected = listener->received().size() + kSimulatedBlock;
        return waitUntil([&] { return StationProbe(s.station()).road.capture().Active(); }) &&
               (!record || (capture->fillNext(kSecond) && listener->waitForBytes(expected)));
    }
    int reports() const { return int(s.dialogs.messages.size()); }

    std::shared_ptr<SimulatedWaveIn> capture = std::make_shared<SimulatedWaveIn>();
    CoreStation s{capture, std::make_shared<vx::acm::SimulatedAcm>()};
    std::unique_ptr<vxtest::LoopbackPeer> listener;
};

TEST(CaptureLoss, ALostDeviceIsReportedOnceListenersStayBlocksFlowWhenItIsBackAndAStopEndsTheRetries) {
    SimulatedBroadcast b;
    Station& st = b.s.station();
    ASSERT_TRUE(b.start());
    ASSERT_TRUE(b.capture->fillNext(kSecond));
    ASSERT_TRUE(b.listener->waitForBytes(kHeaderSize + kSimulatedBlock));

    ASSERT_TRUE(b.unplug());
    ASSERT_EQ(b.reports(), 1);
    EXPECT_TRUE(b.s.dialogs.messages[0].startsWith(kLost)) << b.s.dialogs.messages[0].toStdString();
    EXPECT_TRUE(b.s.dialogs.messages[0].contains(QStringLiteral("DebugStr: ACMIError")));
    EXPECT_EQ(st.state(), StationState::OnAir);
    // Back for a moment and lost again before its first block: still the same outage.
    ASSERT_TRUE(b.plugIn(false));
    ASSERT_TRUE(b.unplug());
    ASSERT_TRUE(b.plugIn(true));
    EXPECT_FALSE(StationProbe(st).CaptureRetry->isActive());
    EXPECT_EQ(b.reports(), 1) << b.s.dialogs.messages.join('|').toStdString();
    EXPECT_EQ(b.listener->received().size(), kHeaderSize + 2 * kSimulatedBlock);
    EXPECT_EQ(st.GetUseranzahl(), 1);

    // Lost again after a block: a new outage. A stop during it ends the retries.
    ASSERT_TRUE(b.unplug());
    EXPECT_EQ(b.reports(), 2);
    b.s.stop();
    EXPECT_FALSE(StationProbe(st).CaptureRetry->isActive());
    EXPECT_EQ(st.state(), StationState::Stopped);
    EXPECT_TRUE(b.listener->waitForClose());
    b.capture->clearResults();
    ASSERT_TRUE(b.start());
    // The next broadcast reports its own loss, even before its first block, and carries on after it.
    ASSERT_TRUE(b.unplug());
    EXPECT_EQ(b.reports(), 3);
    ASSERT_TRUE(b.plugIn(true));
    b.s.stop();
}

// A PulseAudio server of the test's own with a null sink; the station records its monitor through
// ALSA's pulse plugin, as a desktop's "default" PCM does.
class PulseServer {
public:
    explicit PulseServer(const QString& dir) : dir_(dir), socket_(dir + QStringLiteral("/native")) {
        QDir(dir).mkpath(QStringLiteral("run"));
        config_ = vxtest::writeFile(dir, QStringLiteral("asound.conf"),
                                    "pcm.vxpulse {\n    type pulse\n    server \"unix:" + socket_.toUtf8() +
                                        "\"\n    device \"vxnull.monitor\"\n}\n");
    }
    bool start() {
        daemon_ = std::make_unique<vxtest::ChildProcess>(
            QStringLiteral("pulseaudio"),
            QStringList{QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                        QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                        QStringLiteral("--disable-shm"), QStringLiteral("--log-target=file:") + dir_ + "/log",
                        QStringLiteral("-L"),
                        QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket_,
                        QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=vxnull")},
            QStringList{QStringLiteral("HOME=") + dir_, QStringLiteral("XDG_RUNTIME_DIR=") + dir_ + "/run"});
        return daemon_->started() && waitUntil([&] { return accepts(); });
    }
    // Killed as a crashing server is; its socket file stays behind.
    void crash() { daemon_.reset(); }
    std::shared_ptr<vx::wavein::WaveIn> capture() const {
        return std::make_shared<vx::wavein::AlsaWaveIn>(QStringLiteral("vxpulse"), config_);
    }

private:
    bool accepts() const {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, QFile::encodeName(socket_).constData(), sizeof a.sun_path - 1);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        return ok;
    }

    QString dir_;
    QString socket_;
    QString config_;
    std::unique_ptr<vxtest::ChildProcess> daemon_;
};

TEST(CaptureLoss, ARestartedSoundServerIsReportedOnceAndTheListenersHearTheBroadcastAgain) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
        << "pulseaudio is missing";
    QTemporaryDir dir;
    PulseServer server(dir.path());
    ASSERT_TRUE(server.start());
    CoreStation s(server.capture());  // the station's own codecs: LAME
    Station& st = s.station();
    StationProbe(st).CaptureRetry->setInterval(100);
    s.start();
    ASSERT_TRUE(s.broadcasting()) << s.dialogs.messages.join('|').toStdString();
    auto listener = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(listener->waitForBytes(kHeaderSize + 1000));

    server.crash();
    ASSERT_TRUE(waitUntil([&] { return !s.dialogs.messages.isEmpty(); }));
    EXPECT_TRUE(s.dialogs.messages[0].startsWith(kLost)) << s.dialogs.messages[0].toStdString();
    EXPECT_TRUE(StationProbe(st).CaptureRetry->isActive());

    ASSERT_TRUE(server.start());
    // Whatever arrives from now on was recorded after the restart.
    ASSERT_TRUE(
        waitUntil([&] { return StationProbe(st).road.capture().Active() && StationProbe(st).road.idle(); }));
    const qsizetype before = listener->received().size();
    ASSERT_TRUE(listener->waitForBytes(before + 2000));
    EXPECT_TRUE(vxtest::decodeMp3(listener->received().mid(before)).ok);
    EXPECT_EQ(s.dialogs.messages.size(), 1) << s.dialogs.messages.join('|').toStdString();
    EXPECT_FALSE(listener->closedByServer());
    s.stop();
    EXPECT_TRUE(listener->waitForClose());
}

}  // namespace
