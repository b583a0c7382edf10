// SPDX-License-Identifier: GPL-3.0-or-later
// The directory as its own process, with the real station: registration through the window, a headless
// station going on the air, being checked and listed, going off and being deleted; a station nobody
// can reach; a directory killed and started again.
#include "app/TMainform.h"
#include "platform/mixerapi/SimulatedMixer.h"
#include "support/LoopbackPeer.h"
#include "support/MainformFixture.h"
#include "support/StationProcess.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

using vxtest::ChildProcess;

// One HTTP/1.0 request on loopback, answered whole; the body, or empty.
QByteArray httpGet(int port, const QByteArray& target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QByteArray answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const QByteArray request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size()) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            pollfd p{fd, POLLIN, 0};
            char buffer[4096];
            while (std::chrono::steady_clock::now() < end && ::poll(&p, 1, 1000) >= 0) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    break;
                }
                answer.append(buffer, n);
            }
        }
    }
    ::close(fd);
    const qsizetype body = answer.indexOf("\r\n\r\n");
    return body < 0 ? QByteArray() : answer.mid(body + 4);
}

// vandorixdir on a loopback port of its own, its standard error on the output the test reads.
class DirectoryProcess {
public:
    explicit DirectoryProcess(const QString& database) : database_(database) { start(); }

    void start() {
        process = std::make_unique<ChildProcess>(
            QStringLiteral("/bin/sh"),
            QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" 2>&1"),
                        vxtest::binPath(QStringLiteral("vandorixdir")), QStringLiteral("--listen"),
                        QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--database"), database_,
                        QStringLiteral("--allow-private-stations")});
        listening = vxtest::waitUntil([&] { return process->output().contains("listening on port"); }, 20000);
    }
    QByteArray get(const QByteArray& target) const { return httpGet(port, target); }
    QByteArray admin(const QStringList& command) const {
        ChildProcess p(
            vxtest::binPath(QStringLiteral("vandorixdir")),
            QStringList{QStringLiteral("--database"), database_, QStringLiteral("--admin")} + command);
        p.waitForFinished();
        return p.output();
    }

    int port = vxtest::freeTcpPort();
    bool listening = false;
    std::unique_ptr<ChildProcess> process;

private:
    QString database_;
};

class DirectoryProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
            qunsetenv(name);
        }
        ASSERT_TRUE(directory.listening) << directory.process->output().constData();
    }

    QTemporaryDir dir;
    DirectoryProcess directory{dir.filePath(QStringLiteral("directory.sqlite"))};
};

// "Rädio&Co" with the password "p&w#+ä": the window sends both as typed (Windows-1252, the blank and
// the umlauts percent-encoded) and the headless station the same from its settings.
TEST_F(DirectoryProcessTest, AStationRegistersGoesOnAirIsCheckedListedGoesOffAndIsDeleted) {
    const QString name = QStringLiteral("R\u00e4dio&Co");
    const QString password = QStringLiteral("p&w#+\u00e4");
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(directory.port);

    // The window's "Anmeldung".
    QTemporaryDir windowDir;
    vxtest::writeFile(windowDir.path(), QStringLiteral("Server.ini"), base.toUtf8() + "\r\n");
    vxtest::RecordingDialogs dialogs;
    StationEnvironment env;
    env.dataDir = windowDir.path();
    env.arguments = {QStringLiteral("vandorixserver")};
    env.dialogs = &dialogs;
    env.remoteControlPort = 0;
    env.mixer = vx::mixerapi::SimulatedMixer::soundCard();
    env.waveIn = std::make_shared<vx::wavein::SimulatedWaveIn>();
    env.acm = vxtest::stationCodecs(dialogs);
    auto form = std::make_unique<TMainform>(env);
    form->RadioName->setText(name);
    form->EMail->setText(QStringLiteral("dj+1@example.org"));
    form->Passwort1->setText(password);
    form->Passwort2->setText(password);
    dialogs.messages.clear();
    form->AnmeldeBtnClick(form->AnmeldeBtn);
    EXPECT_EQ(dialogs.messages, QStringList{form->Msg(36)});

    // The headless station broadcasts and reports itself on the air at its start.
    QTemporaryDir stationDir;
    const int listenerPort = vxtest::freeTcpPort();
    const int webPort = listenerPort + 3;  // where the directory looks for the web port
    const int remotePort = vxtest::freeTcpPort();
    const int statusPort = vxtest::freeTcpPort();
    vxtest::writeDemoSettings(stationDir.path(), listenerPort);
    vxtest::writeFile(stationDir.path(), QStringLiteral("Server.ini"), base.toUtf8() + "\n");
    const QString passwordFile =
        vxtest::writeFile(stationDir.path(), QStringLiteral("password"), password.toUtf8());
    QFile::setPermissions(passwordFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ChildProcess station(
        QStringLiteral("/bin/sh"),
        QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" 2>&1"),
                    vxtest::binPath(QStringLiteral("vandorixserver")), QStringLiteral("--data-dir"),
                    stationDir.path(), QStringLiteral("--capture-device"), QStringLiteral("tone"),
                    QStringLiteral("--remote-port"), QString::number(remotePort),
                    QStringLiteral("--status-listen"), QStringLiteral("127.0.0.1:%1").arg(statusPort),
                    QStringLiteral("--web-listen"), QStringLiteral("127.0.0.1:%1").arg(webPort),
                    QStringLiteral("--radio-name"), name, QStringLiteral("--password-file"), passwordFile,
                    QStringLiteral("--start")},
        QStringList{vxtest::childSanitizerOptions()}, vxtest::noDisplayVariables());
    const QByteArray stream = QStringLiteral("http://127.0.0.1:%1/stream").arg(webPort).toUtf8();
    EXPECT_TRUE(vxtest::waitUntil([&] { return directory.get("/api/stations").contains(stream); }, 30000))
        << directory.process->output().constData() << station.output().constData();
    const QByteArray json = directory.get("/api/stations");
    EXPECT_TRUE(json.contains("\"name\":\"" + name.toUtf8() + "\"")) << json.constData();
    EXPECT_TRUE(json.contains("\"port\":" + QByteArray::number(listenerPort))) << json.constData();
    EXPECT_EQ(directory.get("/index.php?action=list"),
              name.toUtf8() + "\t127.0.0.1\t" + QByteArray::number(listenerPort) + "\t0\n");
    EXPECT_TRUE(directory.get("/stations.m3u").contains(stream));
    EXPECT_TRUE(directory.get("/").contains("<audio controls preload=\"none\" src=\"" + stream + "\">"));
    EXPECT_TRUE(
        directory.get("/").contains("R\xC3\xA4"
                                    "dio&amp;Co"));
    EXPECT_FALSE(directory.process->output().contains("p&w")) << "a password reached the log";

    // "Ende" stops the broadcast, which reports the station off the air.
    ASSERT_EQ(vxtest::runVandorixctl({QStringLiteral("--port"), QString::number(remotePort),
                                      QStringLiteral("--status-port"), QString::number(statusPort),
                                      QStringLiteral("Ende")}),
              0);
    ASSERT_TRUE(station.waitForFinished(20000));
    EXPECT_TRUE(
        directory.process->output().contains("setoff R\xC3\xA4"
                                             "dio&Co E108"))
        << directory.process->output().constData();
    EXPECT_EQ(directory.get("/index.php?action=list"), QByteArray());

    // The window's "Abmeldung".
    dialogs.messages.clear();
    form->AbmeldeBtnClick(form->AbmeldeBtn);
    EXPECT_EQ(dialogs.messages, QStringList{form->Msg(39)});
    EXPECT_EQ(directory.admin({QStringLiteral("list")}), "name\tstate\taddress\tport\tlisteners\tbanned\n");
}

TEST_F(DirectoryProcessTest, AStationNobodyCanReachIsNeverListed) {
    const QByteArray port = QByteArray::number(vxtest::freeTcpPort());  // nothing listens there
    ASSERT_EQ(directory.get("/index.php?action=register&nic=Silent&pass=p&port=" + port + "&email=a@b.c"),
              "E105");
    ASSERT_EQ(directory.get("/index.php?action=setstatus&nic=Silent&pass=p&port=" + port), "E100");
    ASSERT_TRUE(
        vxtest::waitUntil([&] { return directory.process->output().contains("check Silent"); }, 15000));
    EXPECT_TRUE(directory.process->output().contains("check Silent 127.0.0.1 port " + port + " not reached"));
    EXPECT_EQ(directory.get("/api/stations"), "{\"stations\":[]}\n");
    EXPECT_TRUE(directory.admin({QStringLiteral("list")}).contains("Silent\tunreachable\t127.0.0.1"));

    // A port that takes the connection and never answers the name query: out after the check's 5 s.
    vxtest::LoopbackListener mute;
    const QByteArray mutePort = QByteArray::number(mute.port());
    ASSERT_EQ(directory.get("/index.php?action=register&nic=Mute&pass=p&port=" + mutePort + "&email=a@b.c"),
              "E105");
    ASSERT_EQ(directory.get("/index.php?action=setstatus&nic=Mute&pass=p&port=" + mutePort), "E100");
    ASSERT_TRUE(vxtest::waitUntil([&] { return directory.process->output().contains("check Mute"); }, 15000));
    EXPECT_TRUE(
        directory.process->output().contains("check Mute 127.0.0.1 port " + mutePort + " not reached"));
    EXPECT_EQ(directory.get("/index.php?action=list"), QByteArray());
}

TEST_F(DirectoryProcessTest, AKilledDirectoryComesBackWithEveryStation) {
    for (const QByteArray name : {"One", "Two", "Three"}) {
        ASSERT_EQ(directory.get("/index.php?action=register&nic=" + name + "&pass=pw+" + name +
                                "&port=7000&email=x"),
                  "E105");
    }
    // Killed right after its last answer.
    ::kill(directory.process->pid(), SIGKILL);
    ASSERT_TRUE(directory.process->waitForFinished());
    directory.start();
    ASSERT_TRUE(directory.listening);
    const QByteArray list = directory.admin({QStringLiteral("list")});
    for (const QByteArray name : {"One", "Two", "Three"}) {
        EXPECT_TRUE(list.contains(name + "\toff")) << list.constData();
    }
    EXPECT_EQ(directory.get("/index.php?action=register&nic=two&pass=pw+Two&port=7000&email=x"), "E105");
    EXPECT_EQ(directory.get("/index.php?action=delete&nic=Two&pass=pw+two&port=7000"), "E205 wrong password");
}

}  // namespace
