// SPDX-License-Identifier: GPL-3.0-or-later
// vandorixctl as a real process against a plain loopback server standing in for the station.
#include "support/LocalHttpServer.h"
#include "support/LoopbackPeer.h"
#include "support/StationProcess.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace {

const std::string kTerm("\xFF\xFF\xFF\xFF", 4);

class FakeStation {
public:
    ~FakeStation() {
        if (peer_ >= 0) {
            ::close(peer_);
        }
    }
    int port() const { return listener_.port(); }

    // Accepts the client and reads until its terminator arrives; returns everything it sent.
    std::string receiveCommand() {
        pollfd p{listener_.fd(), POLLIN, 0};
        if (::poll(&p, 1, 10000) != 1) {
            return {};
        }
        peer_ = ::accept(listener_.fd(), nullptr, nullptr);
        std::string got;
        char buf[256];
        while (got.find(kTerm) == std::string::npos) {
            pollfd q{peer_, POLLIN, 0};
            if (::poll(&q, 1, 10000) != 1) {
                break;
            }
            const ssize_t n = ::recv(peer_, buf, sizeof buf, 0);
            if (n <= 0) {
                break;
            }
            got.append(buf, std::size_t(n));
        }
        return got;
    }
    void send(const std::string& bytes) { ::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    void closePeer() {
        ::close(peer_);
        peer_ = -1;
    }

private:
    vxtest::LoopbackListener listener_{0, 4};
    int peer_ = -1;
};

QString ctlPath() {
    return vxtest::binPath(QStringLiteral("vandorixctl"));
}

// The stand-in has no status port: these tests look at the sending alone.
QStringList args(int port, const QString& command) {
    return {QStringLiteral("--no-check"), QStringLiteral("--port"), QString::number(port), command};
}

TEST(Vandorixctl, SendsEachCommandWithItsTerminatorOnly) {
    for (const char* command : {"Start", "Stop", "Ende", "Liste"}) {
        FakeStation station;
        QProcess ctl;
        ctl.start(ctlPath(), args(station.port(), QString::fromLatin1(command)));
        ASSERT_TRUE(ctl.waitForStarted()) << command;
        EXPECT_EQ(station.receiveCommand(), std::string(command) + kTerm);
        station.closePeer();
        ASSERT_TRUE(ctl.waitForFinished(10000)) << command;
        EXPECT_EQ(ctl.exitCode(), 0) << command;
        EXPECT_TRUE(ctl.readAllStandardOutput().isEmpty()) << command;
    }
}

TEST(Vandorixctl, ListePrintsEveryElementOnItsOwnLineWhileTheStationKeepsTheConnection) {
    FakeStation station;
    QProcess ctl;
    ctl.start(ctlPath(), args(station.port(), QStringLiteral("Liste")));
    ASSERT_TRUE(ctl.waitForStarted());
    ASSERT_EQ(station.receiveCommand(), "Liste" + kTerm);
    // Elements arrive one by one, one of them split across two sends; a cut-off tail is no address.
    station.send("127.0.0.1" + kTerm);
    station.send("192.168.1.20" + kTerm + "10.0.0");
    station.send(".7" + kTerm + "10.0.");
    // The station does not close: the client must end on its own.
    ASSERT_TRUE(ctl.waitForFinished(10000));
    EXPECT_EQ(ctl.exitCode(), 0);
    EXPECT_EQ(QString::fromLatin1(ctl.readAllStandardOutput()),
              QStringLiteral("127.0.0.1\n192.168.1.20\n10.0.0.7\n"));
}

TEST(Vandorixctl, AnEmptyListPrintsNothingAndEnds) {
    FakeStation station;
    QProcess ctl;
    ctl.start(ctlPath(),
              {QStringLiteral("--no-check"), QStringLiteral("--port"), QString::number(station.port()),
               QStringLiteral("--wait"), QStringLiteral("300"), QStringLiteral("Liste")});
    ASSERT_TRUE(ctl.waitForStarted());
    ASSERT_EQ(station.receiveCommand(), "Liste" + kTerm);
    ASSERT_TRUE(ctl.waitForFinished(10000));
    EXPECT_EQ(ctl.exitCode(), 0);
    EXPECT_TRUE(ctl.readAllStandardOutput().isEmpty());
}

// The installed service's port without flags: the environment first, then the service's file.
TEST(Vandorixctl, FindsTheServicesPortInTheEnvironmentOrItsConfigurationFile) {
    FakeStation fromFile;
    FakeStation fromEnvironment;
    QTemporaryDir dir;
    QFile conf(dir.filePath(QStringLiteral("vandorixserver.conf")));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(QStringLiteral("# ports\nremote-listen = 0.0.0.0\n remote-port = %1 \nstatus-listen = off\n")
                   .arg(fromFile.port())
                   .toUtf8());
    conf.close();
    const struct {
        const char* remote;
        FakeStation* reached;
    } cases[] = {{"", &fromFile}, {"127.0.0.1:%1", &fromEnvironment}, {"%1", &fromEnvironment}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.remote);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VANDORIX_CONFIG"), conf.fileName());
        const QString remote = QString::fromLatin1(c.remote);
        env.insert(QStringLiteral("VANDORIX_REMOTE"),
                   remote.contains(QLatin1String("%1")) ? remote.arg(fromEnvironment.port()) : remote);
        QProcess ctl;
        ctl.setProcessEnvironment(env);
        ctl.start(ctlPath(), {QStringLiteral("--no-check"), QStringLiteral("Stop")});  // no status port here
        ASSERT_TRUE(ctl.waitForStarted());
        EXPECT_EQ(c.reached->receiveCommand(), std::string("Stop") + kTerm);
        c.reached->closePeer();
        ASSERT_TRUE(ctl.waitForFinished(10000));
        EXPECT_EQ(ctl.exitCode(), 0) << ctl.readAllStandardError().toStdString();
    }
    QProcessEnvironment bad = QProcessEnvironment::systemEnvironment();
    bad.insert(QStringLiteral("VANDORIX_STATUS"), QStringLiteral("localhost:http"));
    QProcess ctl;
    ctl.setProcessEnvironment(bad);
    ctl.start(ctlPath(), {QStringLiteral("status")});
    ASSERT_TRUE(ctl.waitForFinished(10000));
    EXPECT_EQ(ctl.exitCode(), 2);
    EXPECT_TRUE(ctl.readAllStandardError().contains("VANDORIX_STATUS=localhost:http"));
}

TEST(Vandorixctl, RefusedConnectionsAndBadArgumentsFailWithAMessage) {
    int freePort = 0;
    {
        FakeStation closed;  // bound and released: nothing listens there afterwards
        freePort = closed.port();
    }
    struct Row {
        QStringList arguments;
        int exitCode;
    };
    const std::vector<Row> rows = {
        {args(freePort, QStringLiteral("Liste")), 1},
        {{QStringLiteral("start")}, 2},  // commands are case-sensitive
        {{}, 2},
        {{QStringLiteral("--port"), QStringLiteral("0x20"), QStringLiteral("Stop")}, 2},
        {{QStringLiteral("Start"), QStringLiteral("Stop")}, 2},
    };
    for (const Row& row : rows) {
        QProcess ctl;
        ctl.start(ctlPath(), row.arguments);
        ASSERT_TRUE(ctl.waitForFinished(10000)) << row.arguments.join(' ').toStdString();
        EXPECT_EQ(ctl.exitCode(), row.exitCode) << row.arguments.join(' ').toStdString();
        EXPECT_FALSE(ctl.readAllStandardError().isEmpty()) << row.arguments.join(' ').toStdString();
    }
}

// The protocol has no answer: what the command did is looked for on the status port (a stand-in here,
// whose state stays put and whose snapshot moves on or, for a frozen station, stands still).
TEST(Vandorixctl, ACommandWithoutItsEffectOrWithoutAStatusPortEndsNonZeroWithAMessage) {
    const struct {
        const char* command;
        const char* state;  // null: no status port
        bool frozen;
        int exitCode;
        const char* message;
    } rows[] = {
        {"Start", "on_air", false, 0, ""},
        {"Stop", "stopped", false, 0, ""},
        {"Liste", "stopped", false, 0, ""},
        {"Stop", "on_air", false, 1, "vandorixctl: Stop had no effect within 0.5 s: the station is on_air"},
        {"Start", "stopped", true, 1,
         "vandorixctl: Start had no effect within 0.5 s: the station is stopped"},
        // In record mode a Start captures into the file alone: that is its effect.
        {"Start", "record_only", false, 0, ""},
        {"Liste", "on_air", true, 1, "the station does not answer: its status has stood still"},
        {"Ende", "on_air", false, 1, "vandorixctl: Ende had no effect within 0.5 s: the station still runs"},
        {"Stop", nullptr, false, 4, "Stop sent; its effect could not be verified: the status port"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.command) + " " + (row.state ? row.state : "-"));
        FakeStation station;
        vxtest::LocalHttpServer status;
        std::atomic<int> snapshot = 0;
        status.setHandler([&](const vxtest::LocalHttpServer::Request&) -> std::optional<QByteArray> {
            const int second = row.frozen ? 0 : ++snapshot;
            return vxtest::LocalHttpServer::response(
                QStringLiteral(R"({"state":"%1","generated_at":"2026-01-01T00:00:%2Z"})")
                    .arg(QLatin1String(row.state ? row.state : ""))
                    .arg(second % 60, 2, 10, QLatin1Char('0'))
                    .toUtf8());
        });
        const int statusPort = row.state ? status.port() : vxtest::LocalHttpServer::closedPort();
        QProcess ctl;
        ctl.start(ctlPath(),
                  {QStringLiteral("--port"), QString::number(station.port()), QStringLiteral("--wait"),
                   QStringLiteral("300"), QStringLiteral("--status-port"), QString::number(statusPort),
                   QStringLiteral("--check-wait"), QStringLiteral("500"), QString::fromLatin1(row.command)});
        ASSERT_TRUE(ctl.waitForStarted());
        ASSERT_EQ(station.receiveCommand(), std::string(row.command) + kTerm);
        ASSERT_TRUE(ctl.waitForFinished(15000));
        EXPECT_EQ(ctl.exitCode(), row.exitCode);
        const QString err = QString::fromUtf8(ctl.readAllStandardError());
        if (*row.message == '\0') {
            EXPECT_TRUE(err.isEmpty()) << err.toStdString();
        } else {
            EXPECT_TRUE(err.contains(QLatin1String(row.message))) << err.toStdString();
        }
    }
}

}  // namespace
