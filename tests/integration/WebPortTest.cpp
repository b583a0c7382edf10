// SPDX-License-Identifier: GPL-3.0-or-later
// The web port of a running station process (tone source): real players and a real browser where the
// machine has them, a metadata client that checks every block at its offset, the limit it shares with
// the listener port, and what hostile or mistaken requests get.
#include "StationHarness.h"
#include "audio/MpegFrames.h"
#include "support/StationProcess.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <netinet/in.h>
#include <sys/socket.h>

using vxtest::LoopbackPeer;

namespace {

constexpr int kMetaInt = 16000;

// A headless station process with the demo settings, its web port on `webListen` (%1 is the port).
struct WebStation : vxtest::StationProcess {
    explicit WebStation(const QString& webListen = QStringLiteral("127.0.0.1:%1"),
                        const QStringList& more = {}, int webPortToUse = vxtest::freeTcpPort())
        : StationProcess(
              QStringLiteral("tone"),
              QStringList{QStringLiteral("--info"), QStringLiteral("First title"),
                          QStringLiteral("--web-listen"),
                          webListen.contains(QLatin1String("%1")) ? webListen.arg(webPortToUse) : webListen} +
                  more),
          webPort(webPortToUse) {}
    // Waits until the station answers on its web port, then starts the broadcast.
    bool start();

    int webPort;
};

// A blocking client with a deadline on every read: the station is another process.
class Client {
public:
    explicit Client(int port, bool v6 = false) {
        fd_ = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (v6) {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_addr = in6addr_loopback;
            a.sin6_port = htons(uint16_t(port));
            connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        } else {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(uint16_t(port));
            connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        }
    }
    ~Client() { ::close(fd_); }
    bool connected() const { return connected_; }
    bool send(const QByteArray& bytes) {
        return ::send(fd_, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }
    // Reads until `count` bytes are buffered; false at the end or after the deadline.
    bool fill(qsizetype count) {
        char chunk[65536];
        while (buffer_.size() < count) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return false;
            }
            buffer_.append(chunk, n);
        }
        return true;
    }
    QByteArray take(qsizetype count) {
        if (!fill(count)) {
            return {};
        }
        const QByteArray out = buffer_.left(count);
        buffer_.remove(0, count);
        return out;
    }
    QByteArray head() {
        char chunk[4096];
        while (!buffer_.contains("\r\n\r\n")) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return {};
            }
            buffer_.append(chunk, n);
        }
        return take(buffer_.indexOf("\r\n\r\n") + 4);
    }
    void drop() { buffer_.clear(); }
    // Nothing has arrived, not even the station's close.
    bool silent() const {
        char c;
        return ::recv(fd_, &c, 1, MSG_DONTWAIT | MSG_PEEK) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    QByteArray untilClose() {
        fill(std::numeric_limits<qsizetype>::max());
        return std::exchange(buffer_, {});
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    QByteArray buffer_;
};

QByteArray request(int port, const QByteArray& bytes, bool v6 = false) {
    Client c(port, v6);
    if (!c.connected() || !c.send(bytes)) {
        return {};
    }
    return c.untilClose();
}

QByteArray get(int port, const QByteArray& path, const QByteArray& method = "GET") {
    return request(port, method + ' ' + path + " HTTP/1.1\r\nHost: radio.test:8000\r\n\r\n");
}

int statusOf(const QByteArray& answer) {
    return answer.mid(9, 3).toInt();
}

QByteArray bodyOf(const QByteArray& answer) {
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

bool WebStation::start() {
    if (!vxtest::waitUntil([&] { return statusOf(get(webPort, "/now.json")) == 200; }, 20000)) {
        return false;
    }
    return ctl({QStringLiteral("Start")}) == 0 &&
           vxtest::waitUntil([&] { return statusOf(get(webPort, "/stream", "HEAD")) == 200; }, 20000);
}

// One metadata interval: the audio, then the block. The block must be empty or a whole StreamTitle
// field padded with zeros; its title is returned ("" for an empty block), or null on a broken block.
std::optional<QString> readInterval(Client& c, QByteArray& audio) {
    audio += c.take(kMetaInt);
    const QByteArray length = c.take(1);
    if (length.size() != 1) {
        return std::nullopt;
    }
    const QByteArray block = c.take(uchar(length[0]) * 16);
    if (block.isEmpty()) {
        return QString();
    }
    static const QByteArray kStart = "StreamTitle='";
    const qsizetype end = block.indexOf("';");
    if (!block.startsWith(kStart) || end < 0 || block.mid(end + 2).count('\0') != block.size() - end - 2) {
        return std::nullopt;
    }
    return QString::fromUtf8(block.mid(kStart.size(), end - kStart.size()));
}

// The stream for every player: a metadata client reads every block where it belongs over more than
// three intervals and sees the title that `vandorixctl info` set; the audio is MPEG from a frame start;
// a client without metadata gets the very bytes an ICY listener of the listener port gets; the page,
// now.json and the playlists say what plays; both ports share one listener list.
TEST(WebPort, StreamWithTitleForEveryPlayerBesideTheListenerPort) {
    WebStation station;
    ASSERT_TRUE(station.start()) << station.output().toStdString();

    Client meta(station.webPort);
    ASSERT_TRUE(meta.send(
        "GET /stream HTTP/1.1\r\nHost: x\r\nUser-Agent: MetaPlayer/1.0\r\nIcy-MetaData: 1\r\n\r\n"));
    const QByteArray head = meta.head();
    for (const char* field : {"HTTP/1.1 200 OK\r\n", "Content-Type: audio/mpeg\r\n", "icy-metaint: 16000\r\n",
                              "icy-name: Demoradio\r\n", "Access-Control-Allow-Origin: *\r\n",
                              "Cache-Control: no-cache, no-store\r\n", "icy-pub: 0\r\n"}) {
        EXPECT_TRUE(head.contains(field)) << field << " missing in " << head.toStdString();
    }
    EXPECT_FALSE(head.contains("Content-Length")) << head.toStdString();
    QByteArray audio;
    std::optional<QString> title = readInterval(meta, audio);
    ASSERT_TRUE(title.has_value());
    EXPECT_EQ(*title, QStringLiteral("First title"));
    EXPECT_EQ(mpeg::firstFrameStart(audio.constData(), int(audio.size())), 0) << "no frame at the start";

    // The ICY listener starts at the next block; the plain web client has the burst before it.
    LoopbackPeer icy(station.listenerPort);
    ASSERT_TRUE(icy.write("GET / HTTP/1.0\r\n\r\n"));
    Client plain(station.webPort);
    ASSERT_TRUE(plain.send("GET /stream.mp3 HTTP/1.0\r\nUser-Agent: PlainPlayer\r\n\r\n"));
    EXPECT_FALSE(plain.head().contains("icy-metaint"));

    const QString newTitle = QStringLiteral("Zweiter Titel: Grüße, 'zitiert'");
    ASSERT_EQ(station.ctl({QStringLiteral("info"), newTitle}), 0);
    int intervals = 1;
    const QString expected = QStringLiteral("Zweiter Titel: Grüße, ’zitiert’");
    for (; intervals < 8; ++intervals) {
        title = readInterval(meta, audio);
        ASSERT_TRUE(title.has_value()) << "a broken metadata block after interval " << intervals;
        if (*title == expected) {
            break;
        }
        EXPECT_TRUE(title->isEmpty()) << "an unchanged title is sent again: " << title->toStdString();
    }
    EXPECT_LT(intervals, 8) << "the new title never came";
    // And the interval after it says that nothing changed: the title went once.
    title = readInterval(meta, audio);
    ASSERT_TRUE(title.has_value());
    EXPECT_TRUE(title->isEmpty()) << title->toStdString();
    EXPECT_GE(intervals + 2, 3);

    // What the ICY listener got after its reply, the plain web client got too, byte for byte.
    ASSERT_TRUE(icy.waitForBytes(12000, 20000));
    const QByteArray icyAll = icy.received();
    // The listener port's ICY reply ends with three line ends.
    const QByteArray icyAudio = icyAll.mid(icyAll.indexOf("\r\n\r\n\r\n") + 6, 8000);
    ASSERT_EQ(icyAudio.size(), 8000);
    ASSERT_TRUE(plain.fill(64 * 1024 + 16000));
    const QByteArray webAudio = plain.take(64 * 1024 + 16000);
    EXPECT_GE(webAudio.indexOf(icyAudio), 0) << "the listener port's audio is not in the web stream";

    // Both listeners of the web port are listeners: the list, "Liste" and status.json say so.
    ASSERT_TRUE(vxtest::waitUntil(
        [&] {
            const QJsonObject now =
                QJsonDocument::fromJson(bodyOf(get(station.webPort, "/now.json"))).object();
            return now[QStringLiteral("listeners")].toInt() == 3;
        },
        20000));
    const QJsonObject now = QJsonDocument::fromJson(bodyOf(get(station.webPort, "/now.json"))).object();
    EXPECT_EQ(now[QStringLiteral("info_text")].toString(), newTitle);
    EXPECT_EQ(now[QStringLiteral("radio_name")].toString(), QStringLiteral("Demoradio"));
    EXPECT_TRUE(now[QStringLiteral("on_air")].toBool());
    EXPECT_EQ(now[QStringLiteral("stream_url")].toString(), QStringLiteral("http://radio.test:8000/stream"));
    QByteArray list;
    ASSERT_EQ(station.ctl({QStringLiteral("Liste")}, &list), 0);
    EXPECT_EQ(list.count("127.0.0.1\n"), 3) << list.toStdString();
    // The status port answers only for its own names.
    const QByteArray status =
        bodyOf(request(station.statusPort, "GET /status.json HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    const QJsonArray clients = QJsonDocument::fromJson(status)["listeners"]["clients"].toArray();
    QStringList seen;
    for (const auto& c : clients) {
        seen << c[QStringLiteral("program")].toString() + '@' + c[QStringLiteral("via")].toString();
    }
    EXPECT_TRUE(seen.contains(QStringLiteral("MetaPlayer/1.0@web"))) << seen.join(' ').toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("PlainPlayer@web"))) << seen.join(' ').toStdString();

    const QByteArray m3u = get(station.webPort, "/listen.m3u");
    EXPECT_TRUE(m3u.contains("Content-Type: audio/x-mpegurl")) << m3u.toStdString();
    EXPECT_TRUE(bodyOf(m3u).contains("\nhttp://radio.test:8000/stream\n")) << m3u.toStdString();
    const QByteArray pls = get(station.webPort, "/listen.pls");
    EXPECT_TRUE(pls.contains("Content-Type: audio/x-scpls")) << pls.toStdString();
    EXPECT_TRUE(bodyOf(pls).contains("File1=http://radio.test:8000/stream\n")) << pls.toStdString();
    const QByteArray page = get(station.webPort, "/");
    EXPECT_TRUE(page.contains("Content-Type: text/html")) << page.left(300).toStdString();
    EXPECT_TRUE(page.contains("Zweiter Titel: Grüße, 'zitiert'")) << page.toStdString();
    EXPECT_FALSE(page.contains("127.0.0.1")) << "the page shows a listener's address";

    // The listener port keeps its own answer to an HTTP/1.1 request: the info page, then the end.
    const QByteArray info = request(station.listenerPort, "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_TRUE(info.startsWith("HTTP/1.0 200 OK")) << info.left(200).toStdString();
    EXPECT_FALSE(info.contains("audio/mpeg"));
}

// Mistakes and hostile use get their answers and change nothing else; off the air and full get 503;
// the one listener limit counts both ports.
TEST(WebPort, RefusalsAndTheSharedLimit) {
    WebStation station(QStringLiteral("127.0.0.1:%1"), {QStringLiteral("--upload"), QStringLiteral("18"),
                                                        QStringLiteral("--limit"), QStringLiteral("on")});
    ASSERT_TRUE(vxtest::waitUntil([&] { return statusOf(get(station.webPort, "/now.json")) == 200; }, 20000))
        << station.output().toStdString();
    const QByteArray offAir = get(station.webPort, "/stream");
    EXPECT_EQ(statusOf(offAir), 503);
    EXPECT_TRUE(offAir.contains("Retry-After: ")) << offAir.toStdString();
    EXPECT_TRUE(bodyOf(offAir).contains("off the air")) << offAir.toStdString();
    EXPECT_EQ(statusOf(get(station.webPort, "/stream", "POST")), 405);
    EXPECT_TRUE(get(station.webPort, "/", "DELETE").contains("Allow: GET, HEAD\r\n"));
    EXPECT_EQ(statusOf(get(station.webPort, "/admin")), 404);
    EXPECT_EQ(
        statusOf(request(station.webPort, "GET / HTTP/1.1\r\nX-Big: " + QByteArray(9000, 'a') + "\r\n\r\n")),
        431);
    const QByteArray headOnly = get(station.webPort, "/now.json", "HEAD");
    EXPECT_EQ(statusOf(headOnly), 200);
    EXPECT_TRUE(bodyOf(headOnly).isEmpty());

    ASSERT_TRUE(station.start()) << station.output().toStdString();
    // 18 kbit/s upload carries one listener of the 18 kbit/s stream: a web listener takes the place...
    Client web(station.webPort);
    ASSERT_TRUE(web.send("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(web.head().startsWith("HTTP/1.1 200 OK"));
    ASSERT_TRUE(vxtest::waitUntil(
        [&] {
            QByteArray list;
            return station.ctl({QStringLiteral("Liste")}, &list) == 0 && list == "127.0.0.1\n";
        },
        20000));
    const QByteArray full = get(station.webPort, "/stream");
    EXPECT_EQ(statusOf(full), 503);
    EXPECT_TRUE(bodyOf(full).contains("full")) << full.toStdString();
    // ...and the listener port turns the next one away as full, as it turns away its own.
    LoopbackPeer icy(station.listenerPort);
    ASSERT_TRUE(icy.write("GET / HTTP/1.0\r\n\r\n"));
    EXPECT_TRUE(icy.waitForClose(20000));
    EXPECT_FALSE(icy.received().contains("icy-name:Demoradio\r\n")) << icy.received().toStdString();

    // Idle peers: one address holds at most 64 connections that are no listeners; the next is closed
    // at once, and the listener's stream goes on.
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 64; ++i) {
        idle.push_back(std::make_unique<Client>(station.webPort));
    }
    ASSERT_EQ(statusOf(get(station.webPort, "/now.json")), 0) << "a 65th waiting connection was kept";
    idle.clear();
    web.drop();
    EXPECT_TRUE(web.fill(4500)) << "the listener's stream stopped";
    EXPECT_TRUE(vxtest::waitUntil([&] { return statusOf(get(station.webPort, "/now.json")) == 200; }));

    // A request whose head has not ended is no listener yet: the blocks pass it by.
    Client halfway(station.webPort);
    ASSERT_TRUE(halfway.send("GET /stream HTTP/1.1\r\nHost: x\r\n"));
    web.drop();
    ASSERT_TRUE(web.fill(4500));
    EXPECT_TRUE(halfway.silent());
}

// Every address means IPv6 and IPv4; "off" opens nothing; a port in use is reported once and the
// station runs on without it.
TEST(WebPort, DualStackOffAndAPortInUse) {
    WebStation station(QStringLiteral("[::]:%1"));
    ASSERT_TRUE(station.start()) << station.output().toStdString();
    Client v6Listener(station.webPort, true);
    ASSERT_TRUE(v6Listener.send("GET /stream HTTP/1.0\r\n\r\n"));
    ASSERT_TRUE(v6Listener.head().startsWith("HTTP/1.1 200 OK"));
    ASSERT_TRUE(vxtest::waitUntil(
        [&] {
            QByteArray list;
            return station.ctl({QStringLiteral("Liste")}, &list) == 0 && list == "::1\n";
        },
        20000));
    EXPECT_EQ(statusOf(get(station.webPort, "/now.json")), 200) << "IPv4 peers are not taken";

    WebStation taken(QStringLiteral("127.0.0.1:") + QString::number(station.webPort));
    const QByteArray refused =
        QStringLiteral("Web port %1: address already in use (127.0.0.1:%1); the station runs without it")
            .arg(station.webPort)
            .toUtf8();
    EXPECT_TRUE(vxtest::waitUntil([&] { return taken.output().contains(refused); }, 20000))
        << taken.output().toStdString();
    EXPECT_TRUE(vxtest::waitUntil([&] { return taken.ctl({QStringLiteral("Liste")}) == 0; }, 20000))
        << "the station did not run on";
    EXPECT_EQ(taken.output().count(refused), 1);

    WebStation off(QStringLiteral("off"));
    ASSERT_EQ(vxtest::waitUntil([&] { return off.ctl({QStringLiteral("Liste")}) == 0; }, 20000), true);
    EXPECT_FALSE(Client(off.webPort).connected());
}

}  // namespace

namespace {

QString program(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

// Real players against the stream: ffmpeg decodes it to the tone; mpv (or GStreamer) shows the title
// that the metadata carries; Chromium plays the page's stream within 3 s of the press and follows the
// title. Each is skipped, saying so, where the machine lacks it.
class WebPlayers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(station.start()) << station.output().toStdString(); }
    QString streamUrl() const { return QStringLiteral("http://127.0.0.1:%1/stream").arg(station.webPort); }
    WebStation station;
};

TEST_F(WebPlayers, FfmpegDecodesTheTone) {
    const QString ffmpeg = program("ffmpeg");
    if (ffmpeg.isEmpty()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    vxtest::ChildProcess decode(
        ffmpeg, {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-t"), QStringLiteral("2"),
                 QStringLiteral("-i"), streamUrl(), QStringLiteral("-f"), QStringLiteral("s16le"),
                 QStringLiteral("-ac"), QStringLiteral("1"), QStringLiteral("-ar"), QStringLiteral("8000"),
                 QStringLiteral("-")});
    ASSERT_TRUE(decode.waitForFinished(60000));
    EXPECT_EQ(decode.exitCode(), 0);
    const QByteArray pcm = decode.output();
    ASSERT_GE(pcm.size(), 8000 * 2);
    // The tone's sign changes: a steady sine, not silence or noise.
    const auto* samples = reinterpret_cast<const int16_t*>(pcm.constData());
    const int n = int(pcm.size() / 2);
    int crossings = 0;
    int peak = 0;
    for (int i = 1; i < n; ++i) {
        crossings += (samples[i - 1] < 0) != (samples[i] < 0) ? 1 : 0;
        peak = std::max(peak, std::abs(int(samples[i])));
    }
    EXPECT_GT(peak, 3000);
    const double hz = crossings / 2.0 / (n / 8000.0);
    EXPECT_GT(hz, 300.0);
    EXPECT_LT(hz, 1200.0);
}

TEST_F(WebPlayers, MpvOrGStreamerShowsTheTitle) {
    const QString mpv = program("mpv");
    const QString gst = program("gst-launch-1.0");
    if (mpv.isEmpty() && gst.isEmpty()) {
        GTEST_SKIP() << "neither mpv nor gst-launch-1.0 is installed";
    }
    // Both log to standard error: mpv's HTTP layer names the title it read in its debug lines, gst-launch
    // prints the tags (-t).
    const QStringList args = !mpv.isEmpty() ? QStringList{mpv,
                                                          QStringLiteral("--no-config"),
                                                          QStringLiteral("--ao=null"),
                                                          QStringLiteral("--vo=null"),
                                                          QStringLiteral("--msg-level=ffmpeg=debug"),
                                                          QStringLiteral("--length=12"),
                                                          streamUrl()}
                                            : QStringList{gst,
                                                          QStringLiteral("-t"),
                                                          QStringLiteral("souphttpsrc"),
                                                          QStringLiteral("location=") + streamUrl(),
                                                          QStringLiteral("iradio-mode=true"),
                                                          QStringLiteral("num-buffers=200"),
                                                          QStringLiteral("!"),
                                                          QStringLiteral("icydemux"),
                                                          QStringLiteral("!"),
                                                          QStringLiteral("fakesink")};
    const auto player = std::make_unique<vxtest::ChildProcess>(
        QStringLiteral("/bin/sh"),
        QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" 2>&1")} + args);
    ASSERT_TRUE(vxtest::waitUntil([&] { return player->output().contains("First title"); }, 30000));
}

TEST_F(WebPlayers, ChromiumPlaysThePageAndFollowsTheTitle) {
    if (!QFile::exists(QStringLiteral("/usr/bin/chromedriver"))) {
        GTEST_SKIP() << "chromium-driver is not installed";
    }
    // A station that has just started has little to send at once: the burst fills as the broadcast
    // runs. A reader of the stream since the start has had more than the burst once it is full.
    Client reader(station.webPort);
    ASSERT_TRUE(reader.send("GET /stream HTTP/1.0\r\n\r\n"));
    ASSERT_FALSE(reader.head().isEmpty());
    for (int i = 1; i <= 8; ++i) {
        ASSERT_TRUE(reader.fill(56 * 1024 * i / 8)) << "the stream stopped";
    }
    vxtest::ChildProcess check(
        QStringLiteral("/usr/bin/python3"),
        {vxtest::sourcePath(QStringLiteral("tests/integration/web_page_check.py")),
         QStringLiteral("http://127.0.0.1:%1/").arg(station.webPort),
         vxtest::binPath(QStringLiteral("vandorixctl")), QString::number(station.remotePort)});
    ASSERT_TRUE(check.waitForFinished(100000));
    EXPECT_EQ(check.exitCode(), 0) << check.output().toStdString();
}

}  // namespace
