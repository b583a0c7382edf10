// The command line and the configuration file: what each sets, which one wins, and what is refused.
#include "app/CommandLine.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <QTemporaryDir>

namespace {

CommandLineOutcome parse(const QStringList& args, CommandLine& cl) {
    return parseCommandLine(QStringList{QStringLiteral("vandorixserver")} + args, cl);
}

TEST(CommandLine, TheCommandLineOutranksTheFileAndEachKeepsWhatTheOtherLeaves) {
    QTemporaryDir dir;
    const QString config = vxtest::writeFile(dir.path(), "station.conf",
                                             "# the station\n"
                                             "radio-name = Aus der Datei\n"
                                             "  upload=128  \n"
                                             "limit = off\n"
                                             "port = 7000\n"
                                             "password = file-secret\n"
                                             "web-listen = 0.0.0.0:8000\n");
    const QString passwordFile = vxtest::writeFile(dir.path(), "password", "line-secret\r\n");
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

// A refusal names what was wrong and where; nothing of a refused line is taken.
TEST(CommandLine, ABadOptionOrSettingIsRefusedNamingItAndWhereItStands) {
    QTemporaryDir dir;
    const QString badPort = vxtest::writeFile(dir.path(), "a.conf", "radio-name = X\nport = 70000\n");
    const QString badUpload = vxtest::writeFile(dir.path(), "b.conf", "upload = fast\n");
    const QString unknownKey = vxtest::writeFile(dir.path(), "c.conf", "radio_name = X\n");
    const QString longPassword = vxtest::writeFile(dir.path(), "pw", "012345678901234567890\n");
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
    }
}

}  // namespace
