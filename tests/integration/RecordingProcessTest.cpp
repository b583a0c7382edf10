// SPDX-License-Identifier: GPL-3.0-or-later
// A headless station records and plays from its command line and ends with a complete file.
#include "StationHarness.h"
#include "settings/TOptionsRecord.h"
#include "support/StationProcess.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

std::unique_ptr<vxtest::ChildProcess> station(const QTemporaryDir& dir, int remotePort,
                                              const QStringList& more) {
    return vxtest::startStation(dir.path(), remotePort, more);
}

TEST(StationProcess, RecordEndsWithACompleteFileOnSigtermAndPlayLoopsItUntilEnde) {
    QTemporaryDir dir;
    const int listenerPort = vxtest::freeTcpPort();
    const int remotePort = vxtest::freeTcpPort();
    const TOptionsRecord demo =
        TOptionsRecord::fromBytes(vxtest::readFile(vxtest::writeDemoSettings(dir.path(), listenerPort)));
    const QString path = dir.path() + QStringLiteral("/aufnahme.ktv");

    auto recorder = station(dir, remotePort, {QStringLiteral("--record"), path});
    ASSERT_TRUE(vxtest::waitUntil([&] { return vxtest::readFile(path).size() >= 129 + 2 * 1500; }, 20000));
    ::kill(recorder->pid(), SIGTERM);
    ASSERT_TRUE(recorder->waitForFinished(20000));
    EXPECT_EQ(recorder->exitCode(), 0);
    const QByteArray file = vxtest::readFile(path);
    EXPECT_EQ(file.left(TAudioFormat::kSize), demo.FormatOut.toBytes());
    const QByteArray stream = file.mid(TAudioFormat::kSize);
    const vxtest::Decoded d = vxtest::decodeMp3(stream);
    ASSERT_TRUE(d.ok);
    ASSERT_GE(d.samples.size(), std::size_t(11025));
    EXPECT_NEAR(vxtest::dominantFrequency(d.samples, d.rate, d.samples.size() - 11025, d.samples.size()),
                440.0, 1.0);

    auto player = station(dir, remotePort, {QStringLiteral("--play"), path, QStringLiteral("--loop")});
    std::unique_ptr<vxtest::LoopbackPeer> listener;
    ASSERT_TRUE(vxtest::waitUntil(
        [&] {
            listener = vxtest::listenerProgram(listenerPort);
            return listener->connected();
        },
        20000));
    // A whole pass and the start of the next one.
    ASSERT_TRUE(listener->waitForBytes(514 + stream.size() + 1, 20000));
    EXPECT_GE(listener->received().indexOf(stream), 514);
    vxtest::RemotePeer control(remotePort);
    ASSERT_TRUE(control.sendLast("Ende" + vxtest::kTerminator));
    EXPECT_TRUE(listener->waitForClose());
    ASSERT_TRUE(player->waitForFinished(20000));
    EXPECT_EQ(player->exitCode(), 0);
}

}  // namespace
