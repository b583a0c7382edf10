// SPDX-License-Identifier: GPL-3.0-or-later
// The listener port of the window: handshake replies byte for byte, admission, the client list and the
// info channel, over real loopback connections.
#include "support/LoopbackPeer.h"
#include "ui/ListenerListModel.h"

#include "audio/TACMConvertor.h"
#include "net/TVXSocketData.h"
#include "platform/Ansi.h"
#include "platform/language/LanguageChoice.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"

#include <QCheckBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using vxtest::LoopbackPeer;
using vxtest::waitUntil;

namespace {

using SocketPtr = std::shared_ptr<TServerClientWinSocket>;

const QByteArray kCrLf = "\r\n";

class ListenerServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        form = &fx.create();
        ASSERT_FALSE(form->StartupAborted());
        form->RadioName->setText(QStringLiteral("Müller"));
        form->ExtRadioname->setText(QStringLiteral(" FM"));
        StationProbe(form->station()).road.codec().FormatOut.setAvgBytesPerSec(16000);
        StationProbe(form->station()).MaxUser = 3;
        form->Beschr->setChecked(true);
        server().Port = 0;
        server().SetActive(true);
        port = server().LocalPort();
        notice = vx::toAnsi(form->Msg(32));
        fullNotice = notice;
        fullNotice.replace("{Radioname}",
                           "M\xFC"
                           "ller");
    }
    void TearDown() override {
        if (originalLanguage != nullptr) {
            StationProbe(form->station()).Languagelist = originalLanguage;
        }
    }

    TServerSocket& server() { return *StationProbe(form->station()).ServerVandorixClient; }

    // A new peer, accepted by the server; its server side is returned through conn.
    std::unique_ptr<LoopbackPeer> connect(SocketPtr* conn = nullptr) {
        const int before = server().ConnectionCount();
        auto peer = std::make_unique<LoopbackPeer>(port);
        EXPECT_TRUE(peer->connected());
        EXPECT_TRUE(waitUntil([&] { return server().ConnectionCount() > before; }));
        if (conn != nullptr) {
            *conn = server().ConnectionAt(server().ConnectionCount() - 1);
        }
        return peer;
    }

    // Connects, sends the request and waits until a reply of the expected size (or a close) arrived.
    std::unique_ptr<LoopbackPeer> ask(const QByteArray& request, qsizetype replySize,
                                      SocketPtr* conn = nullptr) {
        auto peer = connect(conn);
        EXPECT_TRUE(peer->write(request));
        EXPECT_TRUE(peer->waitForBytes(replySize)) << request.toStdString();
        return peer;
    }

    static std::shared_ptr<TVXSocketData> session(const SocketPtr& conn) {
        return conn->UserDataAs<TVXSocketData>();
    }

    QByteArray icyReply(const QByteArray& name) const {
        return "ICY 200 OK" + kCrLf + "icy-notice1:<BR>" + notice + "<BR>" + kCrLf +
               "icy-notice2:KT-VandorixServer 6.0<BR>" + kCrLf + "icy-name:" + name + kCrLf + "icy-br:128" +
               kCrLf + kCrLf + kCrLf;
    }
    QByteArray infoPage() const {
        return "HTTP/1.0 200 OK" + kCrLf + "Connection: close" + kCrLf + kCrLf + kCrLf +
               "KT-VandorixServer 6.0" + kCrLf + "<br>" + kCrLf + "<hr>" + kCrLf + "<br>" + kCrLf + notice +
               kCrLf;
    }
    const QByteArray station =
        "M\xFC"
        "ller FM";  // Windows-1252 on the wire

    // Checks the 514-byte header field by field.
    static void expectHeader(const QByteArray& h, const QByteArray& name, const TAudioFormat& in,
                             const TAudioFormat& out) {
        ASSERT_EQ(h.size(), 514);
        EXPECT_EQ(uint8_t(h[0]), name.size());
        EXPECT_EQ(h.mid(1, name.size()), name);
        EXPECT_EQ(h.mid(1 + name.size(), 255 - name.size()), QByteArray(255 - name.size(), '\0'));
        EXPECT_EQ(h.mid(256, 129), in.toBytes());
        EXPECT_EQ(h.mid(385, 129), out.toBytes());
    }

    vxtest::MainformFixture fx;
    TMainform* form = nullptr;
    const QStringList* originalLanguage = nullptr;
    int port = 0;
    QByteArray notice;
    QByteArray fullNotice;
};

struct HandshakeCase {
    const char* what;
    QByteArray request;
    enum { Icy, Info, Header, Name, InfoPage } reply;
    uint8_t kind;
    QString program;
};

TEST_F(ListenerServiceTest, EachRequestGetsItsReplyByteForByteAndItsSessionState) {
    form->AktInfo->setText(QStringLiteral("Titel: Ärger"));
    const HandshakeCase cases[] = {
        {"ICY player with agent", "GET / HTTP/1.0\r\nUser-Agent: WinampMPEG/5.0\r\nIcy-MetaData:1\r\n\r\n",
         HandshakeCase::Icy, 1, QStringLiteral("WinampMPEG/5.0")},
        {"ICY request without agent", "GET / HTTP/1.0\r\nHost: x\r\n\r\n", HandshakeCase::Icy, 1,
         QStringLiteral("HTTP/1.0")},
        {"ICY request line without line end", "GET / HTTP/1.0", HandshakeCase::Icy, 1, QString()},
        {"info channel", "KT-VandorixClient v40-Info", HandshakeCase::Info, 2, QString()},
        {"listener program 4.0", "KT-VandorixClient v40-Daten", HandshakeCase::Header, 1,
         QStringLiteral("KT-VandorixClient v40")},
        {"listener program 3.0", "KT-VandorixClient v30", HandshakeCase::Header, 1,
         QStringLiteral("KT-VandorixClient v30")},
        {"listener program 2.0", "KT-VandorixClient v20", HandshakeCase::Header, 1,
         QStringLiteral("KT-VandorixClient v20")},
        {"name query", "Radioname", HandshakeCase::Name, 0, QString()},
        {"HTTP/1.1 request", "GET / HTTP/1.1\r\nUser-Agent: Mozilla/5.0\r\n\r\n", HandshakeCase::InfoPage, 0,
         QString()},
        {"lower-case request", "get / http/1.0\r\n\r\n", HandshakeCase::InfoPage, 0, QString()},
        {"other path", "GET /stream HTTP/1.0\r\n\r\n", HandshakeCase::InfoPage, 0, QString()},
        {"bare 4.0 agent", "KT-VandorixClient v40", HandshakeCase::InfoPage, 0, QString()},
        {"agent with line end", "KT-VandorixClient v30\r\n", HandshakeCase::InfoPage, 0, QString()},
        {"name query with line end", "Radioname\r\n", HandshakeCase::InfoPage, 0, QString()},
    };
    for (const HandshakeCase& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray expected;
        switch (c.reply) {
            case HandshakeCase::Icy:
                expected = icyReply(station);
                break;
            case HandshakeCase::Info:
                expected = "Titel: \xC4rger";
                break;
            case HandshakeCase::Header:
                break;  // checked field by field below
            case HandshakeCase::Name:
                expected = vx::toAnsi(form->Msg(34));
                break;
            case HandshakeCase::InfoPage:
                expected = infoPage();
                break;
        }
        SocketPtr conn;
        auto peer = ask(c.request, c.reply == HandshakeCase::Header ? 514 : expected.size(), &conn);
        if (c.reply == HandshakeCase::InfoPage) {
            EXPECT_TRUE(peer->waitForClose());
            EXPECT_FALSE(conn->IsOpen());
        } else {
            EXPECT_TRUE(conn->IsOpen());
            EXPECT_FALSE(peer->closedByServer());
        }
        if (c.reply == HandshakeCase::Header) {
            expectHeader(peer->received(), station, StationProbe(form->station()).road.codec().FormatIn,
                         StationProbe(form->station()).road.codec().FormatOut);
        } else {
            EXPECT_EQ(peer->received(), expected);
        }
        ASSERT_TRUE(session(conn));
        EXPECT_EQ(session(conn)->Kind.load(), c.kind);
        EXPECT_EQ(session(conn)->Ready.load(), c.kind == 0 ? 0 : 1);
        EXPECT_EQ(session(conn)->ClientProgram, c.program);
        peer->close();
        ASSERT_TRUE(waitUntil([&] { return server().ConnectionCount() == 0; }));
    }
}

class EnglishListenerServiceTest : public ListenerServiceTest {
protected:
    void SetUp() override {
        fx.env.language = vx::language::kEnglish;
        ListenerServiceTest::SetUp();
    }
};

// The language reaches the wire: the notice, the name answer and the default info text are English.
TEST_F(EnglishListenerServiceTest, PlayerNameQueryAndInfoChannelAreAnsweredInEnglish) {
    ASSERT_EQ(notice, QByteArray("The number of listeners on this server may be limited. If it is full, "
                                 "please try again later."));
    auto player = ask("GET / HTTP/1.0\r\n\r\n", icyReply(station).size());
    EXPECT_EQ(player->received(), icyReply(station));
    const QByteArray name = "The name of this server is KT-VandorixServer 6.0";
    auto nameQuery = ask("Radioname", name.size());
    EXPECT_EQ(nameQuery->received(), name);
    const QByteArray info = "Welcome to this Vandorix";
    auto infoChannel = ask("KT-VandorixClient v40-Info", info.size());
    EXPECT_EQ(infoChannel->received(), info);
}

TEST_F(ListenerServiceTest, RequestSplitOverTwoReadsIsAdmittedThenAnsweredWithTheInfoPage) {
    SocketPtr conn;
    auto peer = ask("GET / HTTP/1.0\r\n", icyReply(station).size(), &conn);
    EXPECT_EQ(peer->received(), icyReply(station));
    EXPECT_EQ(session(conn)->Kind.load(), 1);
    EXPECT_EQ(session(conn)->ClientProgram, QStringLiteral("HTTP/1.0"));
    peer->clearReceived();
    ASSERT_TRUE(peer->write("User-Agent: Player/1.0\r\n\r\n"));
    ASSERT_TRUE(peer->waitForClose());
    EXPECT_EQ(peer->received(), infoPage());
}

TEST_F(ListenerServiceTest, SecondRequestLineIsAnsweredAgainWithTheIcyReply) {
    auto peer = ask("GET / HTTP/1.0\r\n\r\n", icyReply(station).size());
    peer->clearReceived();
    ASSERT_TRUE(peer->write("GET / HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(peer->waitForBytes(icyReply(station).size()));
    EXPECT_EQ(peer->received(), icyReply(station));
    EXPECT_FALSE(peer->closedByServer());
}

TEST_F(ListenerServiceTest, FourthListenerAtLimitThreeIsRefusedAndCountsNowhere) {
    std::vector<std::unique_ptr<LoopbackPeer>> admitted;
    admitted.push_back(ask("GET / HTTP/1.0\r\nUser-Agent: A/1\r\n\r\n", icyReply(station).size()));
    admitted.push_back(ask("KT-VandorixClient v30", 514));
    admitted.push_back(ask("GET / HTTP/1.0\r\nUser-Agent: C/3\r\n\r\n", icyReply(station).size()));
    ASSERT_EQ(form->station().GetUseranzahl(), 3);

    // The fourth player gets the reply with the full notice as its name, then the close.
    SocketPtr icyConn;
    auto icy = ask("GET / HTTP/1.0\r\nUser-Agent: D/4\r\n\r\n", icyReply(fullNotice).size(), &icyConn);
    EXPECT_TRUE(icy->waitForClose());
    EXPECT_EQ(icy->received(), icyReply(fullNotice));
    EXPECT_EQ(session(icyConn)->Kind.load(), 0);

    // The fourth listener program gets the header with the full notice and stays, without audio.
    SocketPtr programConn;
    auto program = ask("KT-VandorixClient v40-Daten", 514, &programConn);
    expectHeader(program->received(), fullNotice, StationProbe(form->station()).road.codec().FormatIn,
                 StationProbe(form->station()).road.codec().FormatOut);
    EXPECT_TRUE(programConn->IsOpen());
    EXPECT_EQ(session(programConn)->Kind.load(), 0);
    EXPECT_EQ(session(programConn)->Ready.load(), 0);

    // An info channel is served whatever the count.
    SocketPtr infoConn;
    auto info = ask("KT-VandorixClient v40-Info", form->AktInfo->text().size(), &infoConn);
    EXPECT_EQ(session(infoConn)->Kind.load(), 2);

    EXPECT_EQ(form->station().GetUseranzahl(), 3);
    form->Hoerer->setText(QStringLiteral("?"));
    StationProbe(form->station()).ConnectionTestTimer();
    EXPECT_EQ(form->Hoerer->text(), QStringLiteral("3"));
    ASSERT_EQ(form->ClientslistRows->rowCount(), 3);
    const QString programs[] = {QStringLiteral("A/1"), QStringLiteral("KT-VandorixClient v30"),
                                QStringLiteral("C/3")};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(form->ClientslistRows->row(i).address, QStringLiteral("127.0.0.1"));
        EXPECT_EQ(form->ClientslistRows->row(i).program, programs[i]);
    }
}

// Message 32 is the notice of every reply and the name a refused peer is shown: an admitted listener
// must not read that the station is full, nor a placeholder; a refused one must read to come back later.
TEST_F(ListenerServiceTest, NoticeReadsRightToAdmittedAndRefusedPeers) {
    StationProbe(form->station()).MaxUser = 1;
    auto admitted = ask("GET / HTTP/1.0\r\n\r\n", icyReply(station).size());
    const QByteArray reply = admitted->received();
    const qsizetype start = reply.indexOf("icy-notice1:<BR>") + 16;
    const QByteArray general = reply.mid(start, reply.indexOf("<BR>\r\n", start) - start);
    EXPECT_FALSE(general.contains('{')) << general.toStdString();
    EXPECT_FALSE(general.contains(" ist voll")) << general.toStdString();

    auto refused = ask("KT-VandorixClient v30", 514);
    const QByteArray header = refused->received();
    const QByteArray full = header.mid(1, uint8_t(header[0]));
    EXPECT_TRUE(full.contains("sp\xE4ter")) << "Windows-1252 on the wire: " << full.toStdString();
    EXPECT_FALSE(full.contains('{')) << full.toStdString();
}

TEST_F(ListenerServiceTest, LimitZeroRefusesTheFirstListenerAndUncheckedLimitAdmitsAny) {
    StationProbe(form->station()).MaxUser = 0;
    auto refused = ask("GET / HTTP/1.0\r\n\r\n", icyReply(fullNotice).size());
    EXPECT_EQ(refused->received(), icyReply(fullNotice));
    EXPECT_TRUE(refused->waitForClose());
    EXPECT_EQ(form->station().GetUseranzahl(), 0);

    form->Beschr->setChecked(false);
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    for (int i = 0; i < 5; ++i) {
        peers.push_back(ask("GET / HTTP/1.0\r\n\r\n", icyReply(station).size()));
        EXPECT_EQ(peers.back()->received(), icyReply(station));
    }
    EXPECT_EQ(form->station().GetUseranzahl(), 5);
}

TEST_F(ListenerServiceTest, HeaderCutsALongFullNoticeTo255BytesWhileTheIcyReplyCarriesItWhole) {
    QStringList language = *StationProbe(form->station()).Languagelist;
    language[32] = QStringLiteral("{Radioname}") + QString(300, QLatin1Char('n'));
    originalLanguage = StationProbe(form->station()).Languagelist;
    StationProbe(form->station()).Languagelist = &language;
    notice = vx::toAnsi(language[32]);
    const QByteArray longFull =
        "M\xFC"
        "ller" +
        QByteArray(300, 'n');
    StationProbe(form->station()).MaxUser = 0;

    auto program = ask("KT-VandorixClient v30", 514);
    expectHeader(program->received(), longFull.left(255), StationProbe(form->station()).road.codec().FormatIn,
                 StationProbe(form->station()).road.codec().FormatOut);

    auto icy = ask("GET / HTTP/1.0\r\n\r\n", icyReply(longFull).size());
    EXPECT_EQ(icy->received(), icyReply(longFull));
}

TEST_F(ListenerServiceTest, StationNameOfFullLengthFillsTheHeadersNameField) {
    form->RadioName->setText(QString(20, QLatin1Char('r')));
    form->ExtRadioname->setText(QString(235, QLatin1Char('e')));
    auto program = ask("KT-VandorixClient v40-Daten", 514);
    expectHeader(program->received(), QByteArray(20, 'r') + QByteArray(235, 'e'),
                 StationProbe(form->station()).road.codec().FormatIn,
                 StationProbe(form->station()).road.codec().FormatOut);
}

TEST_F(ListenerServiceTest, HeaderCarriesThePlaybackFormatsWhilePlaying) {
    TAudioFormat decodeFormat = defaultInputFormat();
    decodeFormat.setSamplesPerSec(22050);
    TAudioFormat format = defaultOutputFormat();
    format.setAvgBytesPerSec(4000);
    StationProbe(form->station()).player().begin(QStringLiteral("played.ktv"), format, decodeFormat);
    StationProbe(form->station()).changeMode(StationEvent::PlaybackRequested);
    auto program = ask("KT-VandorixClient v30", 514);
    StationProbe(form->station()).changeMode(StationEvent::PlaybackEnded);
    expectHeader(program->received(), station, decodeFormat, format);
    // Players are told the bit rate of the file they get, not the codec stream's.
    StationProbe(form->station()).changeMode(StationEvent::PlaybackRequested);
    QByteArray played = icyReply(station);
    played.replace("icy-br:128", "icy-br:32");
    auto icy = ask("GET / HTTP/1.0\r\n\r\n", played.size());
    StationProbe(form->station()).changeMode(StationEvent::PlaybackEnded);
    EXPECT_EQ(icy->received(), played);
}

TEST_F(ListenerServiceTest, ReadNoticeWithoutBytesGetsTheInfoPageAndTheClose) {
    SocketPtr conn;
    auto peer = connect(&conn);
    StationProbe(form->station()).ServerVandorixClientClientRead(conn);
    ASSERT_TRUE(peer->waitForClose());
    EXPECT_EQ(peer->received(), infoPage());
}

TEST_F(ListenerServiceTest, UpdateSendsTheInfoTextToInfoChannelsOnly) {
    form->AktInfo->setText(QStringLiteral("alt"));
    auto info1 = ask("KT-VandorixClient v40-Info", 3);
    auto player = ask("GET / HTTP/1.0\r\n\r\n", icyReply(station).size());
    auto info2 = ask("KT-VandorixClient v40-Info", 3);
    auto program = ask("KT-VandorixClient v30", 514);
    for (auto* p : {info1.get(), info2.get(), player.get(), program.get()}) {
        p->clearReceived();
    }
    form->AktInfo->setText(QStringLiteral("Größe"));
    form->Update->click();
    EXPECT_TRUE(form->Update->isEnabled());
    ASSERT_TRUE(info1->waitForBytes(5));
    ASSERT_TRUE(info2->waitForBytes(5));
    EXPECT_EQ(info1->received(),
              "Gr\xF6\xDF"
              "e");
    EXPECT_EQ(info2->received(),
              "Gr\xF6\xDF"
              "e");
    // Both info channels have their text, and loopback sends were made in list order: anything sent
    // to the two audio peers in between would have arrived as well.
    EXPECT_TRUE(player->received().isEmpty());
    EXPECT_TRUE(program->received().isEmpty());
}

TEST_F(ListenerServiceTest, UpdateWithoutInfoChannelsLeavesTheButtonEnabled) {
    auto player = ask("GET / HTTP/1.0\r\n\r\n", icyReply(station).size());
    player->clearReceived();
    form->Update->click();
    EXPECT_TRUE(form->Update->isEnabled());
    EXPECT_TRUE(player->received().isEmpty());
}

TEST_F(ListenerServiceTest, ConnectionTestTickShowsZeroListenersWithoutBroadcast) {
    server().SetActive(false);
    form->Hoerer->setText(QStringLiteral("7"));
    form->ClientslistRows->update({{1, QStringLiteral("1.2.3.4"), QStringLiteral("old")}});
    ASSERT_TRUE(StationProbe(form->station()).ConnectionTest->isActive());
    EXPECT_TRUE(waitUntil([&] { return form->Hoerer->text() == QStringLiteral("0"); }, 3000));
    EXPECT_EQ(form->ClientslistRows->rowCount(), 0);
}

TEST_F(ListenerServiceTest, ListenerThatLeftOrResetDropsOutOfListAndCountAtOnce) {
    auto a = ask("GET / HTTP/1.0\r\nUser-Agent: A/1\r\n\r\n", icyReply(station).size());
    auto b = ask("GET / HTTP/1.0\r\nUser-Agent: B/2\r\n\r\n", icyReply(station).size());
    a->close();
    ASSERT_TRUE(waitUntil([&] { return server().ConnectionCount() == 1; }));
    StationProbe(form->station()).ConnectionTestTimer();
    EXPECT_EQ(form->Hoerer->text(), QStringLiteral("1"));
    ASSERT_EQ(form->ClientslistRows->rowCount(), 1);
    EXPECT_EQ(form->ClientslistRows->row(0).program, QStringLiteral("B/2"));
    // A reset (an error notice) closes the connection at once too, rather than when a send fails.
    b->reset();
    ASSERT_TRUE(waitUntil([&] { return server().ConnectionCount() == 0; }));
    StationProbe(form->station()).ConnectionTestTimer();
    EXPECT_EQ(form->Hoerer->text(), QStringLiteral("0"));
}

// A tick only compares with the rows shown while nobody joined or left, and rebuilds them otherwise: an
// admission that changes no connection, a second request that names the player anew and rows the view
// lost must all show, and the count label must agree with the rows.
TEST_F(ListenerServiceTest, ClientListShowsExactlyTheAdmittedListenersAfterJoinsLeavesAndARebuild) {
    form->Beschr->setChecked(false);
    auto expectList = [&](const std::vector<QString>& programs) {
        StationProbe(form->station()).ConnectionTestTimer();
        ASSERT_EQ(form->ClientslistRows->rowCount(), int(programs.size()));
        EXPECT_EQ(form->Hoerer->text(), QString::number(programs.size()));
        for (std::size_t i = 0; i < programs.size(); ++i) {
            EXPECT_EQ(form->ClientslistRows->row(int(i)).address, QStringLiteral("127.0.0.1"));
            EXPECT_EQ(form->ClientslistRows->row(int(i)).program, programs[i]) << "row " << i;
        }
    };
    const qsizetype reply = icyReply(station).size();
    auto a = ask("GET / HTTP/1.0\r\nUser-Agent: A/1\r\n\r\n", reply);
    auto waiting = connect();
    auto program = ask("KT-VandorixClient v30", 514);
    expectList({QStringLiteral("A/1"), QStringLiteral("KT-VandorixClient v30")});

    ASSERT_TRUE(waiting->write("GET / HTTP/1.0\r\nUser-Agent: W/2\r\n\r\n"));
    ASSERT_TRUE(waiting->waitForBytes(reply));
    expectList({QStringLiteral("A/1"), QStringLiteral("W/2"), QStringLiteral("KT-VandorixClient v30")});

    ASSERT_TRUE(a->write("GET / HTTP/1.0\r\nUser-Agent: A/9\r\n\r\n"));
    ASSERT_TRUE(a->waitForBytes(2 * reply));
    expectList({QStringLiteral("A/9"), QStringLiteral("W/2"), QStringLiteral("KT-VandorixClient v30")});

    a->close();
    ASSERT_TRUE(waitUntil([&] { return server().ConnectionCount() == 2; }));
    expectList({QStringLiteral("W/2"), QStringLiteral("KT-VandorixClient v30")});

    form->ClientslistRows->clear();
    expectList({QStringLiteral("W/2"), QStringLiteral("KT-VandorixClient v30")});
}

struct LimitCase {
    const char* upload;
    uint32_t bytesPerSecond;
    int maxUser;
};

TEST_F(ListenerServiceTest, UploadChangeRecomputesTheLimitAndItsCaption) {
    const LimitCase cases[] = {
        {"64", 16000, 0}, {"64", 4000, 2},  {"abc", 4000, 0},
        {"64", 100, 0},   {"128", 2250, 7}, {" 64", 2000, 4},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.upload);
        StationProbe(form->station()).road.codec().FormatOut.setAvgBytesPerSec(c.bytesPerSecond);
        form->Upload->clear();
        form->Upload->setText(QString::fromLatin1(c.upload));
        EXPECT_EQ(StationProbe(form->station()).MaxUser, c.maxUser);
        EXPECT_EQ(form->Beschr->text(),
                  form->Msg(21).replace(QStringLiteral("{User}"), QString::number(c.maxUser)));
    }
}

TEST_F(ListenerServiceTest, FocusLeavingUploadRunsItsExitHandlerButWindowDeactivationDoesNot) {
    StationProbe(form->station()).DebugStr = QStringLiteral("none");
    QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(form->Upload, &deactivated);
    EXPECT_EQ(StationProbe(form->station()).DebugStr.value(), QStringLiteral("none"));

    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(form->Upload, &leave);
    EXPECT_EQ(StationProbe(form->station()).DebugStr.value(), QStringLiteral("BeschrExit"));
    // No codec stream runs, so the change needs no notice.
    EXPECT_TRUE(fx.dialogs.messages.isEmpty());
}

TEST_F(ListenerServiceTest, LeavingUploadWhileTheCodecStreamRunsShowsMessage35Once) {
    TACMConvertor& codec = StationProbe(form->station()).road.codec();
    codec.SetInputBufferSize(int(codec.FormatIn.avgBytesPerSec()));
    StationProbe(form->station()).road.codec().SetActive(true);
    StationProbe(form->station()).publish();
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(form->Upload, &leave);
    StationProbe(form->station()).road.codec().SetActive(false);
    EXPECT_EQ(fx.dialogs.messages, QStringList{form->Msg(35)});
}

}  // namespace
