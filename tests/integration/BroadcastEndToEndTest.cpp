// SPDX-License-Identifier: GPL-3.0-or-later
// The station as a listener meets it: a tone recorded through the real ALSA backend, encoded by LAME,
// served on loopback to mpg123 and to listener-program clients; the MP3 copy beside it.
#include "StationHarness.h"
#include "audio/QueuedFileWriter.h"
#include "net/TVXSocketData.h"
#include "platform/Ansi.h"
#include "platform/acm/Codecs.h"
#include "platform/wavein/WaveIn.h"
#include "support/StationProbe.h"
#include "ui/ListenerListModel.h"

#include <gtest/gtest.h>

#include <QStandardPaths>

using vxtest::CoreStation;
using vxtest::LiveStation;

namespace {

constexpr int kHeaderSize = 514;

// The dominant frequency of the last whole second of a mono signal.
double toneOf(const std::vector<int16_t>& s, long rate) {
    return rate > 0 && s.size() >= std::size_t(2 * rate)
               ? vxtest::dominantFrequency(s, rate, s.size() - std::size_t(rate), s.size())
               : 0.0;
}

// Where `part` lies in `whole`, or -1; `part` must be long enough to be unambiguous.
qsizetype offsetIn(const QByteArray& whole, const QByteArray& part) {
    return part.size() < 64 ? -1 : whole.indexOf(part.left(256));
}

// A listener program that stops reading after its request. Its receive buffer is made small before the
// connection exists, so the window it offers stays small.
class StalledListener {
public:
    explicit StalledListener(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 2048;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::send(fd_, "KT-VandorixClient v30", 21, MSG_NOSIGNAL);
    }
    ~StalledListener() { ::close(fd_); }
    // Reads again: everything the station had sent and the station's close.
    bool readUntilClosed(QByteArray& out) { return vxtest::readSocketUntilClosed(fd_, out); }
    int localPort() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    // True while the station has not closed the connection (nothing is read).
    bool open() const {
        char c;
        const ssize_t n = ::recv(fd_, &c, 1, MSG_DONTWAIT | MSG_PEEK);
        return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    }

private:
    int fd_ = -1;
};

TEST(EndToEnd, ListenersHearTheCapturedToneAndTheMp3CopyHoldsTheSameBlocks) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("mpg123")).isEmpty()) << "mpg123 is missing";
    QTemporaryDir toneDir;
    vxtest::AlsaToneFifo tone(toneDir.path(), 440.0);
    LiveStation s(tone.device());
    TMainform& w = s.w();
    // A limit of two listeners (36 kb/s for an 18 kb/s stream) makes a third one a refused peer.
    w.Upload->setText(QStringLiteral("36"));
    w.Beschr->setChecked(true);
    ASSERT_EQ(StationProbe(w.station()).MaxUser, 2);
    w.Mp3Aufz->setChecked(true);
    w.Connectrbtn->click();
    ASSERT_TRUE(s.broadcasting()) << s.dialogs.messages.join('|').toStdString();
    ASSERT_TRUE(s.settingsLocked());
    const QStringList copies = s.mp3Copies();
    ASSERT_EQ(copies.size(), 1);

    // mpg123 as an ICY player, decoding to raw samples on its standard output.
    vxtest::ChildProcess player(
        QStringLiteral("mpg123"),
        {QStringLiteral("-q"), QStringLiteral("-s"), QStringLiteral("http://127.0.0.1:%1/").arg(s.port())});
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.station().GetUseranzahl() == 1; }))
        << "mpg123 was not admitted";
    auto program = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.station().GetUseranzahl() == 2; }));
    vxtest::LoopbackPeer handshaking(s.port());  // connected, says nothing
    vxtest::LoopbackPeer info(s.port());
    info.write("KT-VandorixClient v40-Info");
    auto refused = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(refused->waitForBytes(kHeaderSize));
    ASSERT_TRUE(info.waitForBytes(w.AktInfo->text().size()));

    // Three seconds of audio after the header reach the listener program; mpg123 plays as long.
    QByteArray pcm;
    ASSERT_TRUE(vxtest::waitUntil(
        [&] {
            pcm += player.readOutput();
            return pcm.size() >= 3 * 11025 * 2 && program->received().size() >= kHeaderSize + 3 * 2000;
        },
        30000));
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.Hoerer->text() == QLatin1String("2"); }));
    EXPECT_EQ(w.ClientslistRows->rowCount(), 2);
    EXPECT_EQ(w.Errorsvandorixclient->text(), QStringLiteral("0"));
    const int bytesPerBlock = w.Bytesvandorixclient->text().toInt();
    EXPECT_GT(bytesPerBlock, 1500);
    EXPECT_LT(bytesPerBlock, 3500);
    EXPECT_EQ(w.Auslastung->maximum(), 36 * 128);
    EXPECT_GT(w.Auslastung->value(), 0);

    w.Disconnectrbtn->click();
    EXPECT_TRUE(s.settingsUnlocked());
    EXPECT_TRUE(program->waitForClose());
    EXPECT_TRUE(info.waitForClose());
    EXPECT_TRUE(handshaking.waitForClose());
    EXPECT_TRUE(refused->waitForClose());
    pcm += player.readOutput();
    EXPECT_TRUE(player.waitForFinished()) << "mpg123 still plays after the stop";
    EXPECT_EQ(w.Auslastung->value(), 0);
    EXPECT_EQ(w.ClientslistRows->rowCount(), 0);

    // What each peer received.
    EXPECT_TRUE(handshaking.received().isEmpty());
    EXPECT_EQ(info.received(), vx::toAnsi(w.AktInfo->text())) << "the info channel got audio";
    EXPECT_EQ(refused->received().size(), kHeaderSize) << "the refused peer got audio";

    const QByteArray copy = vxtest::readFile(s.path(copies[0]));
    const QByteArray audio = program->received().mid(kHeaderSize);
    const qsizetype at = offsetIn(copy, audio);
    ASSERT_GE(at, 0) << "the listener's stream is not in the MP3 copy";
    EXPECT_EQ(copy.mid(at, audio.size()), audio) << "the listener lost or changed bytes of its blocks";
    // The listener joined at a block's start and lost at most the last block, which the stop cut off.
    EXPECT_LE(copy.size() - at - audio.size(), 3500);

    const vxtest::Decoded fromListener = vxtest::decodeMp3(audio);
    ASSERT_TRUE(fromListener.ok);
    EXPECT_EQ(fromListener.rate, 11025);
    EXPECT_NEAR(toneOf(fromListener.samples, fromListener.rate), 440.0, 1.0);
    const vxtest::Decoded fromCopy = vxtest::decodeMp3(copy);
    ASSERT_TRUE(fromCopy.ok);
    EXPECT_NEAR(toneOf(fromCopy.samples, fromCopy.rate), 440.0, 1.0);
    EXPECT_GT(vxtest::rms(fromCopy.samples, 1, 0, fromCopy.samples.size() / 2, fromCopy.samples.size()), 0.2);
    EXPECT_NEAR(toneOf(vxtest::samples16(pcm), 11025), 440.0, 3.0) << "mpg123 did not play the tone";
}

TEST(EndToEnd, AListenerThatStopsReadingLosesBlocksAndStaysWhileTheOthersLoseNothing) {
    // A fast stream (320 kb/s) fills the stalled listener's buffers within a few blocks.
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone:1000")));
    Station& st = s.station();
    StationProbe(st).road.codec().FormatIn = vx::acm::pcmFormat(44100, 16, 1);
    StationProbe(st).road.codec().FormatOut = vx::acm::mp3Format(44100, 1, 320);
    st.editSettings([](StationSettings& settings) { settings.mp3Copy = true; });
    s.start();
    ASSERT_TRUE(s.broadcasting()) << s.dialogs.messages.join('|').toStdString();

    auto reader = vxtest::listenerProgram(s.port());
    StalledListener stalled(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.GetUseranzahl() == 2; }));
    // A slow line to that listener: the station's side of it buffers little, as over a real network.
    bool shrunk = false;
    for (const auto& c : StationProbe(st).ServerVandorixClient->Connections()) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        if (::getpeername(c->SocketHandle(), reinterpret_cast<sockaddr*>(&peer), &len) == 0 &&
            ntohs(peer.sin_port) == stalled.localPort()) {
            const int small = 4096;
            shrunk = ::setsockopt(c->SocketHandle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small) == 0;
        }
    }
    ASSERT_TRUE(shrunk);
    // Nobody reads the stalled peer's socket: once it is full, sends to it come back short or refused.
    ASSERT_TRUE(
        vxtest::waitUntil([&] { return reader->received().size() >= kHeaderSize + 5 * 40000; }, 30000));
    EXPECT_TRUE(stalled.open()) << "a slow listener was thrown out";
    EXPECT_EQ(st.GetUseranzahl(), 2);

    s.stop();
    ASSERT_TRUE(reader->waitForClose());
    QByteArray stalledReceived;
    ASSERT_TRUE(stalled.readUntilClosed(stalledReceived));  // what it was sent, then the close
    const QByteArray copy = vxtest::readFile(s.path(s.mp3Copies().value(0)));
    const QByteArray whole = reader->received().mid(kHeaderSize);
    const QByteArray lossy = stalledReceived.mid(kHeaderSize);
    const qsizetype at = offsetIn(copy, whole);
    ASSERT_GE(at, 0);
    EXPECT_EQ(copy.mid(at, whole.size()), whole) << "the reading listener lost bytes";
    EXPECT_LE(lossy.size() + 40000, whole.size()) << "the stalled listener lost no block";
    EXPECT_GT(lossy.size(), 0);
    EXPECT_EQ(st.status()->errorCount, 0u);
}

TEST(EndToEnd, AFullDiskEndsTheMp3CopyWithOneReportAndTheListenersKeepTheTone) {
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone:440")));
    Station& st = s.station();
    st.editSettings([](StationSettings& settings) { settings.mp3Copy = true; });
    s.start();
    ASSERT_TRUE(s.broadcasting()) << s.dialogs.messages.join('|').toStdString();
    ASSERT_TRUE(st.status()->mode.mp3Copy);
    // The copy now lies on a device that is always full: its next write fails as on a full disk.
    StationProbe(st).road.mp3File().create(QStringLiteral("/dev/full"), 1 << 20);
    auto program = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return !s.dialogs.messages.isEmpty(); }, 10000));
    EXPECT_TRUE(s.dialogs.messages[0].contains(QStringLiteral("Disk full")))
        << s.dialogs.messages[0].toStdString();
    EXPECT_TRUE(s.dialogs.messages[0].endsWith(QStringLiteral("DebugStr: ThreadExecute\n\rDebugNum: 3")))
        << s.dialogs.messages[0].toStdString();
    EXPECT_FALSE(st.status()->mode.mp3Copy);
    EXPECT_FALSE(StationProbe(st).road.mp3File().isOpen());

    // Four more blocks reach the listener after the failure, and nothing more is reported.
    const qsizetype before = program->received().size();
    ASSERT_TRUE(vxtest::waitUntil([&] { return program->received().size() >= before + 4 * 1500; }, 15000));
    EXPECT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_EQ(st.status()->errorCount, 1u);
    const vxtest::Decoded heard = vxtest::decodeMp3(program->received().mid(kHeaderSize));
    ASSERT_TRUE(heard.ok);
    EXPECT_NEAR(toneOf(heard.samples, heard.rate), 440.0, 1.0);
    s.stop();
}

}  // namespace
