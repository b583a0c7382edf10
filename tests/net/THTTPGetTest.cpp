// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/THTTPGet.h"

#include "support/LocalHttpServer.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

using vxtest::LocalHttpServer;

class HttpGetTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The requests go to loopback; a proxy from the environment would swallow them.
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
            qunsetenv(name);
        }
        http.Agent = QStringLiteral("KTVandorixv30");
        http.AcceptTypes = QStringLiteral("*/*");
    }

    QString url(const QString& path) const { return server.origin() + path; }

    LocalHttpServer server;
    THTTPGet http;
};

TEST_F(HttpGetTest, RequestLineAndHeadersAreThoseOfTheDirectoryClient) {
    server.answerWith("E100");
    http.URL = url(QStringLiteral("/dir/index.php?a=1&b=x#y"));
    EXPECT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("E100"));

    ASSERT_EQ(server.requestCount(), 1);
    const LocalHttpServer::Request r = server.requests().front();
    EXPECT_EQ(r.requestLine, "GET /dir/index.php?a=1&b=x#y HTTP/1.0");
    EXPECT_EQ(r.header("Host"), "127.0.0.1:" + QByteArray::number(server.port()));
    EXPECT_EQ(r.header("User-Agent"), "KTVandorixv30");
    EXPECT_EQ(r.header("Accept"), "*/*");
    EXPECT_EQ(r.header("Pragma"), "no-cache");
    EXPECT_FALSE(r.hasHeader("Content-Type"));
    EXPECT_FALSE(r.hasHeader("Referer"));
    EXPECT_FALSE(r.hasHeader("Authorization"));
    EXPECT_TRUE(r.body.isEmpty());
}

// The same request however the scheme is written; a blank in a typed value must not break the request
// line, everything else goes out as typed.
TEST_F(HttpGetTest, UrlIsSplitIntoHostAndVerbatimTarget) {
    struct Case {
        QString url;
        QByteArray target;
    };
    const QString host = QStringLiteral("127.0.0.1:%1").arg(server.port());
    const Case cases[] = {
        {QStringLiteral("http://") + host + QStringLiteral("/dir/index.php?a=1"), "/dir/index.php?a=1"},
        {QStringLiteral("HTTP://") + host + QStringLiteral("/dir/index.php?a=1"), "/dir/index.php?a=1"},
        {host + QStringLiteral("/x"), "/x"},
        {QStringLiteral("http://") + host + QStringLiteral("/?nic=My Radio&pass=a%b"),
         "/?nic=My%20Radio&pass=a%b"},
        {QStringLiteral("http://") + host + QStringLiteral("/?nic=Hörer"), "/?nic=H%F6rer"},
    };
    server.answerWith("ok");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        const int before = server.requestCount();
        http.URL = c.url;
        EXPECT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("ok"));
        ASSERT_EQ(server.requestCount(), before + 1);
        EXPECT_EQ(server.requests().back().target(), c.target);
    }
}

TEST_F(HttpGetTest, UrlsWithoutUsableHostFailWithoutRequest) {
    const QString bad[] = {
        QStringLiteral("index.php?action=register"),                      // no "/" at all
        QStringLiteral("http:///index.php"),                              // empty host
        QStringLiteral("http://user@127.0.0.1:%1/x").arg(server.port()),  // not a plain host
        QStringLiteral("http://127.0.0.1:99999/x"),                       // port out of range
        QStringLiteral("http://127.0.0.1:abc/x"),
    };
    for (const QString& u : bad) {
        SCOPED_TRACE(u.toStdString());
        http.URL = u;
        EXPECT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("Error"));
    }
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(HttpGetTest, OptionalHeadersFollowTheProperties) {
    server.answerWith("ok");
    http.UseCache = true;
    http.Referer = QStringLiteral("http://station/");
    http.UserName = QStringLiteral("user");
    http.Password = QStringLiteral("secret");
    http.Agent.clear();
    http.AcceptTypes = QStringLiteral("text/plain");
    http.URL = url(QStringLiteral("/a"));
    ASSERT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("ok"));
    const LocalHttpServer::Request r = server.requests().back();
    EXPECT_FALSE(r.hasHeader("Pragma"));
    EXPECT_FALSE(r.hasHeader("Cache-Control"));
    EXPECT_FALSE(r.hasHeader("User-Agent"));
    EXPECT_EQ(r.header("Accept"), "text/plain");
    EXPECT_EQ(r.header("Referer"), "http://station/");
    EXPECT_EQ(r.header("Authorization"), "Basic " + QByteArray("user:secret").toBase64());
}

TEST_F(HttpGetTest, PostQueryTurnsTheRequestIntoAFormPost) {
    server.answerWith("posted");
    http.PostQuery = QStringLiteral("nic=a&pass=b");
    http.URL = url(QStringLiteral("/form.php"));
    ASSERT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("posted"));
    const LocalHttpServer::Request r = server.requests().back();
    EXPECT_EQ(r.requestLine, "POST /form.php HTTP/1.0");
    EXPECT_EQ(r.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(r.body, "nic=a&pass=b");
}

// Success is at least one body byte; the status code does not matter.
TEST_F(HttpGetTest, AnswerIsJudgedByItsBodyOnly) {
    struct Case {
        const char* name;
        QByteArray response;
        bool binary;
        QString expected;
    };
    const Case cases[] = {
        {"empty body", LocalHttpServer::response(""), false, QStringLiteral("Fail")},
        {"error page", LocalHttpServer::response("not here", "HTTP/1.0 404 Not Found"), false,
         QStringLiteral("not here")},
        {"no length", LocalHttpServer::response("E105", "HTTP/1.0 200 OK", false), false,
         QStringLiteral("E105")},
        {"binary without length", LocalHttpServer::response("data", "HTTP/1.0 200 OK", false), true,
         QStringLiteral("Fail")},
        {"binary with length", LocalHttpServer::response("data"), true, QStringLiteral("data")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.setHandler(
            [&c](const LocalHttpServer::Request&) { return std::optional<QByteArray>(c.response); });
        http.BinaryData = c.binary;
        http.URL = url(QStringLiteral("/x"));
        EXPECT_EQ(http.FetchText(QStringLiteral("Fail")), c.expected);
    }
}

TEST_F(HttpGetTest, RedirectIsFollowedToTheNewPlace) {
    server.setHandler([this](const LocalHttpServer::Request& r) -> std::optional<QByteArray> {
        if (r.target() == "/old") {
            return QByteArray("HTTP/1.0 302 Found\r\nLocation: ") + url(QStringLiteral("/new")).toLatin1() +
                   "\r\nContent-Length: 5\r\n\r\nmoved";
        }
        return LocalHttpServer::response("here");
    });
    http.URL = url(QStringLiteral("/old"));
    EXPECT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("here"));
    ASSERT_EQ(server.requestCount(), 2);
    EXPECT_EQ(server.requests()[1].target(), "/new");
}

TEST_F(HttpGetTest, ProgressReportsTheAnnouncedLengthAndTheBytesReadOnTheWindowThread) {
    const QByteArray body(100000, 'x');
    server.answerWith(body);
    int64_t lastTotal = -1;
    int64_t lastCount = -1;
    bool growing = true;
    bool windowThread = true;
    http.OnProgress = [&](THTTPGet*, int64_t total, int64_t count) {
        growing = growing && count > lastCount;
        windowThread = windowThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        lastTotal = total;
        lastCount = count;
    };
    http.URL = url(QStringLiteral("/big"));
    EXPECT_EQ(http.FetchText(QStringLiteral("Error")).size(), body.size());
    EXPECT_EQ(lastTotal, body.size());
    EXPECT_EQ(lastCount, body.size());
    EXPECT_TRUE(growing);
    EXPECT_TRUE(windowThread);
}

// An answer beyond the bound fails, and reading stops at the bound: an endless body without a length
// costs no more memory than that.
TEST_F(HttpGetTest, AnswerBeyondTheBoundFailsAndIsNotReadFurther) {
    http.MaxAnswerBytes = 1000;
    int64_t mostRead = 0;
    http.OnProgress = [&](THTTPGet*, int64_t, int64_t count) { mostRead = std::max(mostRead, count); };
    const struct {
        const char* name;
        QByteArray response;
        QString expected;
    } cases[] = {
        {"at the bound", LocalHttpServer::response(QByteArray(1000, 'x')), QString(1000, QLatin1Char('x'))},
        {"announced beyond", LocalHttpServer::response(QByteArray(1001, 'x')), QStringLiteral("Error")},
        {"endless, no length", LocalHttpServer::response(QByteArray(32 << 20, 'x'), "HTTP/1.0 200 OK", false),
         QStringLiteral("Error")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.setHandler(
            [&c](const LocalHttpServer::Request&) { return std::optional<QByteArray>(c.response); });
        http.URL = url(QStringLiteral("/big"));
        EXPECT_EQ(http.FetchText(QStringLiteral("Error")).toStdString(), c.expected.toStdString());
        EXPECT_LE(mostRead, 1000);
    }
}

TEST_F(HttpGetTest, UnreachableHostYieldsTheFailureText) {
    http.URL = QStringLiteral("http://127.0.0.1:%1/index.php").arg(LocalHttpServer::closedPort());
    EXPECT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("Error"));
    EXPECT_FALSE(http.Running());
}

TEST_F(HttpGetTest, AnswerOfARequestThatDoesNotWaitArrivesOnTheWindowThread) {
    server.answerWith("E106");
    QString result;
    QThread* thread = nullptr;
    http.OnDoneString = [&](THTTPGet* sender, const QString& text) {
        EXPECT_EQ(sender, &http);
        result = text;
        thread = QThread::currentThread();
    };
    http.URL = url(QStringLiteral("/x"));
    http.StartRequest();
    EXPECT_TRUE(http.Running());
    ASSERT_TRUE(vxtest::waitUntil([&] { return !http.Running(); }));
    EXPECT_EQ(result, QStringLiteral("E106"));
    EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    EXPECT_EQ(http.ResultString(), QStringLiteral("E106"));
}

TEST_F(HttpGetTest, FailedRequestWithoutFetchTextLeavesAnEmptyResultAndRaisesOnError) {
    int errors = 0;
    http.OnError = [&](THTTPGet*) { ++errors; };
    http.URL = QStringLiteral("http://127.0.0.1:%1/x").arg(LocalHttpServer::closedPort());
    http.StartRequest();
    ASSERT_TRUE(vxtest::waitUntil([&] { return !http.Running(); }));
    EXPECT_EQ(errors, 1);
    EXPECT_TRUE(http.ResultString().isEmpty());
}

// A silent server must not freeze the window: timers keep firing during the wait, and the abort ends it.
TEST_F(HttpGetTest, WaitingForASilentServerKeepsTimersRunningUntilAbort) {
    server.setHandler([](const LocalHttpServer::Request&) { return std::optional<QByteArray>(); });
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++ticks == 5) {
            http.AbortRequest();
        }
    });
    timer.start();
    http.URL = url(QStringLiteral("/silent"));
    EXPECT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("Error"));
    EXPECT_GE(ticks, 5);
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_FALSE(http.Running());
}

TEST_F(HttpGetTest, SecondFetchWhileTheFirstWaitsReturnsTheEarlierAnswerAtOnce) {
    server.answerWith("first");
    http.URL = url(QStringLiteral("/one"));
    ASSERT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("first"));

    server.setHandler([](const LocalHttpServer::Request&) { return std::optional<QByteArray>(); });
    QString nested;
    bool stillRunning = false;
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(vxtest::waitUntil([&] { return server.requestCount() == 2; }));
        http.URL = url(QStringLiteral("/three"));
        nested = http.FetchText(QStringLiteral("Nested"));
        stillRunning = http.Running();
        http.AbortRequest();
    });
    http.URL = url(QStringLiteral("/two"));
    EXPECT_EQ(http.FetchText(QStringLiteral("Error")), QStringLiteral("Nested"));  // aborted; latest text
    EXPECT_EQ(nested, QStringLiteral("first"));
    EXPECT_TRUE(stillRunning);
    EXPECT_EQ(server.requestCount(), 2);  // the nested request was dropped, not queued
}

TEST_F(HttpGetTest, DestroyingTheComponentDuringARequestEndsItQuietly) {
    server.setHandler([](const LocalHttpServer::Request&) { return std::optional<QByteArray>(); });
    int events = 0;
    {
        THTTPGet doomed;
        doomed.OnError = [&](THTTPGet*) { ++events; };
        doomed.OnDoneString = [&](THTTPGet*, const QString&) { ++events; };
        doomed.URL = url(QStringLiteral("/x"));
        doomed.StartRequest();
        ASSERT_TRUE(vxtest::waitUntil([&] { return server.requestCount() == 1; }));
    }
    // The server sees the connection go away; no event of the destroyed component arrives.
    ASSERT_TRUE(vxtest::waitUntil([&] { return server.openConnections() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(events, 0);
}

TEST_F(HttpGetTest, DestroyingTheComponentInsideItsOwnWaitReleasesTheCaller) {
    server.setHandler([](const LocalHttpServer::Request&) { return std::optional<QByteArray>(); });
    auto doomed = std::make_unique<THTTPGet>();
    doomed->URL = url(QStringLiteral("/x"));
    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(vxtest::waitUntil([&] { return server.requestCount() == 1; }));
        doomed.reset();
    });
    EXPECT_EQ(doomed->FetchText(QStringLiteral("Gone")), QStringLiteral("Gone"));
    EXPECT_EQ(doomed, nullptr);
}

}  // namespace
