// SPDX-License-Identifier: GPL-3.0-or-later
// The station as its own process: driven over the remote control with vandorixctl, heard with mpg123,
// and the README's run command.
#include "StationHarness.h"
#include "settings/TOptionsRecord.h"
#include "support/LocalHttpServer.h"
#include "support/StationProcess.h"

#include <gtest/gtest.h>

#include <QStandardPaths>

#include <sys/stat.h>

namespace {

// Runs vandorixctl to its end; returns its standard output, or a null array when it failed.
QByteArray ctl(int remotePort, const QString& command) {
    // These stations' status ports are not known here (several tests share the default one).
    QByteArray out;
    if (vxtest::runVandorixctl(
            {QStringLiteral("--no-check"), QStringLiteral("--port"), QString::number(remotePort), command},
            &out) != 0) {
        return QByteArray();
    }
    return out.isNull() ? QByteArray("") : out;
}

ino_t inodeOf(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

TEST(StationProcess, TheDemoSettingsGiveARadioNameAndTheStationsFormats) {
    const QByteArray bytes =
        vxtest::readFile(vxtest::sourcePath(QStringLiteral("scripts/demo/Optionen.ini")));
    ASSERT_EQ(bytes.size(), TOptionsRecord::kSize);
    const TOptionsRecord r = TOptionsRecord::fromBytes(bytes);
    EXPECT_EQ(r.Radioname, QStringLiteral("Demoradio"));
    EXPECT_EQ(r.Port, 6565);
    EXPECT_EQ(r.FormatIn, defaultInputFormat());
    EXPECT_EQ(r.FormatOut, defaultOutputFormat());
}

TEST(StationProcess, EndeStopsTheBroadcastAndEndsTheProcessWithoutTheCloseHandling) {
    QTemporaryDir dir;
    const int listenerPort = vxtest::freeTcpPort();
    const int remotePort = vxtest::freeTcpPort();
    const QString options = vxtest::writeDemoSettings(dir.path(), listenerPort);
    const ino_t optionsFile = inodeOf(options);
    const auto station = vxtest::startStation(dir.path(), remotePort);
    ASSERT_TRUE(station->started());
    ASSERT_TRUE(vxtest::waitUntil([&] { return !ctl(remotePort, QStringLiteral("Start")).isNull(); }, 20000));
    ASSERT_TRUE(vxtest::waitUntil([&] { return vxtest::accepts(listenerPort); }, 20000));
    auto listener = vxtest::listenerProgram(listenerPort);
    ASSERT_TRUE(listener->waitForBytes(514 + 1000, 20000)) << "no audio before the end";

    ASSERT_FALSE(ctl(remotePort, QStringLiteral("Ende")).isNull());
    EXPECT_TRUE(listener->waitForClose(10000)) << "the stop did not close the listener";
    ASSERT_TRUE(station->waitForFinished(20000));
    EXPECT_TRUE(station->normalExit());
    EXPECT_EQ(station->exitCode(), 0);
    // The close handling would have written the settings anew (a new file replaces the old one).
    EXPECT_EQ(inodeOf(options), optionsFile) << "the window's close handling ran";
    EXPECT_FALSE(QDir(dir.path()).entryList({QStringLiteral("*.mp3")}).size() > 0);
}

// "/WO" after the program's own options: the station goes on the air without asking the directory.
TEST(StationProcess, OfflineSwitchAfterTheProgramsOwnOptionsKeepsTheDirectoryOutOfIt) {
    vxtest::LocalHttpServer directory;
    QTemporaryDir dir;
    const int listenerPort = vxtest::freeTcpPort();
    const int remotePort = vxtest::freeTcpPort();
    TOptionsRecord settings =
        TOptionsRecord::fromBytes(vxtest::readFile(vxtest::writeDemoSettings(dir.path(), listenerPort)));
    settings.Passwort = QStringLiteral("pw");  // online, the start would report the station on the air
    vxtest::writeFile(dir.path(), QStringLiteral("Optionen.ini"), settings.toBytes());
    vxtest::writeFile(dir.path(), QStringLiteral("Server.ini"), directory.origin().toUtf8() + "/vdb/\n");
    vxtest::ChildProcess station(
        vxtest::binPath(QStringLiteral("vandorixserver")),
        {QStringLiteral("--data-dir"), dir.path(), QStringLiteral("--capture-device"), QStringLiteral("tone"),
         QStringLiteral("--remote-port"), QString::number(remotePort), QStringLiteral("/WO")},
        {vxtest::childSanitizerOptions()}, vxtest::noDisplayVariables());
    ASSERT_TRUE(station.started());
    ASSERT_TRUE(vxtest::waitUntil([&] { return !ctl(remotePort, QStringLiteral("Start")).isNull(); }, 20000));
    ASSERT_TRUE(vxtest::waitUntil([&] { return vxtest::accepts(listenerPort); }, 20000));
    ASSERT_FALSE(ctl(remotePort, QStringLiteral("Ende")).isNull());
    ASSERT_TRUE(station.waitForFinished(20000));
    EXPECT_EQ(directory.connectionCount(), 0);
}

// A relay's mount is the operator's text, correctly encoded on the wire; on standard error its line end
// must not start a line of its own.
TEST(StationProcess, ARelaysMountCannotForgeAStatusLineAndAnUnknownHostIsNamedSo) {
    QTemporaryDir dir;
    const int remotePort = vxtest::freeTcpPort();
    vxtest::writeDemoSettings(dir.path(), vxtest::freeTcpPort());
    const auto station = vxtest::startStation(
        dir.path(), remotePort,
        {QStringLiteral("--icecast"),
         QStringLiteral("icecast://source:pw@nonexistent.invalid:8000/live%0D%0AIcecast%20relay%20forged")},
        vxtest::StationErrors::InOutput);
    ASSERT_TRUE(station->started());
    ASSERT_TRUE(vxtest::waitUntil([&] { return !ctl(remotePort, QStringLiteral("Start")).isNull(); }, 20000));
    EXPECT_TRUE(vxtest::waitUntil([&] { return station->output().contains("resolved"); }, 20000));
    ASSERT_FALSE(ctl(remotePort, QStringLiteral("Ende")).isNull());
    ASSERT_TRUE(station->waitForFinished(20000));
    const QString out = QString::fromUtf8(station->output());
    EXPECT_FALSE(out.contains(QStringLiteral("\nIcecast relay forged"))) << out.toStdString();
    EXPECT_TRUE(
        out.contains(QStringLiteral("/live\\r\\nIcecast relay forged: error: the name "
                                    "nonexistent.invalid could not be resolved (")))
        << out.toStdString();
}

TEST(StationProcess, TheReadmeRunCommandBroadcastsHeadlessAndListsAConnectedMpg123) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("mpg123")).isEmpty()) << "mpg123 is missing";
    QTemporaryDir dir;
    const int listenerPort = vxtest::freeTcpPort();
    const int remotePort = vxtest::freeTcpPort();
    vxtest::writeDemoSettings(dir.path(), listenerPort);
    vxtest::ChildProcess run(
        QStringLiteral("bash"), {vxtest::sourcePath(QStringLiteral("scripts/run-station.sh"))},
        {QStringLiteral("VX_SKIP_BUILD=1"), QStringLiteral("VX_BIN=") + vxtest::binPath(QString()),
         QStringLiteral("VX_DATA_DIR=") + dir.path(),
         QStringLiteral("VX_REMOTE_PORT=") + QString::number(remotePort), vxtest::childSanitizerOptions()},
        vxtest::noDisplayVariables());
    ASSERT_TRUE(run.started());
    // The station runs in the script's background: whatever happens below, it is ended at the end.
    struct EndStation {
        int port;
        ~EndStation() { ctl(port, QStringLiteral("Ende")); }
    } endStation{remotePort};
    ASSERT_TRUE(vxtest::waitUntil([&] { return vxtest::accepts(listenerPort); }, 30000));

    vxtest::ChildProcess player(QStringLiteral("mpg123"),
                                {QStringLiteral("-q"), QStringLiteral("-s"),
                                 QStringLiteral("http://127.0.0.1:%1/").arg(listenerPort)});
    ASSERT_TRUE(player.started());
    QByteArray pcm;
    ASSERT_TRUE(vxtest::waitUntil(
        [&] {
            pcm += player.readOutput();
            return pcm.size() >= 2 * 11025 * 2;
        },
        30000));
    QByteArray list;
    ASSERT_TRUE(vxtest::waitUntil(
        [&] {
            list = ctl(remotePort, QStringLiteral("Liste"));
            return !list.isEmpty();
        },
        10000));
    EXPECT_EQ(list, "127.0.0.1\n");

    ASSERT_FALSE(ctl(remotePort, QStringLiteral("Stop")).isNull());
    EXPECT_TRUE(player.waitForFinished(10000)) << "mpg123 still plays after the stop";
    pcm += player.readOutput();
    const std::vector<int16_t> samples = vxtest::samples16(pcm);
    ASSERT_GE(samples.size(), std::size_t(2 * 11025));
    EXPECT_EQ(vxtest::dominantFrequency(samples, 11025, samples.size() - 11025, samples.size()), 440.0);

    ASSERT_FALSE(ctl(remotePort, QStringLiteral("Ende")).isNull());
    ASSERT_TRUE(run.waitForFinished(20000));
    EXPECT_EQ(run.exitCode(), 0);
    EXPECT_TRUE(run.output().contains("mpg123 http://127.0.0.1:6565/")) << run.output().toStdString();
}

}  // namespace
