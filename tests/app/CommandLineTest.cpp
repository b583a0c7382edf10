// SPDX-License-Identifier: GPL-3.0-or-later
// The command line and the configuration file: what each sets, which one wins, and what is refused.
#include "app/CommandLine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace {

CommandLineOutcome parse(const QStringList& args, CommandLine& cl) {
    return parseCommandLine(QStringList{QStringLiteral("vandorixserver")} + args, cl);
}

// A file only its owner can read, as one holding a password must be.
QString writePrivateFile(const QString& dir, const char* name, const QByteArray& bytes) {
    const QString path = vxtest::writeFile(dir, name, bytes);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return path;
}

TEST(CommandLine, TheCommandLineOutranksTheFileAndEachKeepsWhatTheOtherLeaves) {
    QTemporaryDir dir;
    const QString config = writePrivateFile(dir.path(), "station.conf",
                                            "# the station\n"
                                            "radio-name = Aus der Datei\n"
                                            "  upload=128  \n"
                                            "limit = off\n"
                                            "port = 7000\n"
                                            "password = file-secret\n"
                                            "web-listen = 0.0.0.0:8000\n");
    const QString passwordFile = writePrivateFile(dir.path(), "password", "line-secret\r\n");
    CommandLine cl;
    const CommandLineOutcome outcome =
        parse({"/WO", "--config", config, "--port", "7100", "--info", "Hallo", "--password-file",
               passwordFile, "--remote-listen", "127.0.0.1", "--start"},
              cl);
    ASSERT_FALSE(outcome.exitCode) << outcome.error.toStdString();
    EXPECT_EQ(cl.arguments, (QStringList{"vandorixserver", "/WO"}));
    EXPECT_TRUE(cl.start);
    EXPECT_EQ(cl.remoteListen, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(cl.webListen, QStringLiteral("0.0.0.0:8000"));

    StationSettings s;
    s.extRadioName = QStringLiteral("from Optionen.ini");
    cl.settings.applyTo(s);
    EXPECT_EQ(s.radioName, QStringLiteral("Aus der Datei"));
    EXPECT_EQ(s.upload, QStringLiteral("128"));
    EXPECT_FALSE(s.limitListeners);
    EXPECT_EQ(s.port, 7100);
    EXPECT_EQ(s.infoText, QStringLiteral("Hallo"));
    EXPECT_EQ(s.password, QStringLiteral("line-secret"));
    EXPECT_EQ(s.passwordConfirm, QStringLiteral("line-secret"));
    EXPECT_EQ(s.extRadioName, QStringLiteral("from Optionen.ini"));
}

// The file takes every option by its own name, flags as on or off; the command line still wins, and a
// refusal names the file an admin edits, not the copy that was read.
TEST(CommandLine, TheFileTakesEveryOptionByItsNameAndNamesTheAdminsFileWhenItRefuses) {
    QTemporaryDir dir;
    const QString config = vxtest::writeFile(dir.path(), "station.conf",
                                             "remote-port = 7566\n"
                                             "remote-listen = 127.0.0.1\n"
                                             "status-listen = 127.0.0.1:7567\n"
                                             "capture-device = tone\n"
                                             "language = en\n"
                                             "loop = on\n"
                                             "mp3-copy = off\n"
                                             "play = a.ktv\n"
                                             "icecast = icecast://source:pw@127.0.0.1:8000/live\n"
                                             "radio-name = Datei\n");
    CommandLine cl;
    CommandLineOutcome outcome = parse({"--config", config, "--remote-port", "7600"}, cl);
    ASSERT_FALSE(outcome.exitCode) << outcome.error.toStdString();
    EXPECT_EQ(cl.remotePort, 7600);
    EXPECT_EQ(cl.remoteListen, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(cl.status.port, 7567);
    EXPECT_EQ(cl.captureDevice, QStringLiteral("tone"));
    EXPECT_EQ(cl.languageArguments, (QStringList{"--language", "en"}));
    EXPECT_TRUE(cl.loop);  // before the play it needs: the file is judged whole
    EXPECT_FALSE(cl.mp3Copy);
    EXPECT_EQ(cl.playFile, QStringLiteral("a.ktv"));
    EXPECT_EQ(cl.icecastTargets, (QStringList{"icecast://source:pw@127.0.0.1:8000/live"}));
    EXPECT_EQ(cl.settings.radioName, QStringLiteral("Datei"));

    const QString shown = QStringLiteral("/etc/vandorixserver/vandorixserver.conf");
    const struct {
        const char* text;
        QString error;
    } refused[] = {
        {"port = 7000\nremote-port = abc\n", shown + ":2: remote-port = abc: --remote-port needs a port"},
        {"mp3-copy = yes\n", shown + ":1: mp3-copy = yes: neither on nor off"},
        {"help = on\n", shown + ":1: unknown key \"help\""},
        {"config = other.conf\n", shown + ":1: unknown key \"config\""},
        {"start = on\n\nrecord = x.ktv\n", shown + ":3: record = x.ktv: --start cannot be used"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.text);
        const QString bad = vxtest::writeFile(dir.path(), "bad.conf", r.text);
        CommandLine refusedCl;
        outcome = parse({"--config", bad, "--config-name", shown}, refusedCl);
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_TRUE(outcome.error.startsWith(r.error)) << outcome.error.toStdString();
    }
    CommandLine missing;
    outcome = parse({"--config", dir.path() + "/gone.conf", "--config-name", shown}, missing);
    EXPECT_EQ(outcome.error, shown + ": no such file");
}

// A refusal names what was wrong and where; nothing of a refused line is taken.
TEST(CommandLine, ABadOptionOrSettingIsRefusedNamingItAndWhereItStands) {
    QTemporaryDir dir;
    const QString badPort = vxtest::writeFile(dir.path(), "a.conf", "radio-name = X\nport = 70000\n");
    const QString badUpload = vxtest::writeFile(dir.path(), "b.conf", "upload = fast\n");
    const QString unknownKey = vxtest::writeFile(dir.path(), "c.conf", "radio_name = X\n");
    const QString longPassword = writePrivateFile(dir.path(), "pw", "012345678901234567890\n");
    const QString emptyPassword = writePrivateFile(dir.path(), "pw0", "\n");
    const QString sharedPassword = vxtest::writeFile(dir.path(), "pw1", "secret\n");
    const QString badSecret =
        writePrivateFile(dir.path(), "d.conf", "password = s3cr3t-s3cr3t-s3cr3t-s3cr3t\n");
    const QString noSecret = writePrivateFile(dir.path(), "e.conf", "password =\n");
    const QString noName = vxtest::writeFile(dir.path(), "f.conf", "radio-name =\n");
    const QString noUpload = vxtest::writeFile(dir.path(), "g.conf", "limit = on\nupload = 0\n");
    const QString twice = vxtest::writeFile(dir.path(), "h.conf", "email = a@b.de\n\nemail = c@d.de\n");
    const QString sharedSecret = vxtest::writeFile(dir.path(), "i.conf", "password = secret\n");
    const struct {
        QStringList args;
        QString error;
    } cases[] = {
        {{"--config", badPort}, badPort + ":2: port = 70000: not a port number from 1024 to 65535"},
        {{"--config", badUpload}, badUpload + ":1: upload = fast: not a number"},
        {{"--config", unknownKey}, unknownKey + ":1: unknown key \"radio_name\""},
        {{"--config", dir.path() + "/none.conf"}, dir.path() + "/none.conf: no such file"},
        {{"--config", dir.path()}, dir.path() + ": not a regular file"},
        {{"--port", "80"}, "--port 80: not a port number from 1024 to 65535"},
        {{"--limit", "yes"}, "--limit yes: neither on nor off"},
        {{"--radio-name", "123456789012345678901"}, "--radio-name 123456789012345678901: longer than 20"},
        {{"--info", QString::fromUtf8("\u20ac \u4e2d")}, "Windows-1252 cannot represent"},
        {{"--password-file", longPassword}, "the password longer than 20 characters"},
        {{"--password-file", emptyPassword}, "the password empty"},
        {{"--password-file", sharedPassword},
         sharedPassword + ": holds the password and every user can read it"},
        {{"--config", badSecret}, badSecret + ":1: password = (not shown): longer than 20 characters"},
        {{"--config", noSecret}, noSecret + ":1: password = (not shown): empty"},
        {{"--config", noName}, noName + ":1: radio-name = : empty"},
        {{"--config", noUpload}, "upload 0 with the listener limit on admits no listener"},
        {{"--upload", "0"}, "upload 0 with the listener limit on admits no listener"},
        {{"--config", twice}, twice + ":3: email is given a second time (first on line 1)"},
        {{"--config", sharedSecret}, sharedSecret + ": holds the password and every user can read it"},
        {{"--status-listen", "127.0.0.1:0"}, "--status-listen needs ADDRESS:PORT with a port from 1"},
        {{"--status-host", "evil.example/x"}, "--status-host needs a host name"},
        {{"--password", "secret"}, "Passwords are not taken on the command line"},
        {{"--bogus"}, "Unknown option 'bogus'"},
        {{"offline"}, "Unexpected argument 'offline'"},
        {{"--remote-listen", "localhost"}, "--remote-listen localhost: not an IPv4 address"},
        {{"--start", "--play", "x.ktv"}, "--start cannot be used with --play or --record"},
        {{"--loop"}, "--loop repeats a playback: it needs --play FILE"},
        {{"--web-listen", "6568"}, "--web-listen 6568: not ADDRESS:PORT"},
        {{"--web-burst", "-1"}, "--web-burst needs a number of bytes from 0 to 196608"},
        {{"--public-url", "radio.example.org"}, "--public-url needs an http:// or https:// URL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        CommandLine cl;
        const CommandLineOutcome outcome = parse(c.args, cl);
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_TRUE(outcome.error.contains(c.error)) << outcome.error.toStdString();
        EXPECT_FALSE(cl.settings.port);
        EXPECT_FALSE(outcome.error.contains(QStringLiteral("s3cr3t"))) << "a secret in the journal";
    }
    CommandLine cl;
    EXPECT_FALSE(parse({"--upload", "0", "--limit", "off", "--status-host", "radio.example"}, cl).exitCode)
        << "no upload figure is needed without the limit";
    EXPECT_EQ(cl.status.hostNames, QStringList{QStringLiteral("radio.example")});
}

}  // namespace
