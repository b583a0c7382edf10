// SPDX-License-Identifier: GPL-3.0-or-later
// The station relays its stream to a real icecast2: players of the mount, the mount's metadata, and
// the faults a relay meets (Icecast restarting, refusals, a server that never answers).
#include "IcecastServer.h"
#include "station/RelayBoard.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>

#include <QStandardPaths>

using vxtest::CoreStation;
using vxtest::IcecastServer;
using vxtest::LiveStation;

namespace {

constexpr int kHeaderSize = 514;

IcecastRelay& relayAt(Station& st, std::size_t i) {
    return *StationProbe(st).road.relayBoard().entries.at(i).relay;
}

bool onAir(const IcecastRelay& relay) {
    return relay.status().state == IcecastRelay::State::OnAir;
}

// The captured blocks that found the previous run still busy, and so never went out, since it was made.
struct LostBlocks {
    explicit LostBlocks(Station& st) : station(st), before(StationProbe(station).road.droppedBlocks()) {}
    uint64_t count() const { return StationProbe(station).road.droppedBlocks() - before; }
    Station& station;
    uint64_t before;
};

// After the stop: the listener program's audio is one unbroken stretch of the MP3 copy, which holds
// every block the station encoded.
void expectUnbroken(const vxtest::StationFixture& s, vxtest::LoopbackPeer& listener, int atLeastBytes) {
    ASSERT_TRUE(listener.waitForClose());
    const QByteArray copy = vxtest::readFile(s.path(vxtest::mp3CopiesIn(s.dir.path()).value(0)));
    const QByteArray audio = listener.received().mid(kHeaderSize);
    ASSERT_GE(audio.size(), atLeastBytes);
    const qsizetype at = copy.indexOf(audio.left(256));
    ASSERT_GE(at, 0);
    EXPECT_EQ(copy.mid(at, audio.size()), audio) << "the listener lost bytes";
}

TEST(IcecastRelay, PlayersOfTheMountHearTheToneUnderTheStationsNameAndInfoText) {
    IcecastServer icecast;
    ASSERT_TRUE(icecast.running()) << icecast.diagnostics();
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone:440")), nullptr, QString(),
                  {icecast.target(QStringLiteral("/live"))});
    Station& st = s.station();
    st.editSettings(
        [](StationSettings& settings) { settings.extRadioName = QStringLiteral("Töne aus dem Test"); });
    s.start();
    ASSERT_TRUE(s.broadcasting()) << s.dialogs.messages.join('|').toStdString();
    IcecastRelay& relay = relayAt(st, 0);
    ASSERT_TRUE(vxtest::waitUntil([&] { return onAir(relay); }))
        << relay.status().reason.toStdString() << icecast.diagnostics();

    vxtest::HttpStreamReader player(icecast.url(QStringLiteral("/live")));
    ASSERT_TRUE(vxtest::waitUntil([&] { return player.received().size() >= 3 * 2250; }, 15000));
    const vxtest::Decoded decoded = vxtest::decodeMp3(player.received());
    ASSERT_TRUE(decoded.ok);
    ASSERT_EQ(decoded.rate, 11025);
    ASSERT_GE(decoded.samples.size(), 11025u);
    EXPECT_NEAR(vxtest::dominantFrequency(decoded.samples, decoded.rate, decoded.samples.size() - 11025,
                                          decoded.samples.size()),
                440.0, 1.0);

    // Icecast shows a new title once the next block has come in.
    const QString welcome = st.settings().infoText;
    ASSERT_TRUE(vxtest::waitUntil(
        [&] { return icecast.mount(QStringLiteral("/live"))["title"].toString() == welcome; }));
    const QJsonObject mount = icecast.mount(QStringLiteral("/live"));
    EXPECT_EQ(mount["server_name"].toString(), QStringLiteral("Testradio"));
    EXPECT_EQ(mount["server_description"].toString(), QStringLiteral("Töne aus dem Test"));
    EXPECT_EQ(mount["bitrate"].toInt(), 18);
    EXPECT_EQ(mount["samplerate"].toInt(), 11025);
    EXPECT_EQ(mount["channels"].toInt(), 1);

    const QString news = QStringLiteral("Jetzt: 440 Hz & Töne");
    st.editSettings([&](StationSettings& settings) { settings.infoText = news; });
    st.UpdateInfo();
    EXPECT_TRUE(vxtest::waitUntil(
        [&] { return icecast.mount(QStringLiteral("/live"))["title"].toString() == news; }));

    s.stop();
    EXPECT_EQ(relay.status().state, IcecastRelay::State::Stopped);
    EXPECT_TRUE(vxtest::waitUntil([&] { return icecast.mount(QStringLiteral("/live")).isEmpty(); }))
        << "the source stayed on the mount after the stop";
}

TEST(IcecastRelay, IcecastGoneAndBackCostsTheListenersNothingAndTheRelayReturnsWithItsTitleWithinTenSeconds) {
    IcecastServer icecast;
    ASSERT_TRUE(icecast.running()) << icecast.diagnostics();
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone:440")), nullptr, QString(),
                  {icecast.target(QStringLiteral("/live"))});
    Station& st = s.station();
    const QString title = QStringLiteral("Vor und nach dem Ausfall");
    st.editSettings([&](StationSettings& settings) {
        settings.mp3Copy = true;
        settings.infoText = title;
    });
    LostBlocks lost(st);
    s.start();
    ASSERT_TRUE(s.broadcasting());
    auto listener = vxtest::listenerProgram(s.port());
    IcecastRelay& relay = relayAt(st, 0);
    ASSERT_TRUE(vxtest::waitUntil([&] { return onAir(relay); })) << icecast.diagnostics();
    ASSERT_TRUE(listener->waitForBytes(kHeaderSize + 1500));

    icecast.kill();
    ASSERT_TRUE(vxtest::waitUntil([&] { return relay.status().state == IcecastRelay::State::Error; }));
    ASSERT_TRUE(icecast.start()) << icecast.diagnostics();
    // The relay knocks while icecast2 starts, which now and then kills icecast2 (see start()): the server
    // comes back once more then, as an admin's would.
    vxtest::waitUntil([&] { return onAir(relay) || icecast.died(); }, 10000);
    if (icecast.died()) {
        ASSERT_TRUE(icecast.start()) << icecast.diagnostics();
    }
    EXPECT_TRUE(vxtest::waitUntil([&] { return onAir(relay); }, 10000))
        << relay.status().reason.toStdString() << icecast.diagnostics();
    ASSERT_TRUE(vxtest::waitUntil([&] { return !icecast.mount(QStringLiteral("/live")).isEmpty(); }));
    // The restarted server knows no title: the relay tells it the unchanged info text again.
    EXPECT_TRUE(vxtest::waitUntil([&] {
        return icecast.mount(QStringLiteral("/live"))["title"].toString() == title;
    })) << icecast.mount(QStringLiteral("/live"))["title"].toString().toStdString();
    // The listener's stream spans the outage: from a block before it to one after the relay's return.
    ASSERT_TRUE(listener->waitForBytes(listener->received().size() + 1500));

    s.stop();
    expectUnbroken(s, *listener, 2 * 1500);
    EXPECT_EQ(lost.count(), 0u);
    EXPECT_EQ(st.status()->errorCount, 0u);
}

TEST(IcecastRelay, RefusalsAreReportedOnceAndAServerThatNeverAnswersSlowsNoListener) {
    IcecastServer icecast;
    ASSERT_TRUE(icecast.running()) << icecast.diagnostics();
    // Takes connections (the kernel does) and never reads them.
    const vxtest::LoopbackListener silent;
    const QString live = icecast.target(QStringLiteral("/live"));
    LiveStation s(vx::wavein::createWaveIn(QStringLiteral("tone:440")), nullptr, QString(),
                  {live, live, icecast.target(QStringLiteral("/other"), QStringLiteral("not-the-password")),
                   QStringLiteral("icecast://source:pw@127.0.0.1:%1/silent").arg(silent.port())});
    TMainform& w = s.w();
    Station& st = w.station();
    w.Mp3Aufz->setChecked(true);
    LostBlocks lost(st);
    w.Connectrbtn->click();
    ASSERT_TRUE(s.broadcasting());
    auto listener = vxtest::listenerProgram(s.port());

    // Both relays of /live race for the mount; one of them wins it.
    ASSERT_TRUE(vxtest::waitUntil([&] {
        return (onAir(relayAt(st, 0)) || onAir(relayAt(st, 1))) &&
               relayAt(st, 2).status().state == IcecastRelay::State::Error;
    })) << icecast.diagnostics();
    const std::size_t loser = onAir(relayAt(st, 0)) ? 1 : 0;
    ASSERT_TRUE(
        vxtest::waitUntil([&] { return relayAt(st, loser).status().state == IcecastRelay::State::Error; }));
    // A few blocks later nothing has been tried again, and nothing more reported.
    ASSERT_TRUE(listener->waitForBytes(kHeaderSize + 4 * 2000, 15000));
    const auto& entries = StationProbe(st).road.relayBoard().entries;
    EXPECT_TRUE(entries[loser].status.reason.contains(QStringLiteral("Mountpoint in use")))
        << entries[loser].status.reason.toStdString();
    EXPECT_TRUE(entries[2].status.reason.contains(QStringLiteral("wrong user name or password")))
        << entries[2].status.reason.toStdString();
    for (const std::size_t refused : {loser, std::size_t(2)}) {
        EXPECT_EQ(relayAt(st, refused).connectAttempts(), 1);
        EXPECT_LE(entries[refused].reports, 2) << "connecting, then the refusal, once";
        EXPECT_EQ(entries[refused].status.state, IcecastRelay::State::Error);
    }
    EXPECT_EQ(relayAt(st, 3).status().state, IcecastRelay::State::Connecting);
    EXPECT_TRUE(w.toolTip().contains(QStringLiteral("Mountpoint in use")));
    EXPECT_FALSE(w.toolTip().contains(QLatin1String(IcecastServer::kPassword)));

    w.Disconnectrbtn->click();
    expectUnbroken(s, *listener, 4 * 2000);
    EXPECT_EQ(lost.count(), 0u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(relayAt(st, i).status().state, IcecastRelay::State::Stopped);
    }
}

}  // namespace
