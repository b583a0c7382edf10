// SPDX-License-Identifier: GPL-3.0-or-later
// Metadata listeners of the web port through the send table: whatever part of a block a slow
// connection takes, the metadata blocks stay exactly every 16000 bytes of the audio it received, and a
// changed title arrives once.
#include "audio/ListenerDestination.h"
#include "net/IcySession.h"
#include "support/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// Parses a metadata stream from its start: audio bytes (all 0x55 here, so a block read at the wrong
// place cannot pass), then a block. The titles seen, in order; a broken block fails the test.
QStringList titlesIn(const QByteArray& stream, bool& broken) {
    QStringList titles;
    qsizetype pos = 0;
    broken = false;
    while (stream.size() - pos > 16000) {
        if (stream.mid(pos, 16000).count('\x55') != 16000) {
            broken = true;
            return titles;
        }
        pos += 16000;
        const int length = uchar(stream[pos]) * 16;
        ++pos;
        if (length == 0) {
            continue;
        }
        const QByteArray block = stream.mid(pos, length);
        if (block.size() < length) {
            break;  // the stream ends within the block
        }
        const qsizetype end = block.indexOf("';");
        if (!block.startsWith("StreamTitle='") || end < 0 ||
            block.mid(end + 2).count('\0') != block.size() - end - 2) {
            broken = true;
            return titles;
        }
        titles << QString::fromUtf8(block.mid(13, end - 13));
        pos += length;
    }
    return titles;
}

TEST(WebListenerFraming, PartialTakesKeepEveryBlockAtItsOffsetAndSendATitleOnce) {
    TServerSocket icyPort;  // no listener of its own
    TServerSocket webPort;
    webPort.Address = "127.0.0.1";
    webPort.NewUserData = [] { return std::make_shared<IcySession>(); };
    webPort.SetActive(true);
    vxtest::LoopbackPeer peer(webPort.LocalPort());
    ASSERT_TRUE(vxtest::waitUntil([&] { return webPort.ConnectionCount() == 1; }));
    const auto connection = webPort.ConnectionAt(0);
    // A send buffer smaller than a block: the connection takes a block whole, in part or not at all.
    const int small = 4096;
    ::setsockopt(connection->Handle(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    auto* session = static_cast<IcySession*>(connection->Session());
    session->metadata = true;
    session->Ready = 1;
    session->Kind = TVXSocketData::KindListener;
    webPort.SessionsChanged();

    ListenerDestination destination(icyPort, &webPort);
    // Long titles, changed often: most metadata points carry one, and some are cut by a full buffer.
    const auto titleNumber = [](int n) {
        return QStringLiteral("It's title %1 ").arg(n) + QString(200, 'x');
    };
    destination.titles().set(titleNumber(0));
    const QByteArray block(7001, '\x55');  // not a divisor of the interval: the offsets wander
    int refused = 0;
    for (int i = 0; i < 120; ++i) {
        if (i % 3 == 0) {
            destination.titles().set(titleNumber(i / 3));
        }
        destination.write(block.constData(), int(block.size()));
        if (destination.refusingAtLastWrite() > 0) {
            // Full: the blocks before this one were taken in part or not at all. The listener reads
            // everything, and the next blocks find room again.
            ++refused;
            ASSERT_TRUE(peer.waitForBytes(qsizetype(destination.sentBytes())));
        }
    }
    for (int i = 0; i < 3; ++i) {
        // With room again, the last title's interval comes.
        ASSERT_TRUE(peer.waitForBytes(qsizetype(destination.sentBytes())));
        destination.write(block.constData(), int(block.size()));
    }
    ASSERT_TRUE(peer.waitForBytes(qsizetype(destination.sentBytes())));
    EXPECT_GT(refused, 5) << "the connection always kept up: the test shows nothing";
    bool broken = false;
    const QStringList titles = titlesIn(peer.received(), broken);
    EXPECT_FALSE(broken) << "a metadata block out of place after " << titles.join('|').toStdString();
    // Each title once, in order (one replaced before its interval came is skipped), the last one last.
    ASSERT_GT(titles.size(), 10);
    int previous = -1;
    for (const QString& t : titles) {
        ASSERT_TRUE(t.startsWith(QStringLiteral("It\u2019s title "))) << t.toStdString();
        const int n = t.section(' ', 2, 2).toInt();
        EXPECT_GT(n, previous) << "a title sent twice or out of order";
        previous = n;
    }
    EXPECT_EQ(titles.back(), QString(titleNumber(39)).replace('\'', QChar(0x2019)));
    destination.close();
}

}  // namespace

namespace {

// Where the connection cut a call, step by step: in a title block, in the rest of it, in the audio after
// it, before a metadata block whose audio it took whole, and not at all.
TEST(WebListenerFraming, ACutInAMetadataBlockSendsItsRestFirstAndTheAudioCountDecidesTheNextPoint) {
    icy::TitleBoard board;
    board.set(QStringLiteral("Title"));
    const auto title = board.current();
    const int block = int(title->block.size());
    using S = FrameSegment;
    IcySession s;
    const struct {
        std::vector<S> segments;
        int64_t sent;
        int untilMeta;
        int carryFrom;  // -1: no carry
    } steps[] = {
        {{{S::Audio, 16000}, {S::TitleMeta, block}, {S::Audio, 100}}, 16000 + 5, 16000, 5},
        {{{S::Carry, block - 5}, {S::Audio, 500}}, 3, 16000, 8},
        {{{S::Carry, block - 8}, {S::Audio, 500}}, block - 8 + 200, 15800, -1},
        {{{S::Audio, 2000}}, -1, 15800, -1},
        {{{S::Audio, 15800}, {S::Meta, 1}, {S::Audio, 7}}, 15800, 16000, 0},
        {{{S::Carry, 1}, {S::Audio, 7}}, 8, 15993, -1},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(&step - steps);
        s.tookFramed(step.segments.data(), int(step.segments.size()), step.sent, title.get());
        EXPECT_EQ(s.untilMeta, step.untilMeta);
        EXPECT_EQ(s.carry.isEmpty() ? -1 : s.carryFrom, step.carryFrom);
    }
    EXPECT_EQ(s.titleSent, title->version);
}

}  // namespace
