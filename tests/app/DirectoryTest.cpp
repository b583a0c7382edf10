// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TMainform.h"
#include "net/THTTPGet.h"
#include "platform/mixerapi/SimulatedMixer.h"
#include "support/LocalHttpServer.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"
#include "support/TestSupport.h"
#include "ui/TLogGraph.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace {

using vxtest::LocalHttpServer;

QByteArray actionOf(const LocalHttpServer::Request& r) {
    const QByteArray target = r.target();
    const qsizetype start = target.indexOf("action=");
    if (start < 0) {
        return {};
    }
    const qsizetype end = target.indexOf('&', start);
    return target.mid(start + 7, end < 0 ? -1 : end - start - 7);
}

class DirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
            qunsetenv(name);
        }
        server.setHandler([this](const LocalHttpServer::Request& r) -> std::optional<QByteArray> {
            std::lock_guard lock(answersMutex);
            const auto it = answers.find(actionOf(r));
            if (it == answers.end()) {
                return LocalHttpServer::response("ok");
            }
            if (it->second.isNull()) {
                return std::nullopt;  // never answers
            }
            return LocalHttpServer::response(it->second);
        });
    }

    void openWindow(const QString& base, const QStringList& arguments = {QStringLiteral("vandorixserver")}) {
        vxtest::writeFile(dir.path(), QStringLiteral("Server.ini"), base.toUtf8() + "\r\n");
        env.dataDir = dir.path();
        env.arguments = arguments;
        env.dialogs = &dialogs;
        env.mixer = vx::mixerapi::SimulatedMixer::soundCard();
        env.waveIn = std::make_shared<vx::wavein::SimulatedWaveIn>();
        env.acm = vxtest::stationCodecs(dialogs);
        form = std::make_unique<TMainform>(env);
        form->RadioName->setText(QStringLiteral("MyRadio"));
        form->EMail->setText(QStringLiteral("dj@example.org"));
        form->Passwort1->setText(QStringLiteral("geheim"));
        form->Passwort2->setText(QStringLiteral("geheim"));
        form->VandorixClientport->setValue(7000);
        dialogs.messages.clear();
    }

    QString base() const { return server.origin() + QStringLiteral("/vdb/"); }

    void answer(const QByteArray& action, const QByteArray& body) {
        std::lock_guard lock(answersMutex);
        answers[action] = body;
    }

    // Waits until the server has seen n requests; the listener count goes out without waiting.
    bool requestsReach(int n) {
        return vxtest::waitUntil([&] { return server.requestCount() >= n; });
    }

    QStringList targets() const {
        QStringList out;
        for (const LocalHttpServer::Request& r : server.requests()) {
            out.append(QString::fromLatin1(r.target()));
        }
        return out;
    }

    // The server's thread reads the answers: it must stop before they go.
    std::mutex answersMutex;
    std::map<QByteArray, QByteArray> answers;
    LocalHttpServer server;
    QTemporaryDir dir;
    vxtest::RecordingDialogs dialogs;
    StationEnvironment env;
    std::unique_ptr<TMainform> form;
};

TEST_F(DirectoryTest, EveryRequestUrlIsExactlyTheTypedValues) {
    openWindow(base());
    form->RadioName->setText(QStringLiteral("Rock#1"));
    form->Passwort1->setText(QStringLiteral("p&w=%41"));
    form->Passwort2->setText(QStringLiteral("p&w=%41"));
    form->EMail->setText(QStringLiteral("a+b@c.de"));
    const QString b = base();
    const QString station = QStringLiteral("&nic=Rock#1&pass=p&w=%41&port=7000");
    struct Case {
        const char* name;
        std::function<void()> run;
        THTTPGet* component;
        QString url;
    };
    const Case cases[] = {
        {"register", [&] { form->AnmeldeBtnClick(form->AnmeldeBtn); },
         StationProbe(form->station()).HTTP.get(),
         b + QStringLiteral("index.php?action=register") + station + QStringLiteral("&email=a+b@c.de")},
        {"delete", [&] { form->AbmeldeBtnClick(form->AbmeldeBtn); }, StationProbe(form->station()).HTTP.get(),
         b + QStringLiteral("index.php?action=delete") + station},
        {"setstatus", [&] { StationProbe(form->station()).DBTimerTimer(); },
         StationProbe(form->station()).HTTP.get(),
         b + QStringLiteral("index.php?action=setstatus") + station},
        {"hoererupdate", [&] { StationProbe(form->station()).StatsTimerTimer(); },
         StationProbe(form->station()).HTTPHoerer.get(),
         b + QStringLiteral("index.php?action=hoererupdate&hoerer=0&radioname=Rock#1&passwort=p&w=%41")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = server.requestCount();
        c.run();
        ASSERT_TRUE(requestsReach(before + 1));
        EXPECT_EQ(c.component->URL, c.url);
        // On the wire: the same bytes after the origin.
        EXPECT_EQ(targets().back(), c.url.mid(server.origin().size()));
        ASSERT_TRUE(vxtest::waitUntil([&] { return !c.component->Running(); }));
    }
}

TEST_F(DirectoryTest, AnswersOfRegisterAndDeleteChooseTheMessage) {
    openWindow(base());
    struct Case {
        const char* name;
        QByteArray action;
        QByteArray body;  // null: the directory is unreachable
        bool registration;
        int message;
        QString appended;
    };
    const Case cases[] = {
        {"registered", "register", "E105", true, 36, QString()},
        {"register refused", "register", "E101", true, 37, QStringLiteral("E101")},
        {"register unreachable", "register", QByteArray(), true, 37, QStringLiteral("Error")},
        {"deleted", "delete", "E106", false, 39, QString()},
        {"delete refused", "delete", "E105", false, 40, QStringLiteral("E105")},
        {"delete unreachable", "delete", QByteArray(), false, 40, QStringLiteral("Error")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form->ServerDB->setText(
            c.body.isNull() ? QStringLiteral("http://127.0.0.1:%1/vdb/").arg(LocalHttpServer::closedPort())
                            : base());
        answer(c.action, c.body);
        dialogs.messages.clear();
        if (c.registration) {
            form->AnmeldeBtnClick(form->AnmeldeBtn);
        } else {
            form->AbmeldeBtnClick(form->AbmeldeBtn);
        }
        EXPECT_EQ(dialogs.messages, QStringList{form->Msg(c.message) + c.appended});
    }
}

TEST_F(DirectoryTest, InputChecksRefuseWithMessage30AndSendNothing) {
    openWindow(base());
    struct Case {
        const char* name;
        QString radioName;
        QString email;
        QString pass1;
        QString pass2;
        bool registerSent;  // register and delete
        bool statusSent;    // setstatus
    };
    const QString pw = QStringLiteral("geheim");
    const Case cases[] = {
        {"all given", QStringLiteral("MyRadio"), QStringLiteral("a@b"), pw, pw, true, true},
        {"blank in name", QStringLiteral("My Radio"), QStringLiteral("a@b"), pw, pw, false, true},
        {"no name", QString(), QStringLiteral("a@b"), pw, pw, false, false},
        {"no e-mail", QStringLiteral("MyRadio"), QString(), pw, pw, false, true},
        {"no password", QStringLiteral("MyRadio"), QStringLiteral("a@b"), QString(), QString(), false, false},
        {"passwords differ", QStringLiteral("MyRadio"), QStringLiteral("a@b"), pw, QStringLiteral("Geheim"),
         false, false},
    };
    answer("register", "E105");
    answer("delete", "E106");
    answer("setstatus", "E100");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form->RadioName->setText(c.radioName);
        form->EMail->setText(c.email);
        form->Passwort1->setText(c.pass1);
        form->Passwort2->setText(c.pass2);
        for (const char* action : {"register", "delete", "setstatus"}) {
            SCOPED_TRACE(action);
            const bool expectSent = QByteArray(action) == "setstatus" ? c.statusSent : c.registerSent;
            const int before = server.requestCount();
            dialogs.messages.clear();
            StationProbe(form->station()).DBTimer->start();
            if (QByteArray(action) == "register") {
                form->AnmeldeBtnClick(form->AnmeldeBtn);
            } else if (QByteArray(action) == "delete") {
                form->AbmeldeBtnClick(form->AbmeldeBtn);
            } else {
                StationProbe(form->station()).DBTimerTimer();
                EXPECT_EQ(StationProbe(form->station()).DBTimer->isActive(), expectSent);
            }
            EXPECT_EQ(server.requestCount(), before + (expectSent ? 1 : 0));
            if (expectSent) {
                EXPECT_FALSE(dialogs.messages.contains(form->Msg(30)));
                EXPECT_EQ(actionOf(server.requests().back()), QByteArray(action));
            } else {
                EXPECT_EQ(dialogs.messages, QStringList{form->Msg(30)});
            }
        }
    }
    StationProbe(form->station()).DBTimer->stop();
}

TEST_F(DirectoryTest, NameWithBlankGoesOutInTheStatusReport) {
    openWindow(base());
    form->RadioName->setText(QStringLiteral("My Radio"));
    answer("setstatus", "E100");
    StationProbe(form->station()).DBTimerTimer();
    ASSERT_EQ(server.requestCount(), 1);
    EXPECT_EQ(StationProbe(form->station()).HTTP->URL,
              base() + QStringLiteral("index.php?action=setstatus&nic=My Radio&pass=geheim&port=7000"));
    EXPECT_EQ(targets().back(),
              QStringLiteral("/vdb/index.php?action=setstatus&nic=My%20Radio&pass=geheim&port=7000"));
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(DirectoryTest, StatusReportAcceptsOnlyE100) {
    openWindow(base());
    const struct {
        QByteArray body;
        bool message;
    } cases[] = {{"E100", false}, {"E105", true}, {"e100", true}, {"E100 ", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        answer("setstatus", c.body);
        dialogs.messages.clear();
        StationProbe(form->station()).DBTimerTimer();
        EXPECT_EQ(dialogs.messages, c.message ? QStringList{form->Msg(38)} : QStringList{});
    }
}

TEST_F(DirectoryTest, DifferentPasswordsStopTheStatusReportsButNotTheListenerCount) {
    openWindow(base());
    form->Passwort2->setText(QStringLiteral("anders"));
    StationProbe(form->station()).MaxUser = 5;
    StationProbe(form->station()).DBTimer->start();
    StationProbe(form->station()).DBTimerTimer();
    EXPECT_FALSE(StationProbe(form->station()).DBTimer->isActive());
    EXPECT_EQ(dialogs.messages, QStringList{form->Msg(30)});
    EXPECT_EQ(server.requestCount(), 0);

    StationProbe(form->station()).StatsTimerTimer();
    ASSERT_TRUE(requestsReach(1));
    EXPECT_EQ(
        targets().back(),
        QStringLiteral("/vdb/index.php?action=hoererupdate&hoerer=0&radioname=MyRadio&passwort=geheim"));
    EXPECT_EQ(form->Stats->ValueMax(), 5);
    EXPECT_EQ(form->Stats->Value(form->Stats->ValuesCount() - 1), 0);
}

TEST_F(DirectoryTest, OffAirReportsSetoffThenListenerCountZero) {
    openWindow(base());
    struct Case {
        const char* name;
        QByteArray setoffAnswer;
        QString pass2;
        QStringList messages;
        QStringList actions;
    };
    answer("hoererupdate", "");
    const Case cases[] = {
        {"accepted", "E108", QStringLiteral("geheim"), {}, {"setoff", "hoererupdate"}},
        {"refused", "E100", QStringLiteral("geheim"), {QStringLiteral("msg29")}, {"setoff", "hoererupdate"}},
        {"passwords differ", "E108", QStringLiteral("x"), {QStringLiteral("msg30")}, {"hoererupdate"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        answer("setoff", c.setoffAnswer);
        form->Passwort2->setText(c.pass2);
        dialogs.messages.clear();
        const int before = server.requestCount();
        StationProbe(form->station()).DirectoryOffAir();
        ASSERT_TRUE(requestsReach(before + int(c.actions.size())));
        ASSERT_TRUE(vxtest::waitUntil([&] { return !StationProbe(form->station()).HTTPHoerer->Running(); }));
        QStringList actions;
        for (std::size_t i = std::size_t(before); i < server.requests().size(); ++i) {
            actions.append(QString::fromLatin1(actionOf(server.requests()[i])));
        }
        EXPECT_EQ(actions, c.actions);
        EXPECT_TRUE(targets().back().endsWith(QStringLiteral("hoerer=0&radioname=MyRadio&passwort=geheim")));
        QStringList expected;
        for (const QString& m : c.messages) {
            expected.append(form->Msg(m == QLatin1String("msg29") ? 29 : 30));
        }
        EXPECT_EQ(dialogs.messages, expected);
    }
}

// A stop while the start's status report is on its way: the off-air report goes after it, and the last
// request noted is the off-air report's.
TEST_F(DirectoryTest, AStopDuringTheStartsStatusReportSendsTheOffAirReportAfterIt) {
    openWindow(base());
    form->VandorixClientport->setValue(vxtest::freeTcpPort());
    answer("setstatus", "E100");
    answer("setoff", "E108");
    answer("hoererupdate", "");
    server.trickle(5);  // the status report's answer takes a quarter of a second
    QTimer stop;
    stop.setInterval(5);
    QObject::connect(&stop, &QTimer::timeout, [&] {
        if (server.requestCount() >= 1) {
            stop.stop();
            form->station().Stop();
        }
    });
    stop.start();
    form->station().Start();
    EXPECT_EQ(form->station().state(), StationState::Stopped);
    ASSERT_TRUE(requestsReach(3));
    ASSERT_TRUE(vxtest::waitUntil([&] { return !StationProbe(form->station()).HTTPHoerer->Running(); }));
    QStringList actions;
    for (const LocalHttpServer::Request& r : server.requests()) {
        actions.append(QString::fromLatin1(actionOf(r)));
    }
    EXPECT_EQ(actions, (QStringList{"setstatus", "setoff", "hoererupdate"}));
    EXPECT_EQ(dialogs.messages, QStringList());
    EXPECT_EQ(form->station().status()->lastDirectoryRequest.action, QStringLiteral("setoff"));
    EXPECT_EQ(form->station().status()->lastDirectoryRequest.result, QStringLiteral("E108"));
}

// "Ende" with no broadcast still tells the directory the station is off the air, with no listener.
TEST_F(DirectoryTest, EndeWhileStoppedSendsTheOffAirReportAndTheCountZero) {
    openWindow(base());
    answer("setoff", "E108");
    answer("hoererupdate", "");
    bool ended = false;
    StationProbe(form->station()).EndProcess = [&] { ended = true; };
    form->station().End();
    EXPECT_TRUE(ended);
    ASSERT_TRUE(requestsReach(2));
    QStringList actions;
    for (const LocalHttpServer::Request& r : server.requests()) {
        actions.append(QString::fromLatin1(actionOf(r)));
    }
    EXPECT_EQ(actions, (QStringList{"setoff", "hoererupdate"}));
    EXPECT_TRUE(targets().back().contains(QStringLiteral("hoerer=0")));
}

TEST_F(DirectoryTest, UnreachableDirectoryAtTheStopShowsMessage29) {
    openWindow(QStringLiteral("http://127.0.0.1:%1/vdb/").arg(LocalHttpServer::closedPort()));
    StationProbe(form->station()).DirectoryOffAir();
    EXPECT_EQ(dialogs.messages, QStringList{form->Msg(29)});
    EXPECT_TRUE(vxtest::waitUntil([&] { return !StationProbe(form->station()).HTTPHoerer->Running(); }));
}

TEST_F(DirectoryTest, OfflineModeSendsOnlyTheListenerCount) {
    openWindow(base(), {QStringLiteral("vandorixserver"), QStringLiteral("/WO")});
    ASSERT_TRUE(StationProbe(form->station()).OfflineMode);
    StationProbe(form->station()).DBTimer->start();
    form->AnmeldeBtnClick(form->AnmeldeBtn);
    form->AbmeldeBtnClick(form->AbmeldeBtn);
    StationProbe(form->station()).DBTimerTimer();
    StationProbe(form->station()).DirectoryOffAir();
    EXPECT_TRUE(StationProbe(form->station()).DBTimer->isActive());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_FALSE(StationProbe(form->station()).HTTP->Running());
    EXPECT_FALSE(StationProbe(form->station()).HTTPHoerer->Running());
    StationProbe(form->station()).DBTimer->stop();

    StationProbe(form->station()).StatsTimerTimer();
    ASSERT_TRUE(requestsReach(1));
    EXPECT_EQ(actionOf(server.requests().back()), "hoererupdate");
}

TEST_F(DirectoryTest, ButtonsAndTimersReachTheirHandlers) {
    openWindow(base());
    answer("register", "E105");
    answer("delete", "E106");
    form->AnmeldeBtn->click();
    form->AbmeldeBtn->click();
    EXPECT_EQ(dialogs.messages, (QStringList{form->Msg(36), form->Msg(39)}));
    StationProbe(form->station()).StatsTimer->setInterval(1);
    StationProbe(form->station()).StatsTimer->start();
    ASSERT_TRUE(requestsReach(3));
    StationProbe(form->station()).StatsTimer->stop();
    EXPECT_EQ(actionOf(server.requests()[2]), "hoererupdate");
    StationProbe(form->station()).DBTimer->setInterval(1);
    StationProbe(form->station()).DBTimer->start();
    ASSERT_TRUE(vxtest::waitUntil([&] {
        for (const LocalHttpServer::Request& r : server.requests()) {
            if (actionOf(r) == "setstatus") {
                return true;
            }
        }
        return false;
    }));
    StationProbe(form->station()).DBTimer->stop();
}

// No code the directory sends comes near 64 KiB: a longer answer is a failed request.
TEST_F(DirectoryTest, AnswerBeyond64KiBIsAFailedRequest) {
    openWindow(base());
    const QByteArray longest(64 * 1024, 'E');
    answer("register", longest);
    form->AnmeldeBtnClick(form->AnmeldeBtn);
    answer("register", longest + "1");
    form->AnmeldeBtnClick(form->AnmeldeBtn);
    ASSERT_EQ(dialogs.messages.size(), 2);
    EXPECT_TRUE(dialogs.messages[0] == form->Msg(37) + QString::fromLatin1(longest));
    EXPECT_EQ(dialogs.messages[1].toStdString(), (form->Msg(37) + QStringLiteral("Error")).toStdString());
}

// A directory that trickles its answer, or never answers, holds a report no longer than its deadline:
// the status report has its own, the stop's off-air report a shorter one.
TEST_F(DirectoryTest, SlowDirectoryEndsEachReportAtItsDeadline) {
    openWindow(base());
    server.trickle(20);
    answer("setstatus", QByteArray(100000, 'E'));  // would take over half an hour
    answer("setoff", QByteArray());                // never answers
    const struct {
        const char* name;
        int status;
        int offAir;
        std::function<void()> report;
        int message;
    } cases[] = {
        {"status report", 200, 600000, [&] { StationProbe(form->station()).DBTimerTimer(); }, 38},
        {"off-air report", 600000, 200, [&] { StationProbe(form->station()).DirectoryOffAir(); }, 29},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        StationProbe(form->station()).DirectoryDeadlineMs = c.status;
        StationProbe(form->station()).OffAirDeadlineMs = c.offAir;
        dialogs.messages.clear();
        bool missed = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            missed = true;
            StationProbe(form->station()).HTTP->AbortRequest();
        });
        watchdog.start(10000);
        c.report();
        EXPECT_FALSE(missed) << "the request outlived its deadline";
        EXPECT_EQ(dialogs.messages, QStringList{form->Msg(c.message)});
    }
}

// A directory that does not answer the status report keeps the window alive: the minute report keeps
// going out during the wait, and a second status report returns at once with the earlier answer.
TEST_F(DirectoryTest, SilentDirectoryDoesNotFreezeTheWindow) {
    openWindow(base());
    answer("setstatus", "E100");
    StationProbe(form->station()).DBTimerTimer();
    ASSERT_TRUE(dialogs.messages.isEmpty());

    answer("setstatus", QByteArray());  // silent from now on
    int counts = 0;
    int nestedMessages = -1;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        StationProbe(form->station()).StatsTimerTimer();
        int seen = 0;
        for (const LocalHttpServer::Request& r : server.requests()) {
            seen += actionOf(r) == "hoererupdate" ? 1 : 0;
        }
        counts = seen;
        if (counts >= 3 && nestedMessages < 0) {
            StationProbe(form->station()).DBTimerTimer();  // judged by the earlier "E100": no message
            nestedMessages = int(dialogs.messages.size());
            StationProbe(form->station()).HTTP->AbortRequest();
        }
    });
    ticker.start();
    StationProbe(form->station()).DBTimerTimer();
    ticker.stop();
    EXPECT_GE(counts, 3);
    EXPECT_EQ(nestedMessages, 0);
    EXPECT_EQ(dialogs.messages, QStringList{form->Msg(38)});  // the aborted report failed
}

}  // namespace
