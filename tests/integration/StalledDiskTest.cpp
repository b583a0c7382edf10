// SPDX-License-Identifier: GPL-3.0-or-later
// A disk that stops answering holds the file's own writer and nothing else: the station processes keep
// answering and serving while every file call of that disk hangs, and end in time when told to.
#include "StationHarness.h"
#include "support/StationProcess.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>

#include <csignal>

namespace {

constexpr int kHeaderSize = 514;
// The plain build holds the station to its 3 s. A station under a sanitizer's instrumentation does all
// but the close's fixed waits several times slower; those runs look for races and leaks, so its margin grows.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kEndsWithinMs = 4500;
#else
constexpr int kEndsWithinMs = 3000;
#endif

// A station process whose file calls under `stalledDir` hang while `flag` exists (tests/stall).
std::unique_ptr<vxtest::ChildProcess> stationOnStalledDisk(const QString& dataDir, int remotePort,
                                                           int statusPort, const QString& stalledDir,
                                                           const QString& flag, const QStringList& more) {
    const QStringList args = QStringList{QStringLiteral("/WO"),
                                         QStringLiteral("--data-dir"),
                                         dataDir,
                                         QStringLiteral("--capture-device"),
                                         QStringLiteral("tone"),
                                         QStringLiteral("--remote-port"),
                                         QString::number(remotePort),
                                         QStringLiteral("--status-listen"),
                                         QStringLiteral("127.0.0.1:%1").arg(statusPort)} +
                             more;
    // A sanitizer's runtime would otherwise insist on coming first in the list of libraries.
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    return std::make_unique<vxtest::ChildProcess>(
        vxtest::binPath(QStringLiteral("vandorixserver")), args,
        QStringList{QStringLiteral("LD_PRELOAD=" VX_STALL_FILES),
                    QStringLiteral("VX_STALL_DIR=") + stalledDir, QStringLiteral("VX_STALL_FLAG=") + flag,
                    vxtest::childSanitizerOptions(),
                    QStringLiteral("ASAN_OPTIONS=") + asan + (asan.isEmpty() ? "" : ":") +
                        QStringLiteral("verify_asan_link_order=0")},
        vxtest::noDisplayVariables());
}

// The status port answers (on the air: 0, off it: 3; unreachable: 1).
bool statusAnswers(int statusPort) {
    const int code = vxtest::runVandorixctl(
        {QStringLiteral("status"), QStringLiteral("--status-port"), QString::number(statusPort)});
    return code == 0 || code == 3;
}

// The remote control handles "Liste" and the status port answers: the event loop runs.
void expectAnswers(int remotePort, int statusPort, const char* which) {
    vxtest::RemotePeer remote(remotePort);
    ASSERT_TRUE(remote.connected()) << which;
    ASSERT_TRUE(remote.sendLast("Liste" + vxtest::kTerminator)) << which;
    QByteArray listed;
    EXPECT_TRUE(remote.readUntilClosed(listed, 2000)) << which << ": the remote control did not answer";
    EXPECT_TRUE(statusAnswers(statusPort)) << which << ": the status port did not answer";
}

// One station broadcasts with its MP3 copy and its settings on the disk, and is closed by SIGTERM; the
// other records onto the disk and is told "Ende". Neither waits for the disk longer than it may.
TEST(StalledDisk, StationsAnswerAndServeWhileTheirDiskHangsAndEndWithinThreeSeconds) {
    QTemporaryDir disk;
    QTemporaryDir elsewhere;
    const QString flag = elsewhere.filePath(QStringLiteral("stalled"));
    const QString onAirDir = disk.filePath(QStringLiteral("on-air"));
    const QString recorderDir = elsewhere.filePath(QStringLiteral("recorder"));
    ASSERT_TRUE(QDir().mkpath(onAirDir) && QDir().mkpath(recorderDir));
    const int listenerPort = vxtest::freeTcpPort();
    const QString options = vxtest::writeDemoSettings(onAirDir, listenerPort);
    const QByteArray savedOptions = vxtest::readFile(options);
    vxtest::writeDemoSettings(recorderDir, vxtest::freeTcpPort());
    const int onAirRemote = vxtest::freeTcpPort();
    const int onAirStatus = vxtest::freeTcpPort();
    auto onAir = stationOnStalledDisk(onAirDir, onAirRemote, onAirStatus, disk.path(), flag,
                                      {QStringLiteral("--start"), QStringLiteral("--mp3-copy")});
    std::unique_ptr<vxtest::LoopbackPeer> listener;
    ASSERT_TRUE(vxtest::waitUntil(
        [&] {
            listener = vxtest::listenerProgram(listenerPort);
            return listener->connected();
        },
        20000));
    ASSERT_TRUE(listener->waitForBytes(kHeaderSize + 1, 20000));
    const QStringList copies = vxtest::mp3CopiesIn(onAirDir);
    ASSERT_EQ(copies.size(), 1);

    // The disk hangs: the copy's next write, the settings' save at the close and the recording's open.
    ASSERT_FALSE(vxtest::writeFile(elsewhere.path(), QStringLiteral("stalled"), "").isEmpty());
    const QString recording = disk.filePath(QStringLiteral("aufnahme.ktv"));
    const int recorderRemote = vxtest::freeTcpPort();
    const int recorderStatus = vxtest::freeTcpPort();
    auto recorder = stationOnStalledDisk(recorderDir, recorderRemote, recorderStatus, disk.path(), flag,
                                         {QStringLiteral("--record"), recording});

    // A block a second reaches the listener; the copy stands still.
    qsizetype got = listener->received().size();
    const qint64 copySize = QFileInfo(onAirDir + QLatin1Char('/') + copies[0]).size();
    for (int block = 0; block < 4; ++block) {
        ASSERT_TRUE(listener->waitForBytes(got + 1, 2500)) << "no block for 2.5 s, after " << block;
        got = listener->received().size();
    }
    EXPECT_EQ(QFileInfo(onAirDir + QLatin1Char('/') + copies[0]).size(), copySize)
        << "the copy's disk did not hang: the test proves nothing";
    ASSERT_TRUE(vxtest::waitUntil([&] { return statusAnswers(recorderStatus); }, 20000));
    EXPECT_FALSE(QFile::exists(recording)) << "the recording's disk did not hang: the test proves nothing";
    expectAnswers(onAirRemote, onAirStatus, "on the air");
    expectAnswers(recorderRemote, recorderStatus, "recording");

    QElapsedTimer took;
    took.start();
    ASSERT_EQ(::kill(onAir->pid(), SIGTERM), 0);
    ASSERT_TRUE(onAir->waitForFinished(kEndsWithinMs + 2000));
    EXPECT_LT(took.elapsed(), kEndsWithinMs) << "SIGTERM";
    EXPECT_EQ(onAir->exitCode(), 1) << "the settings were not saved, and the exit code says so";
    EXPECT_TRUE(listener->waitForClose());

    vxtest::RemotePeer ende(recorderRemote);
    took.restart();
    ASSERT_TRUE(ende.sendLast("Ende" + vxtest::kTerminator));
    ASSERT_TRUE(recorder->waitForFinished(kEndsWithinMs + 2000));
    EXPECT_LT(took.elapsed(), kEndsWithinMs) << "Ende";
    EXPECT_EQ(recorder->exitCode(), 0);

    QFile::remove(flag);
    EXPECT_EQ(vxtest::readFile(options), savedOptions) << "a save that did not finish changed the settings";
}

}  // namespace
