// SPDX-License-Identifier: GPL-3.0-or-later
// The web port without a station: a fake snapshot and a fake send table behind its hooks, real sockets.
#include "platform/acm/Acm.h"
#include "support/LoopbackPeer.h"
#include "web/WebPort.h"
#include "web/WebSession.h"

#include <gtest/gtest.h>

namespace {

using vxtest::LoopbackPeer;
using vxtest::waitUntil;

// The station as the port sees it: what the snapshot says, whether the limit lets one more in, and a
// send table whose recent audio is `burst`.
struct FakeStation {
    WebNow now;
    bool room = true;
    QByteArray burst;
    icy::TitleBoard titles;
    int admissions = 0;

    WebPort::Hooks hooks() {
        WebPort::Hooks h;
        h.now = [this] { return now; };
        h.admitsOneMore = [this] { return room; };
        h.admitWithBurst = [this](const QString& firstTitle, const WebPort::Admit& admit) {
            ++admissions;
            if (!titles.current()) {
                titles.set(firstTitle);
            }
            admit(burst, titles.current().get());
        };
        h.failed = [](const std::exception& e) { ADD_FAILURE() << e.what(); };
        return h;
    }
};

WebNow onAirMp3() {
    WebNow now;
    now.radioName = QStringLiteral("Testradio");
    now.extRadioName = QStringLiteral("Line\r\nbreak");
    now.infoText = QStringLiteral("Snapshot title");
    now.onAir = true;
    now.streamFormat.setFormatTag(vx::acm::WAVE_FORMAT_MPEGLAYER3);
    now.streamFormat.setSamplesPerSec(44100);
    now.streamFormat.setAvgBytesPerSec(16000);
    return now;
}

QByteArray bodyOf(const QByteArray& answer) {
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

// The stream goes only to a request the snapshot says is on air and the limit has room for; an admitted
// metadata listener gets its head and the burst framed with the snapshot's title in one piece, however
// its request head arrived, and becomes a listener of the send table.
TEST(WebPortAlone, AdmitsThroughTheSendTableOnlyOnAirAndWithRoom) {
    FakeStation station;
    station.burst = QByteArray(20000, '\x55');
    WebPort::Options options;
    options.listen = QStringLiteral("127.0.0.1:0");
    WebPort port(options, station.hooks());
    ASSERT_TRUE(port.open());

    const QByteArray request = "GET /stream HTTP/1.1\r\nUser-Agent: Fake/1\r\nIcy-MetaData: 1\r\n\r\n";
    {
        LoopbackPeer offAir(port.port());
        ASSERT_TRUE(offAir.write(request));
        ASSERT_TRUE(offAir.waitForClose());
        EXPECT_TRUE(offAir.received().startsWith("HTTP/1.1 503 Service Unavailable\r\n"));
        EXPECT_TRUE(offAir.received().contains("\r\nRetry-After: 10\r\n"));
    }
    station.now = onAirMp3();
    station.room = false;
    {
        LoopbackPeer full(port.port());
        ASSERT_TRUE(full.write(request));
        ASSERT_TRUE(full.waitForClose());
        EXPECT_EQ(bodyOf(full.received()), "The station is full: every listener place is taken.\n");
    }
    EXPECT_EQ(station.admissions, 0);

    station.room = true;
    ASSERT_TRUE(waitUntil([&] { return port.server().ConnectionCount() == 0; }));
    LoopbackPeer listener(port.port());
    ASSERT_TRUE(listener.write(request.left(20)));
    // The port has read the first part before the rest arrives.
    ASSERT_TRUE(waitUntil([&] {
        const auto connection = port.server().ConnectionAt(0);
        return connection && static_cast<const WebSession*>(connection->Session())->head == request.left(20);
    }));
    ASSERT_TRUE(listener.write(request.mid(20)));
    const QByteArray head =
        "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nCache-Control: no-cache, no-store\r\n"
        "Access-Control-Allow-Origin: *\r\nConnection: close\r\nicy-name: Testradio\r\n"
        "icy-description: Line  break\r\nicy-br: 128\r\nicy-sr: 44100\r\nicy-pub: 0\r\n"
        "icy-metaint: 16000\r\n\r\n";
    const QByteArray title = icy::titleBlock(QStringLiteral("Snapshot title"));
    const QByteArray expected = head + station.burst.left(16000) + title + station.burst.mid(16000);
    ASSERT_TRUE(listener.waitForBytes(expected.size()));
    EXPECT_EQ(listener.received(), expected);
    EXPECT_FALSE(listener.closedByServer());

    ASSERT_EQ(station.admissions, 1);
    const auto connection = port.server().ConnectionAt(0);
    ASSERT_TRUE(connection);
    const auto* session = static_cast<const WebSession*>(connection->Session());
    EXPECT_EQ(session->Kind.load(), TVXSocketData::KindListener);
    EXPECT_TRUE(session->metadata);
    EXPECT_EQ(session->ClientProgram, QStringLiteral("Fake/1"));
    EXPECT_EQ(session->untilMeta, 12000);  // the send table goes on where the burst ended

    port.closeListeners();
    EXPECT_TRUE(listener.waitForClose());
}

// A peer's place among the waiting connections is given back when its connection turns listener or
// closes: a listener behind the same address does not keep the next request out.
TEST(WebPortAlone, ListenersAndClosedConnectionsLeaveTheGate) {
    FakeStation station;
    station.now = onAirMp3();
    WebPort::Options options;
    options.listen = QStringLiteral("127.0.0.1:0");
    options.maxWaitingPerPeer = 1;
    WebPort port(options, station.hooks());
    ASSERT_TRUE(port.open());

    auto idle = std::make_unique<LoopbackPeer>(port.port());
    ASSERT_TRUE(waitUntil([&] { return port.server().ConnectionCount() == 1; }));
    LoopbackPeer turnedAway(port.port());
    EXPECT_TRUE(turnedAway.waitForClose());
    EXPECT_TRUE(turnedAway.received().isEmpty());
    idle.reset();
    ASSERT_TRUE(waitUntil([&] { return port.server().ConnectionCount() == 0; }));

    LoopbackPeer listener(port.port());
    ASSERT_TRUE(listener.write("GET /stream HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(waitUntil([&] { return station.admissions == 1; }));
    LoopbackPeer page(port.port());
    ASSERT_TRUE(page.write("GET /now.json HTTP/1.1\r\nHost: radio.test:8000\r\n\r\n"));
    ASSERT_TRUE(page.waitForClose());
    EXPECT_TRUE(page.received().startsWith("HTTP/1.1 200 OK\r\n")) << page.received().toStdString();
    EXPECT_TRUE(bodyOf(page.received()).contains("\"stream_url\":\"http://radio.test:8000/stream\""));
    EXPECT_FALSE(listener.closedByServer());
}

}  // namespace
