// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the real executable headless, as the README does.
#include "settings/TOptionsRecord.h"
#include "support/StationProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

namespace {

// A hang-up, too, is the end of a session, not a crash.
TEST(Executable, HeadlessStationSavesItsSettingsOnSigtermAndSighup) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        QTemporaryDir dir;
        vxtest::writeFile(dir.path(), "Server.ini", "http://127.0.0.1:9/db/\n");
        QProcess station;
        station.setProcessEnvironment(vxtest::headlessEnvironment());
        station.start(vxtest::binPath(QStringLiteral("vandorixserver")),
                      {"/WO", "--data-dir", dir.path(), "--remote-port", "0"});
        ASSERT_TRUE(station.waitForStarted());
        ASSERT_TRUE(vxtest::waitUntil([&] { return vxtest::catchesSignal(station.processId(), signal); }));
        ::kill(pid_t(station.processId()), signal);
        ASSERT_TRUE(station.waitForFinished(10000));
        EXPECT_EQ(station.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(station.exitCode(), 0);
        const QByteArray bytes = vxtest::readFile(dir.path() + "/Optionen.ini");
        ASSERT_EQ(bytes.size(), 1044);
        const TOptionsRecord r = TOptionsRecord::fromBytes(bytes);
        EXPECT_EQ(r.Port, 6565);
        EXPECT_EQ(r.Upload, 64);
        EXPECT_TRUE(r.Beschr);
        EXPECT_EQ(r.FormatOut, defaultOutputFormat());
    }
}

// An option that cannot do what was asked must not start a station that does something else.
TEST(Executable, AnOptionWithoutItsValueOrItsPartnerIsRefused) {
    const struct {
        QStringList args;
        const char* message;
    } refusals[] = {
        {{"--loop"}, "--loop repeats a playback: it needs --play FILE"},
        {{"/WO", "--data-dir"}, "Missing value after '--data-dir'."},
        {{"--capture-device", "tone", "--remote-port"}, "Missing value after '--remote-port'."},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.message);
        QTemporaryDir dir;  // the executable's folder holds no "Server.ini": a start would end too
        QProcess station;
        station.setProcessEnvironment(vxtest::headlessEnvironment());
        station.start(vxtest::binPath(QStringLiteral("vandorixserver")), r.args);
        ASSERT_TRUE(station.waitForFinished(10000));
        EXPECT_EQ(station.exitCode(), 2);
        const QString err = QString::fromUtf8(station.readAllStandardError());
        EXPECT_TRUE(err.split('\n').contains(QString::fromUtf8(r.message))) << err.toStdString();
    }
}

// A daemon has no one to retry a close that failed: the signal reports the error and still ends it.
TEST(Executable, SigtermEndsTheStationWhenItsSettingsCannotBeSaved) {
    QTemporaryDir root;
    const QString dir = root.path() + QStringLiteral("/data");
    ASSERT_TRUE(QDir().mkpath(dir));
    vxtest::writeFile(dir, "Server.ini", "http://127.0.0.1:9/db/\n");
    QProcess station;
    station.setProcessEnvironment(vxtest::headlessEnvironment());
    station.start(vxtest::binPath(QStringLiteral("vandorixserver")),
                  {"/WO", "--data-dir", dir, "--remote-port", "0"});
    ASSERT_TRUE(station.waitForStarted());
    ASSERT_TRUE(vxtest::waitUntil([&] { return vxtest::catchesSignal(station.processId()); }));
    ASSERT_TRUE(QDir(dir).removeRecursively());  // nowhere to write "Optionen.ini"
    ::kill(pid_t(station.processId()), SIGTERM);
    ASSERT_TRUE(station.waitForFinished(10000)) << "the station ignored the signal";
    EXPECT_EQ(station.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(station.exitCode(), 1);
    const QStringList reports = QString::fromUtf8(station.readAllStandardError())
                                    .split('\n')
                                    .filter(QStringLiteral("Optionen.ini: File not found"));
    // Reported once (a machine without a sound server adds its own start-up notice, not counted here).
    ASSERT_EQ(reports.size(), 1) << reports.join('\n').toStdString();
    // The window's report would read "File not found" with its trace; the journal's line names the file
    // and leaves the trace out.
    EXPECT_EQ(reports[0],
              QStringLiteral("KT VandorixServer: ") + dir + QStringLiteral("/Optionen.ini: File not found"));
}

// Headless, a message box is one line on standard error, in the language the locale or --language
// chose; a language that does not exist ends the program before it touches anything.
TEST(Executable, MissingServerFileEndsWithOneLineInTheChosenLanguageAndNoFiles) {
    const struct {
        const char* lang;
        QStringList options;
        int exitCode;
        const char* line;
    } cases[] = {
        {"de_DE.UTF-8", {}, 1, "KT VandorixServer: Die Datei Server.ini fehlt. Das Programm wird beendet.\n"},
        {"en_GB.UTF-8", {}, 1, "KT VandorixServer: The file Server.ini is missing. The program will end.\n"},
        // Services, containers and build machines: no German reader is implied.
        {nullptr, {}, 1, "KT VandorixServer: The file Server.ini is missing. The program will end.\n"},
        {"C.UTF-8", {}, 1, "KT VandorixServer: The file Server.ini is missing. The program will end.\n"},
        {"en_GB.UTF-8", {"--language", "de"}, 1, "KT VandorixServer: Die Datei Server.ini fehlt."},
        {nullptr, {"--language", "fr"}, 2, "--language fr: the languages are de and en\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lang == nullptr ? "no locale" : c.lang);
        QTemporaryDir dir;
        QProcessEnvironment env = vxtest::headlessEnvironment();
        if (c.lang != nullptr) {
            env.insert(QStringLiteral("LANG"), QLatin1String(c.lang));
        }
        QProcess station;
        station.setProcessEnvironment(env);
        station.start(vxtest::binPath(QStringLiteral("vandorixserver")),
                      QStringList{"--data-dir", dir.path()} + c.options);
        ASSERT_TRUE(station.waitForFinished(10000));
        EXPECT_EQ(station.exitCode(), c.exitCode);
        const QString err = QString::fromUtf8(station.readAllStandardError());
        EXPECT_TRUE(err.contains(QString::fromUtf8(c.line))) << err.toStdString();
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());
    }
}

}  // namespace
