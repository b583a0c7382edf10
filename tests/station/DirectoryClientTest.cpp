// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/DirectoryClient.h"
#include "support/LocalHttpServer.h"
#include "support/StationProbe.h"
#include "support/TestSupport.h"

#include "../integration/StationHarness.h"

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

// A message box as the client asks for it: the language message's number and the text appended.
QString shown(int message, const QString& appended = {}) {
    return QStringLiteral("msg%1:%2").arg(message).arg(appended);
}

// The directory on loopback, and the client alone with the settings a station would give it.
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
        settings.directoryUrl = base();
        settings.radioName = QStringLiteral("MyRadio");
        settings.email = QStringLiteral("dj@example.org");
        settings.password = QStringLiteral("geheim");
        settings.passwordConfirm = QStringLiteral("geheim");
        settings.port = 7000;
        client = std::make_unique<DirectoryClient>(
            settings,
            DirectoryClient::Hooks{
                .trace = [this](const char* name) { traced = QString::fromLatin1(name); },
                .step = [](int) {},
                .show = [this](int n, const QString& appended) { messages.append(shown(n, appended)); },
                .noted = [this] { ++notes; },
                .guarded = [](const std::function<void()>& handler) { handler(); },
            });
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

    QStringList actions(std::size_t from = 0) const {
        QStringList out;
        const auto requests = server.requests();
        for (std::size_t i = from; i < requests.size(); ++i) {
            out.append(QString::fromLatin1(actionOf(requests[i])));
        }
        return out;
    }

    // The server's thread reads the answers: it must stop before they go.
    std::mutex answersMutex;
    std::map<QByteArray, QByteArray> answers;
    LocalHttpServer server;
    StationSettings settings;
    std::unique_ptr<DirectoryClient> client;
    QStringList messages;
    QString traced;
    int notes = 0;
};

TEST_F(DirectoryTest, EveryRequestUrlIsExactlyTheTypedValues) {
    settings.radioName = QStringLiteral("Rock#1");
    settings.password = QStringLiteral("p&w=%41");
    settings.passwordConfirm = QStringLiteral("p&w=%41");
    settings.email = QStringLiteral("a+b@c.de");
    const QString station = QStringLiteral("&nic=Rock#1&pass=p&w=%41&port=7000");
    const struct {
        const char* name;
        std::function<void()> run;
        QString target;
    } cases[] = {
        {"register", [&] { client->registerStation(); },
         QStringLiteral("/vdb/index.php?action=register") + station + QStringLiteral("&email=a+b@c.de")},
        {"delete", [&] { client->deleteStation(); },
         QStringLiteral("/vdb/index.php?action=delete") + station},
        {"setstatus", [&] { client->DBTimerTimer(); },
         QStringLiteral("/vdb/index.php?action=setstatus") + station},
        {"hoererupdate", [&] { client->reportListeners(12); },
         QStringLiteral("/vdb/index.php?action=hoererupdate&hoerer=12&radioname=Rock#1&passwort=p&w=%41")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = server.requestCount();
        const int notesBefore = notes;
        c.run();
        ASSERT_TRUE(requestsReach(before + 1));
        EXPECT_EQ(targets().back(), c.target);
        EXPECT_EQ(client->lastRequest().action, QString::fromLatin1(c.name));
        EXPECT_EQ(notes, notesBefore + 1);
        ASSERT_TRUE(vxtest::waitUntil([&] { return client->idle(); }));
    }
    // The status report is a handler of its own; registration is traced by the station's button handler.
    EXPECT_EQ(traced, QStringLiteral("DBTimerTimer"));
}

TEST_F(DirectoryTest, AnswersOfRegisterAndDeleteChooseTheMessage) {
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
        settings.directoryUrl =
            c.body.isNull() ? QStringLiteral("http://127.0.0.1:%1/vdb/").arg(LocalHttpServer::closedPort())
                            : base();
        answer(c.action, c.body);
        messages.clear();
        if (c.registration) {
            client->registerStation();
        } else {
            client->deleteStation();
        }
        EXPECT_EQ(messages, QStringList{shown(c.message, c.appended)});
    }
}

TEST_F(DirectoryTest, InputChecksRefuseWithMessage30AndSendNothing) {
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
        settings.radioName = c.radioName;
        settings.email = c.email;
        settings.password = c.pass1;
        settings.passwordConfirm = c.pass2;
        for (const char* action : {"register", "delete", "setstatus"}) {
            SCOPED_TRACE(action);
            const bool expectSent = QByteArray(action) == "setstatus" ? c.statusSent : c.registerSent;
            const int before = server.requestCount();
            messages.clear();
            client->startReports();
            if (QByteArray(action) == "register") {
                client->registerStation();
            } else if (QByteArray(action) == "delete") {
                client->deleteStation();
            } else {
                client->DBTimerTimer();
                // A report refused by the checks ends the reports until the next start.
                EXPECT_EQ(client->reportsRunning(), expectSent);
            }
            EXPECT_EQ(server.requestCount(), before + (expectSent ? 1 : 0));
            if (expectSent) {
                EXPECT_FALSE(messages.contains(shown(30)));
                EXPECT_EQ(actionOf(server.requests().back()), QByteArray(action));
            } else {
                EXPECT_EQ(messages, QStringList{shown(30)});
            }
        }
    }
    client->stopReports();
}

TEST_F(DirectoryTest, NameWithBlankGoesOutInTheStatusReport) {
    settings.radioName = QStringLiteral("My Radio");
    answer("setstatus", "E100");
    client->DBTimerTimer();
    ASSERT_EQ(server.requestCount(), 1);
    EXPECT_EQ(targets().back(),
              QStringLiteral("/vdb/index.php?action=setstatus&nic=My%20Radio&pass=geheim&port=7000"));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(DirectoryTest, StatusReportAcceptsOnlyE100) {
    const struct {
        QByteArray body;
        bool message;
    } cases[] = {{"E100", false}, {"E105", true}, {"e100", true}, {"E100 ", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body.toStdString());
        answer("setstatus", c.body);
        messages.clear();
        client->DBTimerTimer();
        EXPECT_EQ(messages, c.message ? QStringList{shown(38)} : QStringList{});
        EXPECT_EQ(client->lastRequest().result, QString::fromLatin1(c.body));
    }
}

TEST_F(DirectoryTest, DifferentPasswordsStopTheStatusReportsButNotTheListenerCount) {
    settings.passwordConfirm = QStringLiteral("anders");
    client->startReports();
    client->DBTimerTimer();
    EXPECT_FALSE(client->reportsRunning());
    EXPECT_EQ(messages, QStringList{shown(30)});
    EXPECT_EQ(server.requestCount(), 0);

    client->reportListeners(0);
    ASSERT_TRUE(requestsReach(1));
    EXPECT_EQ(
        targets().back(),
        QStringLiteral("/vdb/index.php?action=hoererupdate&hoerer=0&radioname=MyRadio&passwort=geheim"));
}

TEST_F(DirectoryTest, OffAirReportsSetoffThenListenerCountZero) {
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
        {"refused", "E100", QStringLiteral("geheim"), {shown(29)}, {"setoff", "hoererupdate"}},
        {"passwords differ", "E108", QStringLiteral("x"), {shown(30)}, {"hoererupdate"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        answer("setoff", c.setoffAnswer);
        settings.passwordConfirm = c.pass2;
        messages.clear();
        const int before = server.requestCount();
        client->DirectoryOffAir();
        ASSERT_TRUE(requestsReach(before + int(c.actions.size())));
        ASSERT_TRUE(vxtest::waitUntil([&] { return client->idle(); }));
        EXPECT_EQ(actions(std::size_t(before)), c.actions);
        EXPECT_TRUE(targets().back().endsWith(QStringLiteral("hoerer=0&radioname=MyRadio&passwort=geheim")));
        EXPECT_EQ(messages, c.messages);
    }
}

TEST_F(DirectoryTest, UnreachableDirectoryAtTheStopShowsMessage29) {
    settings.directoryUrl = QStringLiteral("http://127.0.0.1:%1/vdb/").arg(LocalHttpServer::closedPort());
    client->DirectoryOffAir();
    EXPECT_EQ(messages, QStringList{shown(29)});
    EXPECT_TRUE(vxtest::waitUntil([&] { return client->idle(); }));
}

TEST_F(DirectoryTest, OfflineModeSendsOnlyTheListenerCount) {
    settings.offline = true;
    client->startReports();
    client->registerStation();
    client->deleteStation();
    client->DBTimerTimer();
    client->DirectoryOffAir();
    EXPECT_TRUE(client->reportsRunning());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_TRUE(client->idle());
    client->stopReports();

    client->reportListeners(3);
    ASSERT_TRUE(requestsReach(1));
    EXPECT_EQ(actionOf(server.requests().back()), "hoererupdate");
}

TEST_F(DirectoryTest, TheReportTimerSendsTheStatusReport) {
    answer("setstatus", "E100");
    client->setReportInterval(1);
    client->startReports();
    ASSERT_TRUE(requestsReach(1));
    client->stopReports();
    EXPECT_EQ(actionOf(server.requests().front()), "setstatus");
}

// No code the directory sends comes near 64 KiB: a longer answer is a failed request.
TEST_F(DirectoryTest, AnswerBeyond64KiBIsAFailedRequest) {
    const QByteArray longest(64 * 1024, 'E');
    answer("register", longest);
    client->registerStation();
    answer("register", longest + "1");
    client->registerStation();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0] == shown(37, QString::fromLatin1(longest)));
    EXPECT_EQ(messages[1].toStdString(), shown(37, QStringLiteral("Error")).toStdString());
}

// A directory that trickles its answer, or never answers, holds a report no longer than its deadline:
// the status report has its own, the stop's off-air report a shorter one.
TEST_F(DirectoryTest, SlowDirectoryEndsEachReportAtItsDeadline) {
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
        {"status report", 200, 600000, [&] { client->DBTimerTimer(); }, 38},
        {"off-air report", 600000, 200, [&] { client->DirectoryOffAir(); }, 29},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        client->setDeadlines(c.status, c.offAir);
        messages.clear();
        bool missed = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            missed = true;
            client->abortRequest();
        });
        watchdog.start(10000);
        c.report();
        EXPECT_FALSE(missed) << "the request outlived its deadline";
        EXPECT_EQ(messages, QStringList{shown(c.message)});
    }
}

// A directory that does not answer the status report holds no event loop: the minute report keeps
// going out during the wait, and a second status report returns at once with the earlier answer.
TEST_F(DirectoryTest, SilentDirectoryDoesNotHoldTheEventLoop) {
    answer("setstatus", "E100");
    client->DBTimerTimer();
    ASSERT_TRUE(messages.isEmpty());

    answer("setstatus", QByteArray());  // silent from now on
    int counts = 0;
    int nestedMessages = -1;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        client->reportListeners(0);
        counts = int(actions().count(QStringLiteral("hoererupdate")));
        if (counts >= 3 && nestedMessages < 0) {
            client->DBTimerTimer();  // judged by the earlier "E100": no message
            nestedMessages = int(messages.size());
            client->abortRequest();
        }
    });
    ticker.start();
    client->DBTimerTimer();
    ticker.stop();
    EXPECT_GE(counts, 3);
    EXPECT_EQ(nestedMessages, 0);
    EXPECT_EQ(messages, QStringList{shown(38)});  // the aborted report failed
}

// The station around its client: the window-less station started up as a front end starts it.
class StationDirectoryTest : public DirectoryTest {
protected:
    void makeStation() {
        station = std::make_unique<vxtest::CoreStation>(std::make_shared<vx::wavein::SimulatedWaveIn>(),
                                                        nullptr, base());
        station->station().editSettings([](StationSettings& s) {
            s.password = QStringLiteral("geheim");
            s.passwordConfirm = QStringLiteral("geheim");
        });
        station->dialogs.messages.clear();
    }
    std::unique_ptr<vxtest::CoreStation> station;
};

// A stop while the start's status report is on its way: the off-air report goes after it, and the last
// request noted is the off-air report's.
TEST_F(StationDirectoryTest, AStopDuringTheStartsStatusReportSendsTheOffAirReportAfterIt) {
    makeStation();
    Station& st = station->station();
    answer("setstatus", "E100");
    answer("setoff", "E108");
    answer("hoererupdate", "");
    server.trickle(5);  // the status report's answer takes a quarter of a second
    QTimer stop;
    stop.setInterval(5);
    QObject::connect(&stop, &QTimer::timeout, [&] {
        if (server.requestCount() >= 1) {
            stop.stop();
            st.Stop();
        }
    });
    stop.start();
    station->start();
    EXPECT_EQ(st.state(), StationState::Stopped);
    ASSERT_TRUE(requestsReach(3));
    ASSERT_TRUE(vxtest::waitUntil([&] { return StationProbe(st).directory().idle(); }));
    EXPECT_EQ(actions(), (QStringList{"setstatus", "setoff", "hoererupdate"}));
    EXPECT_EQ(station->dialogs.messages, QStringList());
    EXPECT_FALSE(StationProbe(st).directory().reportsRunning());
    EXPECT_EQ(st.status()->lastDirectoryRequest.action, QStringLiteral("setoff"));
    EXPECT_EQ(st.status()->lastDirectoryRequest.result, QStringLiteral("E108"));
}

// "Ende" with no broadcast still tells the directory the station is off the air, with no listener.
TEST_F(StationDirectoryTest, EndeWhileStoppedSendsTheOffAirReportAndTheCountZero) {
    makeStation();
    answer("setoff", "E108");
    answer("hoererupdate", "");
    bool ended = false;
    StationProbe(station->station()).EndProcess = [&] { ended = true; };
    station->station().End();
    EXPECT_TRUE(ended);
    ASSERT_TRUE(requestsReach(2));
    EXPECT_EQ(actions(), (QStringList{"setoff", "hoererupdate"}));
    EXPECT_TRUE(targets().back().contains(QStringLiteral("hoerer=0")));
}

// The statistics tick samples the count for the graph and sends the same count to the directory.
TEST_F(StationDirectoryTest, TheStatisticsTickSendsTheCountItSamples) {
    makeStation();
    Station& st = station->station();
    StationProbe(st).MaxUser = 5;
    std::vector<std::pair<int, int>> samples;
    QObject::connect(&st, &Station::statsSample,
                     [&](int maximum, int listeners) { samples.emplace_back(maximum, listeners); });
    StationProbe(st).StatsTimerTimer();
    ASSERT_TRUE(requestsReach(1));
    EXPECT_EQ(actions(), QStringList{"hoererupdate"});
    EXPECT_EQ(samples, (std::vector<std::pair<int, int>>{{5, 0}}));
    EXPECT_EQ(st.status()->lastDirectoryRequest.action, QStringLiteral("hoererupdate"));
    EXPECT_EQ(st.status()->history, std::vector<int>{0});
}

}  // namespace
