// SPDX-License-Identifier: GPL-3.0-or-later
// The real programs as an admin and systemd run them: help and version, settings from a file and the
// command line, a --start that fails, and the notices a Type=notify service sends.
#include "settings/TOptionsRecord.h"
#include "support/LocalHttpServer.h"
#include "support/LoopbackPeer.h"
#include "support/StationProcess.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>

namespace {

const QString kServer = vxtest::binPath(QStringLiteral("vandorixserver"));

struct Finished {
    int exitCode = -1;
    QString out;
    QString err;
};

Finished runToEnd(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(vxtest::headlessEnvironment());
    p.start(program, args);
    Finished r;
    if (p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit) {
        r.exitCode = p.exitCode();
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

TEST(Service, HelpAndVersionGoToStandardOutputAndAnUnknownOptionIsRefused) {
    QTemporaryDir dir;
    const Finished help = runToEnd(kServer, {"--data-dir", dir.path(), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* part :
         {"--radio-name", "--password-file", "--config", "--start", "Exit codes", "Server.ini"}) {
        EXPECT_TRUE(help.out.contains(QLatin1String(part))) << part;
    }
    EXPECT_EQ(help.err, QString());
    EXPECT_EQ(help.out.count(QStringLiteral("Arguments:")), 1) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains(QStringLiteral("Offline: no directory registration")));
    const Finished version = runToEnd(kServer, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("vandorixserver 6.0"))) << version.out.toStdString();
    const Finished unknown = runToEnd(kServer, {"--data-dir", dir.path(), "-x"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("Unknown option 'x'"))) << unknown.err.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());  // nothing started, nothing written

    const QString ctl = vxtest::binPath(QStringLiteral("vandorixctl"));
    const Finished ctlHelp = runToEnd(ctl, {"--help"});
    EXPECT_EQ(ctlHelp.exitCode, 0);
    EXPECT_TRUE(ctlHelp.out.contains(QStringLiteral("Exit codes"))) << ctlHelp.out.toStdString();
    EXPECT_EQ(runToEnd(ctl, {"--version"}).out, QStringLiteral("vandorixctl 6.0\n"));
    const Finished ctlUnknown = runToEnd(ctl, {"--bogus", "Liste"});
    EXPECT_EQ(ctlUnknown.exitCode, 2);
    EXPECT_TRUE(ctlUnknown.err.contains(QStringLiteral("'--bogus'"))) << ctlUnknown.err.toStdString();
}

// "Optionen.ini", then the file, then the command line; the close saves what came out.
TEST(Service, TheFileAndTheCommandLineReachTheSavedSettingsAndABadValueChangesNothing) {
    QTemporaryDir dir;
    vxtest::writeFile(dir.path(), "Server.ini", "http://127.0.0.1:9/db/\n");
    TOptionsRecord stored;
    stored.Radioname = QStringLiteral("Stored");
    stored.ExtRadioname = QStringLiteral("Stored description");
    stored.Port = 7000;
    stored.Upload = 64;
    stored.Beschr = true;
    stored.FormatIn = defaultInputFormat();
    stored.FormatOut = defaultOutputFormat();
    const QString options = vxtest::writeFile(dir.path(), "Optionen.ini", stored.toBytes());
    const QString config = vxtest::writeFile(dir.path(), "vandorixserver.conf",
                                             "radio-name = FromFile\nupload = 128\nlimit = off\n");
    const QString bad = vxtest::writeFile(dir.path(), "bad.conf", "port = 70000\n");

    const Finished refused = runToEnd(kServer, {"/WO", "--data-dir", dir.path(), "--config", bad});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains(bad + QStringLiteral(":1: port = 70000"))) << refused.err.toStdString();
    EXPECT_EQ(vxtest::readFile(options), stored.toBytes());

    QProcess station;
    station.setProcessEnvironment(vxtest::headlessEnvironment());
    station.start(kServer, {"/WO", "--data-dir", dir.path(), "--remote-port", "0", "--config", config,
                            "--radio-name", "FromCommandLine", "--port", "7100"});
    ASSERT_TRUE(station.waitForStarted());
    // The close saves; the station catches SIGTERM once its start-up is through.
    ASSERT_TRUE(vxtest::waitUntil([&] { return vxtest::catchesSignal(station.processId()); }));
    ::kill(pid_t(station.processId()), SIGTERM);
    ASSERT_TRUE(station.waitForFinished(10000));
    EXPECT_EQ(station.exitCode(), 0) << station.readAllStandardError().toStdString();
    const TOptionsRecord saved = TOptionsRecord::fromBytes(vxtest::readFile(options));
    EXPECT_EQ(saved.Radioname, QStringLiteral("FromCommandLine"));
    EXPECT_EQ(saved.ExtRadioname, QStringLiteral("Stored description"));
    EXPECT_EQ(saved.Port, 7100);
    EXPECT_EQ(saved.Upload, 128);
    EXPECT_FALSE(saved.Beschr);
}

// The directory's requests as they arrived: "setstatus", "setoff", "hoererupdate".
QStringList directoryActions(const vxtest::LocalHttpServer& directory) {
    QStringList actions;
    for (const auto& r : directory.requests()) {
        const QString target = QString::fromLatin1(r.target());
        const qsizetype at = target.indexOf(QStringLiteral("action="));
        actions << target.mid(at + 7).section(QLatin1Char('&'), 0, 0);
    }
    return actions;
}

// An online station on free ports that goes on the air at once, its directory the given server.
QStringList onlineStart(const QTemporaryDir& dir, const vxtest::LocalHttpServer& directory, int remotePort) {
    vxtest::writeFile(dir.path(), "Server.ini", directory.origin().toUtf8() + "/vdb/\n");
    const QString password = vxtest::writeFile(dir.path(), "password", "geheim\n");
    QFile::setPermissions(password, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return {"--data-dir",       dir.path(),
            "--capture-device", "tone",
            "--remote-port",    QString::number(remotePort),
            "--status-listen",  "off",
            "--radio-name",     "Test",
            "--port",           QString::number(vxtest::freeTcpPort()),
            "--password-file",  password,
            "--start"};
}

// systemctl stop while the start waits for the directory's status report is a close, not a failed
// start; the directory hears of the end after the status report, not never.
TEST(Service, ASignalDuringTheStartEndsWithExitCode0AndTheOffAirReportFollowsTheStatusReport) {
    vxtest::LocalHttpServer directory;
    directory.setHandler([](const vxtest::LocalHttpServer::Request& r) -> std::optional<QByteArray> {
        return vxtest::LocalHttpServer::response(r.target().contains("action=setstatus") ? "E100"
                                                 : r.target().contains("action=setoff")  ? "E108"
                                                                                         : "");
    });
    directory.trickle(25);  // every answer takes about a second
    QTemporaryDir dir;
    QProcess station;
    station.setProcessEnvironment(vxtest::headlessEnvironment());
    station.start(kServer, onlineStart(dir, directory, 0));
    ASSERT_TRUE(vxtest::waitUntil([&] { return directory.requestCount() >= 1; }, 20000));
    ::kill(pid_t(station.processId()), SIGTERM);
    ASSERT_TRUE(station.waitForFinished(20000));
    EXPECT_EQ(station.exitCode(), 0) << station.readAllStandardError().toStdString();
    // The count 0 goes out as the program ends; whether it gets through is not waited for.
    EXPECT_EQ(directoryActions(directory).mid(0, 2), (QStringList{"setstatus", "setoff"}));
}

// A signal while the stop waits for the off-air report closes after the stop, whose messages keep
// their texts.
TEST(Service, ASignalDuringTheStopLetsTheStopShowItsMessages) {
    vxtest::LocalHttpServer directory;
    directory.setHandler([](const vxtest::LocalHttpServer::Request& r) -> std::optional<QByteArray> {
        if (r.target().contains("action=setoff")) {
            return std::nullopt;  // never answers: the stop waits for its deadline
        }
        return vxtest::LocalHttpServer::response(r.target().contains("action=setstatus") ? "E100" : "");
    });
    QTemporaryDir dir;
    const int remotePort = vxtest::freeTcpPort();
    QProcess station;
    station.setProcessEnvironment(vxtest::headlessEnvironment());
    station.start(kServer, onlineStart(dir, directory, remotePort));
    ASSERT_TRUE(vxtest::waitUntil([&] { return directory.requestCount() >= 1; }, 20000));
    ASSERT_EQ(runToEnd(vxtest::binPath(QStringLiteral("vandorixctl")),
                       {"--no-check", "--port", QString::number(remotePort), "Stop"})
                  .exitCode,
              0);
    ASSERT_TRUE(vxtest::waitUntil([&] { return directoryActions(directory).contains("setoff"); }, 20000));
    ::kill(pid_t(station.processId()), SIGTERM);
    ASSERT_TRUE(station.waitForFinished(20000));
    EXPECT_EQ(station.exitCode(), 0);
    const QString err = QString::fromUtf8(station.readAllStandardError());
    EXPECT_FALSE(err.contains(QStringLiteral(": \n"))) << "an empty message: " << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("KT VandorixServer: "))) << err.toStdString();
}

TEST(Service, AStartThatFailsEndsTheProgramWithItsReportAndExitCode1) {
    QTemporaryDir dir;
    vxtest::writeFile(dir.path(), "Server.ini", "http://127.0.0.1:9/db/\n");
    const Finished r =
        runToEnd(kServer, {"/WO", "--data-dir", dir.path(), "--remote-port", "0", "--capture-device",
                           "alsa:hw:97", "--radio-name", "Test", "--port",
                           QString::number(vxtest::freeTcpPort()), "--status-listen", "off", "--start"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("KT VandorixServer: Capture device alsa:hw:97: ")))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("DebugStr")))
        << "the trace is the window's, not the journal's";

    const Finished noServerFile = runToEnd(kServer, {"--data-dir", dir.path() + "/elsewhere"});
    EXPECT_EQ(noServerFile.exitCode, 1);
    EXPECT_TRUE(noServerFile.err.contains(dir.path() + "/elsewhere")) << noServerFile.err.toStdString();
}

// A port of the station's own that another program holds is named once, with the system's reason; with
// --start it fails the start, so that a service does not answer for another station.
TEST(Service, APortAnotherProgramHoldsIsNamedOnceAndFailsAStart) {
    QTemporaryDir dir;
    vxtest::writeFile(dir.path(), "Server.ini", "http://127.0.0.1:9/db/\n");
    const vxtest::LoopbackListener holder(0, 1);
    ASSERT_NE(holder.port(), 0);
    const QString taken = QString::number(holder.port());
    const QStringList common = {"/WO",  "--data-dir",   dir.path(), "--status-listen",
                                "off",  "--web-listen", "off",      "--capture-device",
                                "tone", "--radio-name", "Test",     "--start"};

    const Finished remote = runToEnd(kServer, common + QStringList{"--remote-port", taken, "--port",
                                                                   QString::number(vxtest::freeTcpPort())});
    EXPECT_EQ(remote.exitCode, 1);
    EXPECT_EQ(
        remote.err.count(QStringLiteral("KT VandorixServer: Remote control port %1: address already in use; "
                                        "the station runs without remote control\n")
                             .arg(taken)),
        1)
        << remote.err.toStdString();

    const Finished listener = runToEnd(kServer, common + QStringList{"--remote-port", "0", "--port", taken});
    EXPECT_EQ(listener.exitCode, 1);
    EXPECT_TRUE(listener.err.contains(
        QStringLiteral("KT VandorixServer: Listener port %1: address already in use\n").arg(taken)))
        << listener.err.toStdString();
    EXPECT_FALSE(listener.err.contains(QStringLiteral("Windows socket error"))) << listener.err.toStdString();
}

// A datagram socket of our own stands in for systemd's.
class NotifySocket {
public:
    explicit NotifySocket(const QString& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(a.sun_path, name.constData(), std::min<size_t>(name.size(), sizeof a.sun_path - 1));
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~NotifySocket() { ::close(fd_); }
    bool bound() const { return bound_; }
    // Every notice received so far, one datagram each.
    const QStringList& notices() {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
            notices_ << QString::fromUtf8(buffer, n);
        }
        return notices_;
    }
    // The first datagram that holds the assignment; empty when none has come.
    QString with(const QString& assignment) {
        for (const QString& n : notices()) {
            if (n.split('\n').contains(assignment)) {
                return n;
            }
        }
        return QString();
    }
    bool received(const QString& assignment) { return !with(assignment).isEmpty(); }

private:
    QString path_;
    int fd_ = -1;
    bool bound_ = false;
    QStringList notices_;
};

TEST(Service, ATypeNotifyServiceHearsReadyOnceOnAirThenStatusWatchdogAndStopping) {
    QTemporaryDir dir;
    vxtest::writeFile(dir.path(), "Server.ini", "http://127.0.0.1:9/db/\n");
    NotifySocket systemd(dir.path() + "/notify");
    ASSERT_TRUE(systemd.bound());
    const int listenerPort = vxtest::freeTcpPort();
    const int remotePort = vxtest::freeTcpPort();
    QProcessEnvironment env = vxtest::headlessEnvironment();
    env.insert(QStringLiteral("NOTIFY_SOCKET"), dir.path() + "/notify");
    env.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
    QProcess station;
    station.setProcessEnvironment(env);
    station.start(kServer, {"/WO", "--data-dir", dir.path(), "--capture-device", "tone", "--radio-name",
                            "Test", "--port", QString::number(listenerPort), "--remote-port",
                            QString::number(remotePort), "--remote-listen", "127.0.0.2", "--status-listen",
                            QStringLiteral("127.0.0.1:%1").arg(vxtest::freeTcpPort()), "--start"});
    ASSERT_TRUE(vxtest::waitUntil([&] { return systemd.received(QStringLiteral("READY=1")); }, 20000))
        << systemd.notices().join(" / ").toStdString() << station.readAllStandardError().toStdString();
    // Ready means on the air: the status sent with it says so, and the listener port takes a peer.
    EXPECT_TRUE(
        systemd.with(QStringLiteral("READY=1")).contains(QStringLiteral("STATUS=On air, 0 listeners")))
        << systemd.notices().join(" / ").toStdString();
    EXPECT_TRUE(vxtest::accepts(listenerPort, "127.0.0.1"));
    EXPECT_TRUE(vxtest::accepts(remotePort, "127.0.0.2"));
    EXPECT_FALSE(vxtest::accepts(remotePort, "127.0.0.1"));
    EXPECT_TRUE(vxtest::waitUntil([&] { return systemd.received(QStringLiteral("WATCHDOG=1")); }));
    // An ICY player that stays: the status counts it in the singular.
    const int player = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(listenerPort));
    ::inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    ASSERT_EQ(::connect(player, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const char request[] = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(player, request, sizeof request - 1, MSG_NOSIGNAL), ssize_t(sizeof request - 1));
    EXPECT_TRUE(vxtest::waitUntil([&] {
        return systemd.received(QStringLiteral("STATUS=On air, 1 listener"));
    })) << systemd.notices().join(" / ").toStdString();
    ::close(player);

    ::kill(pid_t(station.processId()), SIGTERM);
    ASSERT_TRUE(station.waitForFinished(10000));
    EXPECT_EQ(station.exitCode(), 0);
    EXPECT_TRUE(systemd.received(QStringLiteral("STOPPING=1")));
}

}  // namespace
