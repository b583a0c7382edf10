// SPDX-License-Identifier: GPL-3.0-or-later
// The remote control alone, with the station's commands faked: which command reaches which command, and
// when.
#include "station/RemoteControlService.h"
#include "support/LoopbackPeer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

const QByteArray kTerminator("\xFF\xFF\xFF\xFF", 4);

TEST(RemoteControlService, CommandsReachTheStationOnlyInTheStatesTheyApplyToAndAfterStartUp) {
    StationState state = StationState::Stopped;
    QStringList called;
    int reads = 0;
    auto rows = std::make_shared<std::vector<ListenerRow>>();
    rows->push_back(ListenerRow{});
    rows->back().address = QStringLiteral("10.0.0.7");
    RemoteControlService remote(0, QStringLiteral("127.0.0.1"),
                                RemoteControlService::Commands{
                                    .trace = [](const char*) {},
                                    .step =
                                        [&](int n) {
                                            reads += n == 3 ? 1 : 0;  // every read reaches step 3
                                        },
                                    .guarded = [](const std::function<void()>& handler) { handler(); },
                                    .state = [&] { return state; },
                                    .start = [&] { called << QStringLiteral("start"); },
                                    .stop = [&] { called << QStringLiteral("stop"); },
                                    .end = [&] { called << QStringLiteral("end"); },
                                    .clients = [&] { return ListenerSnapshot(rows); },
                                    .setInfoText = [&](const QString& text) { called << text; },
                                });
    ASSERT_EQ(remote.listen(), QString());
    vxtest::LoopbackPeer peer(remote.localPort());
    ASSERT_TRUE(peer.connected());
    const auto command = [&](const QByteArray& bytes) {
        const int before = reads;
        ASSERT_TRUE(peer.write(bytes + kTerminator));
        ASSERT_TRUE(vxtest::waitUntil([&] { return reads > before; }));
    };

    // Before start-up has applied the settings only "Ende" is carried out; the rest waits, in order.
    command("Start");
    command("Info\xC3\xA4");
    command("Ende");
    EXPECT_EQ(called, QStringList{QStringLiteral("end")});
    remote.startupFinished();
    EXPECT_EQ(called, (QStringList{QStringLiteral("end"), QStringLiteral("start"), QStringLiteral("ä")}));

    called.clear();
    state = StationState::OnAir;
    command("Start");  // one broadcast at a time
    command("Stop");
    state = StationState::RecordOnly;
    command("Stop");  // the listener port is closed: no broadcast to stop
    state = StationState::Stopped;
    command("Stop");
    command("Start\r\n");
    EXPECT_EQ(called, (QStringList{QStringLiteral("stop")}));

    command("Liste");
    ASSERT_TRUE(peer.waitForBytes(8 + 4));
    EXPECT_EQ(peer.received(), "10.0.0.7" + kTerminator);
}

}  // namespace
