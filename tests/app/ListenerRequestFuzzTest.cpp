// SPDX-License-Identifier: GPL-3.0-or-later
// Random and near-miss first reads: the classification and the client program rules never crash, only
// the exact agents are taken for agents, and over a real connection everything else gets the info page.
#include "support/LoopbackPeer.h"

#include "net/TVXSocketData.h"
#include "platform/Ansi.h"
#include "station/ListenerProtocol.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"

#include <QCheckBox>

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

namespace {

const std::vector<QByteArray> kExact = {"KT-VandorixClient v40-Info", "KT-VandorixClient v40-Daten",
                                        "KT-VandorixClient v30", "KT-VandorixClient v20", "Radioname"};
const QByteArray kRequestLine = "GET / HTTP/1.0";

// Every single-step distortion of the known requests: cut, extended, one byte changed, case flipped.
std::vector<QByteArray> nearMisses() {
    std::vector<QByteArray> out;
    std::vector<QByteArray> seeds = kExact;
    seeds.push_back(kRequestLine + "\r\nUser-Agent: X/1\r\n\r\n");
    const QByteArray extras[] = {"\r\n", "\n", " ", QByteArray(1, '\0'), "\xFF"};
    for (const QByteArray& s : seeds) {
        for (qsizetype n = 0; n < s.size(); ++n) {
            out.push_back(s.left(n));
            QByteArray changed = s;
            changed[n] = char(changed[n] + 1);
            out.push_back(changed);
            QByteArray flipped = s;
            flipped[n] = char(flipped[n] ^ 0x20);
            out.push_back(flipped);
        }
        for (const QByteArray& e : extras) {
            out.push_back(s + e);
            out.push_back(e + s);
        }
    }
    return out;
}

QByteArray randomBytes(std::mt19937& rng) {
    // Drawn mostly from the characters of the real requests, so prefixes and agents come up often.
    static const QByteArray alphabet = "GET / HTTP/1.0\r\nKT-VandorixClient v40-InfoDatenAgent:Radioname";
    std::uniform_int_distribution<int> length(0, 48);
    std::uniform_int_distribution<int> pick(0, int(alphabet.size()) + 15);
    QByteArray r;
    const int n = length(rng);
    for (int i = 0; i < n; ++i) {
        const int k = pick(rng);
        r.append(k < alphabet.size() ? alphabet[k] : char(rng() & 0xFF));
    }
    if ((rng() & 3) == 0) {
        r.prepend(kRequestLine.left(qsizetype(rng() % (kRequestLine.size() + 1))));
    }
    return r;
}

void checkRules(const QByteArray& r) {
    const listener::Request kind = listener::classify(r);
    const bool exact = std::find(kExact.begin(), kExact.end(), r) != kExact.end();
    if (r.startsWith(kRequestLine)) {
        ASSERT_EQ(kind, listener::Request::Icy) << r.toHex().toStdString();
    } else if (!exact) {
        ASSERT_EQ(kind, listener::Request::InfoPage) << r.toHex().toStdString();
    }
    const QByteArray program = listener::icyClientProgram(r);
    ASSERT_FALSE(program.contains("\r\n"));
    ASSERT_TRUE(program.isEmpty() || r.contains(program));
    ASSERT_LE(program.size(), r.size());
    const QByteArray header = listener::stationHeader(r, TAudioFormat(), TAudioFormat());
    ASSERT_EQ(header.size(), listener::kHeaderSize);
    ASSERT_EQ(uint8_t(header[0]), std::min<qsizetype>(r.size(), 255));
}

TEST(ListenerRequestFuzz, RandomAndNearMissInputsNeverBreakTheRules) {
    for (const QByteArray& r : nearMisses()) {
        checkRules(r);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
    std::mt19937 rng(20261207);
    for (int i = 0; i < 200000; ++i) {
        checkRules(randomBytes(rng));
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

// Over real connections: a distorted request is never admitted and always gets the info page.
TEST(ListenerRequestFuzz, NearMissesOverTheWireGetTheInfoPageAndAdmitNobody) {
    vxtest::MainformFixture fx;
    TMainform& form = fx.create();
    form.Beschr->setChecked(false);
    TServerSocket& server = *StationProbe(form.station()).ServerVandorixClient;
    server.Port = 0;
    server.SetActive(true);
    const QByteArray page =
        "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\n\r\nKT-VandorixServer 6.0\r\n<br>\r\n"
        "<hr>\r\n<br>\r\n" +
        vx::toAnsi(form.Msg(32)) + "\r\n";
    std::set<QByteArray> seen;
    int sent = 0;
    for (const QByteArray& r : nearMisses()) {
        if (r.isEmpty() || r.startsWith(kRequestLine) ||
            listener::classify(r) != listener::Request::InfoPage || !seen.insert(r).second) {
            continue;
        }
        SCOPED_TRACE(r.toHex().toStdString());
        vxtest::LoopbackPeer peer(server.LocalPort());
        ASSERT_TRUE(peer.write(r));
        ASSERT_TRUE(peer.waitForClose());
        EXPECT_EQ(peer.received(), page);
        ++sent;
    }
    EXPECT_GT(sent, 100);
    EXPECT_TRUE(vxtest::waitUntil([&] { return server.ConnectionCount() == 0; }));
    EXPECT_EQ(form.station().GetUseranzahl(), 0);
}

}  // namespace
