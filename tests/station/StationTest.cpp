// SPDX-License-Identifier: GPL-3.0-or-later
// The station driven without a window: remote commands around start-up, who receives a block, and a codec
// that fails during a broadcast.
#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "net/TVXSocketData.h"
#include "platform/acm/SimulatedAcm.h"
#include "platform/mixerapi/SimulatedMixer.h"
#include "platform/wavein/SimulatedWaveIn.h"
#include "station/Station.h"
#include "support/LoopbackPeer.h"
#include "support/StationProbe.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

using vxtest::waitUntil;

namespace {

constexpr int kHeaderSize = 514;
constexpr int kSimulatedBlock = 7;  // what the simulated codec makes of any block
const QByteArray kSecond(22050, '\x01');
const QByteArray kTerminator("\xFF\xFF\xFF\xFF", 4);

// The simulated codec, with conversions that fail, or hang, while the test says so.
class FailingAcm : public vx::acm::SimulatedAcm {
public:
    uint32_t streamConvert(vx::acm::HACMSTREAM stream, vx::acm::ACMSTREAMHEADER* header,
                           uint32_t flags) override {
        {
            std::unique_lock lock(mutex_);
            ++converting_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return !hanging_; });
            --converting_;
        }
        if (failing) {
            return vx::acm::MMSYSERR_NOMEM;
        }
        return SimulatedAcm::streamConvert(stream, header, flags);
    }
    void hang(bool on) {
        std::lock_guard lock(mutex_);
        hanging_ = on;
        changed_.notify_all();
    }
    bool waitForConversion() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return converting_ > 0; });
    }
    std::atomic<bool> failing{false};

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool hanging_ = false;
    int converting_ = 0;
};

// A FIFO as the MP3 copy's disk, opened by the test so that nobody reads it: once its one page is full,
// the writer's thread is stuck in the kernel until the test reads.
class StuckDisk {
public:
    explicit StuckDisk(const QString& dir) : path(dir + QStringLiteral("/stuck.mp3")) {
        ::mkfifo(QFile::encodeName(path).constData(), 0600);
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        ::fcntl(fd, F_SETPIPE_SZ, 4096);
    }
    ~StuckDisk() { ::close(fd); }
    // The disk moves again: reads until `bytes` have come through.
    bool take(qsizetype bytes) {
        char buffer[4096];
        return waitUntil([&] {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            bytes -= std::max<ssize_t>(n, 0);
            return bytes <= 0;
        });
    }
    const QString path;
    int fd = -1;
};

class StationTest : public ::testing::Test {
protected:
    StationTest() {
        vxtest::writeFile(dir.path(), QStringLiteral("Server.ini"), "http://dir.example/db/\r\n");
        env.dataDir = dir.path();
        env.arguments = {QStringLiteral("vandorixserver"), QStringLiteral("/WO")};
        env.mixer = vx::mixerapi::SimulatedMixer::soundCard();
        env.waveIn = capture;
        env.acm = codecs;
        station = std::make_unique<Station>(env);
        QObject::connect(station.get(), &Station::message, [this](const QString& text) { messages << text; });
        QObject::connect(station.get(), &Station::errorReport,
                         [this](const QString& what, const QString&, int) { reports << what; });
    }
    // Start-up as the window or the console runs it, with a radio name, any free port and no limit.
    void startUp(bool finish = true) {
        station->initLanguage();
        ASSERT_TRUE(station->loadSettings());
        station->editSettings([](StationSettings& s) {
            s.radioName = QStringLiteral("Testradio");
            s.port = 0;
            s.limitListeners = false;
        });
        if (finish) {
            station->startupFinished();
        }
    }
    // One captured second, once the previous block has gone through the road, so that each test sees
    // its blocks one at a time.
    bool fill() {
        return waitUntil([&] { return StationProbe(*station).road.idle(); }) && capture->fillNext(kSecond);
    }
    int listenerPort() const { return StationProbe(*station).ServerVandorixClient->LocalPort(); }
    // One command as the whole of a fresh connection, handled once the station has released it.
    void command(const char* name) {
        vxtest::LoopbackPeer peer(StationProbe(*station).remote().localPort());
        ASSERT_TRUE(peer.write(QByteArray(name) + kTerminator));
        ::shutdown(peer.fd(), SHUT_WR);
        ASSERT_TRUE(peer.waitForClose());
    }

    QTemporaryDir dir;
    std::shared_ptr<vx::wavein::SimulatedWaveIn> capture = std::make_shared<vx::wavein::SimulatedWaveIn>();
    std::shared_ptr<FailingAcm> codecs = std::make_shared<FailingAcm>();
    StationEnvironment env;
    std::unique_ptr<Station> station;
    QStringList messages;
    QStringList reports;
};

// A "Start" that arrives while start-up still shows its messages would find no radio name yet: it waits
// for start-up. "Ende" does not wait for anything.
TEST_F(StationTest, RemoteCommandsBeforeStartUpWaitForItAndEndeDoesNot) {
    startUp(false);
    command("Start");
    EXPECT_EQ(station->state(), StationState::Stopped);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    station->startupFinished();
    EXPECT_EQ(station->state(), StationState::OnAir) << reports.join(QLatin1Char('|')).toStdString();

    Station second(env);
    bool ended = false;
    StationProbe(second).EndProcess = [&] { ended = true; };
    vxtest::LoopbackPeer peer(StationProbe(second).remote().localPort());
    ASSERT_TRUE(peer.write(QByteArray("Ende") + kTerminator));
    EXPECT_TRUE(waitUntil([&] { return ended; }, 10000)) << "Ende waits for no start-up";
}

// A listener that asks for the info channel on its connection leaves the audience at once: the next
// block is not sent to it, and the count and the list drop it at the next tick.
TEST_F(StationTest, AListenerThatTurnsInfoChannelGetsNoMoreAudioAndLeavesTheList) {
    startUp();
    station->Start();
    ASSERT_EQ(station->state(), StationState::OnAir) << messages.join('|').toStdString();
    // The witness is a second listener: when it has a block, the block went out.
    vxtest::LoopbackPeer listener(listenerPort());
    vxtest::LoopbackPeer witness(listenerPort());
    for (auto* peer : {&listener, &witness}) {
        ASSERT_TRUE(peer->write("KT-VandorixClient v30"));
        ASSERT_TRUE(peer->waitForBytes(kHeaderSize));
    }
    ASSERT_TRUE(fill());
    ASSERT_TRUE(listener.waitForBytes(kHeaderSize + kSimulatedBlock));
    ASSERT_TRUE(witness.waitForBytes(kHeaderSize + kSimulatedBlock));
    StationProbe(*station).ConnectionTestTimer();
    ASSERT_EQ(station->status()->clients->size(), 2u);

    const QByteArray info = station->settings().infoText.toLatin1();
    ASSERT_TRUE(listener.write("KT-VandorixClient v40-Info"));
    ASSERT_TRUE(listener.waitForBytes(kHeaderSize + kSimulatedBlock + info.size()));
    ASSERT_TRUE(fill());
    ASSERT_TRUE(witness.waitForBytes(kHeaderSize + 2 * kSimulatedBlock));
    EXPECT_EQ(listener.received().size(), kHeaderSize + kSimulatedBlock + info.size())
        << "the info channel got audio";
    StationProbe(*station).ConnectionTestTimer();
    EXPECT_EQ(station->status()->clients->size(), 1u);
    EXPECT_EQ(station->GetUseranzahl(), 1);
}

// A codec that fails during a broadcast is reported once per outage, each failed block counts as a
// transmission error, and the blocks flow again once it works.
TEST_F(StationTest, AFailingCodecIsReportedOnceCountsEachBlockAndRecovers) {
    startUp();
    station->Start();
    ASSERT_EQ(station->state(), StationState::OnAir);
    vxtest::LoopbackPeer listener(listenerPort());
    ASSERT_TRUE(listener.write("KT-VandorixClient v30"));
    ASSERT_TRUE(listener.waitForBytes(kHeaderSize));

    codecs->failing = true;
    for (uint32_t n = 1; n <= 3; ++n) {
        ASSERT_TRUE(fill());
        ASSERT_TRUE(waitUntil([&] { return StationProbe(*station).road.errorCount() == n; })) << n;
    }
    ASSERT_TRUE(waitUntil([&] { return !reports.isEmpty(); }));
    EXPECT_EQ(reports.size(), 1) << reports.join('|').toStdString();

    codecs->failing = false;
    ASSERT_TRUE(fill());
    EXPECT_TRUE(listener.waitForBytes(kHeaderSize + kSimulatedBlock));
    EXPECT_EQ(station->state(), StationState::OnAir);
    EXPECT_EQ(reports.size(), 1);
}

// A stop whose run hangs in the codec closes what it can (the listener port, capture, the MP3 copy),
// reports once and ends stopped; once the run has ended, the next start works.
TEST_F(StationTest, AStopWhoseRunHangsClosesWhatItCanReportsOnceAndTheNextStartWorks) {
    startUp();
    station->editSettings([](StationSettings& e) { e.mp3Copy = true; });
    StationProbe(*station).road.setRunEndWaitMs(200);
    station->Start();
    ASSERT_EQ(station->state(), StationState::OnAir) << reports.join('|').toStdString();
    codecs->hang(true);
    ASSERT_TRUE(fill());
    ASSERT_TRUE(codecs->waitForConversion());

    station->Guarded([&] { station->Stop(); });
    EXPECT_EQ(reports, QStringList{QStringLiteral("The worker run did not end")});
    EXPECT_EQ(station->state(), StationState::Stopped);
    EXPECT_FALSE(StationProbe(*station).ServerVandorixClient->Active());
    EXPECT_FALSE(capture->isOpen());
    EXPECT_FALSE(StationProbe(*station).road.mp3File().isOpen());

    codecs->hang(false);
    ASSERT_TRUE(waitUntil([&] { return StationProbe(*station).road.idle(); }));
    station->Guarded([&] { station->Start(); });
    EXPECT_EQ(station->state(), StationState::OnAir) << reports.join('|').toStdString();
    ASSERT_TRUE(fill());
    station->Guarded([&] { station->Stop(); });
    EXPECT_EQ(reports.size(), 1) << reports.join('|').toStdString();
    EXPECT_FALSE(StationProbe(*station).road.codec().Active());
}

// "Ende" ends the process after its pause while the MP3 copy's writer is stuck in the kernel: the stop
// leaves the file to the writer (it closes it once the disk moves), and a disk still stuck a while later
// is reported once.
TEST_F(StationTest, EndeEndsTheProcessWithinSecondsWhileTheCopysWriterIsStuckInTheKernel) {
    startUp();
    station->editSettings([](StationSettings& e) { e.mp3Copy = true; });
    station->Start();
    ASSERT_EQ(station->state(), StationState::OnAir);
    StuckDisk disk(dir.path());
    StationProbe(*station).road.mp3File().create(disk.path, 1 << 20);
    const std::vector<char> block(65536, 'x');
    StationProbe(*station).road.mp3File().write(block.data(), int(block.size()));  // more than the pipe holds
    bool ended = false;
    StationProbe(*station).EndProcess = [&] { ended = true; };

    QElapsedTimer took;
    took.start();
    station->End();
    EXPECT_TRUE(ended);
    EXPECT_LT(took.elapsed(), 3000);  // the pause of 2 s and the stop
    EXPECT_EQ(station->state(), StationState::Stopped);
    EXPECT_TRUE(reports.isEmpty()) << reports.join('|').toStdString();
    ASSERT_TRUE(waitUntil([&] { return !reports.isEmpty(); }, 10000));
    ASSERT_EQ(reports.size(), 1) << reports.join('|').toStdString();
    EXPECT_TRUE(reports[0].contains(QStringLiteral("did not finish writing"))) << reports[0].toStdString();
    EXPECT_TRUE(disk.take(qsizetype(block.size()))) << "the writer given up did not finish its block";
}

// A broadcast that ends before its first block leaves no empty MP3 copy behind; one with a block keeps it.
TEST_F(StationTest, ACopyThatReceivedNoBlockIsRemovedAtTheStop) {
    startUp();
    station->editSettings([](StationSettings& e) { e.mp3Copy = true; });
    const auto copies = [&] { return QDir(dir.path()).entryList({QStringLiteral("*.mp3")}, QDir::Files); };
    station->Start();
    ASSERT_TRUE(waitUntil([&] { return copies().size() == 1; }));
    station->Stop();
    EXPECT_TRUE(waitUntil([&] { return copies().isEmpty(); })) << copies().join('|').toStdString();

    station->Start();
    ASSERT_TRUE(fill());
    ASSERT_TRUE(waitUntil([&] { return StationProbe(*station).road.idle(); }));
    station->Stop();
    ASSERT_TRUE(waitUntil([&] { return !StationProbe(*station).road.mp3File().busy(); }));
    ASSERT_EQ(copies().size(), 1);
    EXPECT_EQ(QFileInfo(dir.filePath(copies()[0])).size(), kSimulatedBlock);
    EXPECT_TRUE(reports.isEmpty()) << reports.join('|').toStdString();
}

}  // namespace

// The stored recording source is the station's to apply, with or without a window: the volume within the
// mixer's range on both channels of the chosen source, and the file left as the broadcaster saved it.
TEST_F(StationTest, StartUpAppliesTheStoredRecordingSourceWithinRangeAndKeepsTheFile) {
    QByteArray stored(8, '\0');
    qToLittleEndian<int32_t>(4, stored.data());  // "Stereo Mix"
    qToLittleEndian<int32_t>(70000, stored.data() + 4);
    vxtest::writeFile(dir.path(), QStringLiteral("LautstOptions.ini"), stored);
    auto mixer = std::dynamic_pointer_cast<vx::mixerapi::SimulatedMixer>(env.mixer);
    ASSERT_TRUE(station->startUp());

    const StationStatus::RecordingSource source = station->status()->recordingSource;
    EXPECT_EQ(source.lines, (QStringList{"Aufnahme", "Mikrofon", "Line-In", "Stereo Mix"}));
    EXPECT_EQ(source.item, 4);
    EXPECT_EQ(source.volume, 65535);
    EXPECT_TRUE(source.kept);
    EXPECT_EQ(mixer->values(0, mixer->controlId(0, 1, 2, 0)), (std::vector<uint32_t>{65535, 65535}));
    EXPECT_EQ(mixer->values(0, mixer->controlId(0, 1, -1, 1)), (std::vector<uint32_t>{0, 0, 1}));
    EXPECT_EQ(vxtest::readFile(dir.filePath(QStringLiteral("LautstOptions.ini"))), stored);
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}
