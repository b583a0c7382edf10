// The real programs as an admin and systemd run them: help and version, settings from a file and the
// command line, a --start that fails, and the notices a Type=notify service sends.
#include "settings/TOptionsRecord.h"
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

const QString kServer = QStringLiteral(VX_BIN_DIR "/vandorixserver");

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

// The station has installed its handler once the kernel reports SIGTERM as caught.
bool catchesSigterm(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
        }
    }
    return false;
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
    const Finished version = runToEnd(kServer, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith(QStringLiteral("vandorixserver 6.0"))) << version.out.toStdString();
    const Finished unknown = runToEnd(kServer, {"--data-dir", dir.path(), "-x"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("Unknown option 'x'"))) << unknown.err.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList());  // nothing started, nothing written

    const QString ctl = QStringLiteral(VX_BIN_DIR "/vandorixctl");
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
    ASSERT_TRUE(vxtest::waitUntil([&] { return catchesSigterm(station.processId()); }));
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

TEST(Service, AStartThatFailsEndsTheProgramWithItsReportAndExitCode1) {
    QTemporaryDir dir;
    vxtest::writeFile(dir.path(), "Server.ini", "http://127.0.0.1:9/db/\n");
    const Finished r = runToEnd(
        kServer, {"/WO", "--data-dir", dir.path(), "--remote-port", "0", "--capture-device", "alsa:hw:97",
                  "--radio-name", "Test", "--port", QString::number(vxtest::freeTcpPort()), "--start"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("DebugStr: ConnectrbtnClick"))) << r.err.toStdString();

    const Finished noServerFile = runToEnd(kServer, {"--data-dir", dir.path() + "/elsewhere"});
    EXPECT_EQ(noServerFile.exitCode, 1);
    EXPECT_TRUE(noServerFile.err.contains(dir.path() + "/elsewhere")) << noServerFile.err.toStdString();
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
                            QString::number(remotePort), "--remote-listen", "127.0.0.2", "--start"});
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

    ::kill(pid_t(station.processId()), SIGTERM);
    ASSERT_TRUE(station.waitForFinished(10000));
    EXPECT_EQ(station.exitCode(), 0);
    EXPECT_TRUE(systemd.received(QStringLiteral("STOPPING=1")));
}

}  // namespace
