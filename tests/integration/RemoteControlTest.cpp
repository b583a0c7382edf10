// SPDX-License-Identifier: GPL-3.0-or-later
// The remote-control port in the station's own process, over loopback.
#include "StationHarness.h"
#include "app/StationApplication.h"
#include "platform/wavein/SimulatedWaveIn.h"
#include "support/LocalHttpServer.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>

using vxtest::CoreStation;
using vxtest::RemotePeer;

namespace {

// Sends one command as the only read of a fresh connection and waits until the station has handled it
// (it releases the connection after reading everything before the end). Returns the answer.
QByteArray command(CoreStation& s, const QByteArray& bytes) {
    RemotePeer peer(StationProbe(s.station()).remote().localPort());
    EXPECT_TRUE(peer.connected());
    peer.sendLast(bytes);
    QByteArray answer;
    EXPECT_TRUE(peer.readUntilClosed(answer));
    EXPECT_TRUE(vxtest::waitUntil(
        [&] { return StationProbe(s.station()).remote().socket().ConnectionCount() == 0; }));
    return answer;
}

TEST(RemoteControl, PeersOutsideTheLocalNetworksAreClosedAtOnce) {
    CoreStation s(std::make_shared<vx::wavein::SimulatedWaveIn>(), std::make_shared<vx::acm::SimulatedAcm>());
    const int port = StationProbe(s.station()).remote().localPort();
    ASSERT_GT(port, 0);

    RemotePeer foreign(port, "127.0.0.2");
    ASSERT_TRUE(foreign.connected());
    QByteArray received;
    EXPECT_TRUE(foreign.readUntilClosed(received));
    EXPECT_TRUE(received.isEmpty());

    RemotePeer local(port);
    ASSERT_TRUE(local.connected());
    ASSERT_TRUE(vxtest::waitUntil([&] {
        const auto c = StationProbe(s.station()).remote().socket().ConnectionAt(0);
        return StationProbe(s.station()).remote().socket().ConnectionCount() == 1 && c && c->IsOpen() &&
               c->PeerAddress() == QLatin1String("127.0.0.1");
    }));
    // The local peer is obeyed: its "Start" starts the broadcast.
    local.sendLast("Start" + vxtest::kTerminator);
    EXPECT_TRUE(vxtest::waitUntil([&] { return s.broadcasting(); }));
}

TEST(RemoteControl, StartWhileRunningAndStopWhileStoppedDoNothing) {
    vxtest::LocalHttpServer directory;
    directory.setHandler([](const vxtest::LocalHttpServer::Request& r) -> std::optional<QByteArray> {
        return vxtest::LocalHttpServer::response(r.target().contains("action=setoff") ? "E108" : "E100");
    });
    CoreStation s(std::make_shared<vx::wavein::SimulatedWaveIn>(), std::make_shared<vx::acm::SimulatedAcm>(),
                  directory.origin() + QStringLiteral("/vdb/"));
    s.station().editSettings([](StationSettings& settings) {
        settings.password = settings.passwordConfirm = QStringLiteral("pw");
    });
    auto actions = [&] {
        QStringList out;
        for (const auto& r : directory.requests()) {
            const QByteArray t = r.target();
            out << QString::fromLatin1(t.mid(t.indexOf("action=") + 7).split('&').first());
        }
        return out;
    };

    command(s, "Stop" + vxtest::kTerminator);  // nothing runs: no stop, so no off-air report
    command(s, "Start" + vxtest::kTerminator);
    ASSERT_TRUE(s.broadcasting());
    ASSERT_TRUE(vxtest::waitUntil([&] { return actions() == QStringList{"setstatus"}; }));
    command(s, "Start" + vxtest::kTerminator);  // a second start would fail with the error report
    EXPECT_TRUE(s.broadcasting());
    command(s, "Stop" + vxtest::kTerminator);
    EXPECT_FALSE(s.broadcasting());
    EXPECT_EQ(s.station().state(), StationState::Stopped);
    ASSERT_TRUE(vxtest::waitUntil([&] { return directory.requestCount() == 3; }));
    command(s, "Stop" + vxtest::kTerminator);
    EXPECT_EQ(actions(), (QStringList{"setstatus", "setoff", "hoererupdate"}));
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

TEST(RemoteControl, AnythingButOneWholeCommandIsIgnored) {
    CoreStation s(std::make_shared<vx::wavein::SimulatedWaveIn>(), std::make_shared<vx::acm::SimulatedAcm>());
    const QByteArray T = vxtest::kTerminator;
    const QByteArray ignored[] = {
        "Start\r\n" + T, "Start",         "start" + T,     "Start" + T + "Liste" + T,
        " Start" + T,    "Start" + T + T, "Start\xFF\xFF", QByteArray("Start\0", 6) + T,
    };
    for (const QByteArray& bytes : ignored) {
        EXPECT_TRUE(command(s, bytes).isEmpty());
        EXPECT_FALSE(s.broadcasting()) << bytes.toHex().toStdString();
    }
    // A read notice that delivers nothing is no command either, and no end of the connection.
    TServerSocket& remote = StationProbe(s.station()).remote().socket();
    vxtest::LoopbackPeer quiet(remote.LocalPort());
    ASSERT_TRUE(vxtest::waitUntil([&] { return remote.ConnectionCount() == 1; }));
    StationProbe(s.station()).remote().RemoteControlClientRead(remote.ConnectionAt(0));
    EXPECT_TRUE(remote.ConnectionAt(0)->IsOpen());
    EXPECT_FALSE(quiet.closedByServer());
    EXPECT_TRUE(quiet.received().isEmpty());
    quiet.close();
    ASSERT_TRUE(vxtest::waitUntil([&] { return remote.ConnectionCount() == 0; }));
    EXPECT_TRUE(s.dialogs.messages.isEmpty());
    command(s, "Start" + T);
    EXPECT_TRUE(s.broadcasting());
}

// Any local program can reset its connections by the thousand: each costs that connection, no report.
TEST(RemoteControl, ResetConnectionsCloseQuietly) {
    CoreStation s(std::make_shared<vx::wavein::SimulatedWaveIn>(), std::make_shared<vx::acm::SimulatedAcm>());
    TServerSocket& remote = StationProbe(s.station()).remote().socket();
    // Errors that escape a handler end in the station's error report, as in the program.
    struct Report {
        explicit Report(Station& st) {
            app()->OnException = [&st](QObject*, const std::exception& e) { st.AppException(e); };
        }
        ~Report() { app()->OnException = nullptr; }
        static StationApplication* app() { return static_cast<StationApplication*>(qApp); }
    } report(s.station());
    for (int i = 0; i < 20; ++i) {
        vxtest::LoopbackPeer peer(remote.LocalPort());
        ASSERT_TRUE(vxtest::waitUntil([&] { return remote.ConnectionCount() == 1; }));
        if (i % 2 == 1) {
            peer.write("Liste" + vxtest::kTerminator);
        }
        peer.reset();
        ASSERT_TRUE(vxtest::waitUntil([&] { return remote.ConnectionCount() == 0; }));
    }
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
    command(s, "Start" + vxtest::kTerminator);
    EXPECT_TRUE(s.broadcasting());
}

// Peers sending half a command, or nothing, must not hold the port's descriptors for good.
TEST(RemoteControl, ConnectionsWithoutAWholeCommandTimeOutAndThoseBeyondTheMostAreRefused) {
    CoreStation s(std::make_shared<vx::wavein::SimulatedWaveIn>(), std::make_shared<vx::acm::SimulatedAcm>());
    TServerSocket& remote = StationProbe(s.station()).remote().socket();
    remote.RequestTimeoutMs = 1000;
    remote.MaxConnections = 2;
    const int port = remote.LocalPort();
    auto open = [&] {
        const auto all = remote.Connections();
        return std::count_if(all.begin(), all.end(), [](const auto& c) { return c->IsOpen(); });
    };
    QElapsedTimer clock;
    clock.start();
    vxtest::LoopbackPeer half(port);
    vxtest::LoopbackPeer active(port);
    ASSERT_TRUE(vxtest::waitUntil([&] { return open() == 2; }));
    half.write("Sta");
    vxtest::LoopbackPeer refused(port);
    EXPECT_TRUE(refused.waitForClose(2000)) << "a third connection was taken";
    EXPECT_FALSE(half.closedByServer() || active.closedByServer());
    // Half-way through its time a whole command gives the active peer another second.
    QTimer::singleShot(500, [&] { active.write("Liste" + vxtest::kTerminator); });
    ASSERT_TRUE(half.waitForClose(5000)) << "half a command held its connection";
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_FALSE(active.closedByServer()) << "a whole command did not renew the connection's time";
    vxtest::LoopbackPeer next(port);
    EXPECT_TRUE(vxtest::waitUntil([&] { return open() == 2; }))
        << "the place the timeout freed was not taken";
    EXPECT_TRUE(active.waitForClose(5000));
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

TEST(RemoteControl, ListeAnswersOneElementPerListenerOfTheClientList) {
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone")));
    Station& st = s.station();
    EXPECT_TRUE(command(s, "Liste" + vxtest::kTerminator).isEmpty()) << "an empty list answers nothing";
    s.start();
    ASSERT_TRUE(s.broadcasting());
    std::vector<std::unique_ptr<vxtest::LoopbackPeer>> listeners;
    for (int i = 0; i < 3; ++i) {
        listeners.push_back(vxtest::listenerProgram(s.port()));
    }
    vxtest::LoopbackPeer info(s.port());  // not a listener: not in the list
    info.write("KT-VandorixClient v40-Info");
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.status()->listenerCount() == 3; }));

    const QByteArray element = "127.0.0.1" + vxtest::kTerminator;
    EXPECT_EQ(command(s, "Liste" + vxtest::kTerminator), element + element + element);
}

}  // namespace
