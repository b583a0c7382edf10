// SPDX-License-Identifier: GPL-3.0-or-later
// Listeners that stop taking the stream lose their slot; slow ones keep it.
#include "StationHarness.h"
#include "net/TVXSocketData.h"
#include "platform/wavein/SimulatedWaveIn.h"
#include "support/StationProbe.h"
#include "ui/ListenerListModel.h"

#include <gtest/gtest.h>

#include <chrono>

#include <QLabel>

#include <sys/socket.h>

namespace {

using namespace std::chrono_literals;

TEST(StalledListener, RefusedBlocksCountOnlyInARow) {
    TVXSocketData session;
    const std::chrono::steady_clock::time_point t0;
    session.blockSent(-1, t0);
    session.blockSent(100, t0 + 30s);  // a slow listener that takes a little starts afresh
    session.blockSent(-1, t0 + 31s);
    session.blockSent(0, t0 + 90s);
    EXPECT_EQ(session.stalledFor(), 59s);
    session.blockSent(-1, t0 + 91s);
    EXPECT_EQ(session.stalledFor(), 60s);
}

TEST(StalledListener, ListenerThatTakesNothingForTheLimitIsClosedOneThatReadsIsKept) {
    auto capture = std::make_shared<vx::wavein::SimulatedWaveIn>();
    auto codecs = std::make_shared<vx::acm::SimulatedAcm>();
    codecs->outputSize = codecs->convertedBytes = 256 * 1024;  // fills a peer's buffers in a few blocks
    vxtest::CoreStation s(capture, codecs);
    Station& st = s.station();
    StationProbe(st).StalledListenerLimitMs = 50;
    s.start();
    ASSERT_TRUE(s.broadcasting());
    auto stalled = vxtest::listenerProgram(s.port());  // never reads
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.GetUseranzahl() == 1; }));
    const auto stalledConnection = StationProbe(st).ServerVandorixClient->ConnectionAt(0);
    auto reader = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.GetUseranzahl() == 2; }));

    // Blocks go out until the stalled listener has refused them for the limit: a matter of time, not of
    // their number, since a fast machine hands out hundreds of blocks in those 50 ms.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (stalledConnection->IsOpen() && std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(s.oneBlock(*capture));
        reader->received();
        reader->clearReceived();
        StationProbe(st).ConnectionTestTimer();
    }
    EXPECT_FALSE(stalledConnection->IsOpen()) << "the stalled listener kept its slot";
    EXPECT_EQ(st.status()->listenerCount(), 1);
    EXPECT_FALSE(reader->closedByServer());
    EXPECT_TRUE(stalled->waitForClose());
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

// A listener whose host went away without a word (no FIN, no reset) is heard of only when a send to it
// fails; the connection test after that failure lists it no more. Loopback always says goodbye, so the
// station's own end of the connection is shut for sending instead: the peer sends nothing, the station
// is told nothing, and its next send fails.
TEST(StalledListener, AListenerGoneWithoutACloseLeavesTheListAfterTheFirstFailedSend) {
    auto capture = std::make_shared<vx::wavein::SimulatedWaveIn>();
    vxtest::LiveStation s(capture, std::make_shared<vx::acm::SimulatedAcm>());
    TMainform& w = s.w();
    w.Connectrbtn->click();
    ASSERT_TRUE(s.broadcasting());
    auto gone = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.station().GetUseranzahl() == 1; }));
    auto stays = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.station().GetUseranzahl() == 2; }));
    TServerSocket& port = *StationProbe(w.station()).ServerVandorixClient;
    ASSERT_EQ(::shutdown(port.ConnectionAt(0)->SocketHandle(), SHUT_WR), 0);

    StationProbe(w.station()).ConnectionTestTimer();
    EXPECT_EQ(w.Hoerer->text().toStdString(), "2") << "nothing told the station yet";
    ASSERT_TRUE(s.oneBlock(*capture));
    ASSERT_TRUE(vxtest::waitUntil([&] { return port.ConnectionCount() == 1; }))
        << "the failed send left the connection open";
    StationProbe(w.station()).ConnectionTestTimer();
    EXPECT_EQ(w.Hoerer->text().toStdString(), "1");
    EXPECT_EQ(w.ClientslistRows->rowCount(), 1);
    EXPECT_FALSE(stays->closedByServer());
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

// The sender writes to a session only when its listener refuses a block or takes one again after
// refusing: one that catches up must start afresh, or it would lose its slot while reading.
TEST(StalledListener, ListenerThatCatchesUpAfterRefusingStartsAfresh) {
    auto capture = std::make_shared<vx::wavein::SimulatedWaveIn>();
    auto codecs = std::make_shared<vx::acm::SimulatedAcm>();
    codecs->outputSize = codecs->convertedBytes = 256 * 1024;
    vxtest::CoreStation s(capture, codecs);
    Station& st = s.station();
    s.start();
    ASSERT_TRUE(s.broadcasting());
    auto peer = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.GetUseranzahl() == 1; }));
    const TVXSocketData* session = listenerSession(*StationProbe(st).ServerVandorixClient->ConnectionAt(0));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (session->stalledFor() == 0ms && std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(s.oneBlock(*capture));
    }
    ASSERT_GT(session->stalledFor(), 0ms) << "the listener never refused a block";
    while (session->stalledFor() > 0ms && std::chrono::steady_clock::now() < deadline) {
        peer->received();
        peer->clearReceived();
        ASSERT_TRUE(s.oneBlock(*capture));
    }
    EXPECT_EQ(session->stalledFor(), 0ms);
}

// A peer that connects and says nothing holds its descriptor for half a minute, no longer and no less;
// one that has spoken is never closed this way. The port's clock is moved on instead of waited for.
TEST(StalledListener, APeerSilentFor30SecondsIsClosedOneThatSpokeStays) {
    const auto start = std::chrono::steady_clock::now();
    std::chrono::milliseconds passed{0};
    vxtest::CoreStation s(std::make_shared<vx::wavein::SimulatedWaveIn>(),
                          std::make_shared<vx::acm::SimulatedAcm>());
    Station& st = s.station();
    TServerSocket& port = *StationProbe(st).ServerVandorixClient;
    port.Clock = [&] { return start + passed; };
    s.start();
    ASSERT_TRUE(s.broadcasting());
    vxtest::LoopbackPeer silent(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return port.ConnectionCount() == 1; }));
    const auto silentConnection = port.ConnectionAt(0);
    auto listener = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.GetUseranzahl() == 1; }));

    passed = 29999ms;
    port.CheckDeadlines();
    EXPECT_TRUE(silentConnection->IsOpen()) << "closed before its 30 s";
    passed = 30000ms;
    port.CheckDeadlines();
    EXPECT_TRUE(silent.waitForClose()) << "a silent peer kept its descriptor beyond 30 s";
    passed = 1h;
    port.CheckDeadlines();
    EXPECT_EQ(st.GetUseranzahl(), 1);
    EXPECT_FALSE(listener->closedByServer());
    s.stop();
}

}  // namespace
