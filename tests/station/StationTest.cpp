// The station driven without a window: remote commands around start-up, who receives a block, and a codec
// that fails during a broadcast.
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

#include <QTemporaryDir>
#include <QtEndian>

#include <atomic>

using vxtest::waitUntil;

namespace {

constexpr int kHeaderSize = 514;
constexpr int kSimulatedBlock = 7;  // what the simulated codec makes of any block
const QByteArray kSecond(22050, '\x01');
const QByteArray kTerminator("\xFF\xFF\xFF\xFF", 4);

// The simulated codec, with conversions that fail while the test says so.
class FailingAcm : public vx::acm::SimulatedAcm {
public:
    uint32_t streamConvert(vx::acm::HACMSTREAM stream, vx::acm::ACMSTREAMHEADER* header,
                           uint32_t flags) override {
        if (failing) {
            return vx::acm::MMSYSERR_NOMEM;
        }
        return SimulatedAcm::streamConvert(stream, header, flags);
    }
    std::atomic<bool> failing{false};
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
    // One captured second, once the previous block's run has ended: a block that finds a run still
    // busy is dropped, as on a machine too slow for the stream.
    bool fill() {
        return waitUntil([&] { return StationProbe(*station).Thread->State() == tsIdle; }) &&
               capture->fillNext(kSecond);
    }
    int listenerPort() const { return StationProbe(*station).ServerVandorixClient->LocalPort(); }
    // One command as the whole of a fresh connection, handled once the station has released it.
    void command(const char* name) {
        vxtest::LoopbackPeer peer(StationProbe(*station).RemoteControl->LocalPort());
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
    vxtest::LoopbackPeer peer(StationProbe(second).RemoteControl->LocalPort());
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
        ASSERT_TRUE(waitUntil([&] { return StationProbe(*station).ErrorCount.load() == n; })) << n;
    }
    ASSERT_TRUE(waitUntil([&] { return !reports.isEmpty(); }));
    EXPECT_EQ(reports.size(), 1) << reports.join('|').toStdString();

    codecs->failing = false;
    ASSERT_TRUE(fill());
    EXPECT_TRUE(listener.waitForBytes(kHeaderSize + kSimulatedBlock));
    EXPECT_EQ(station->state(), StationState::OnAir);
    EXPECT_EQ(reports.size(), 1);
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
