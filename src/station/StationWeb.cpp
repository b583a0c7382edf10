// SPDX-License-Identifier: GPL-3.0-or-later
// The web port: the stream for every player (with its title as ICY metadata), the public page,
// /now.json and the playlists. Its listeners join the listener port's in one send table.
#include "audio/ListenerDestination.h"
#include "audio/TACMConvertor.h"
#include "net/ESocketError.h"
#include "net/IcyMetadata.h"
#include "net/WebRequest.h"
#include "net/WebSession.h"
#include "platform/ErrorLine.h"
#include "platform/acm/Acm.h"
#include "station/Station.h"
#include "station/WebPage.h"

#include <sys/socket.h>

#include <algorithm>

namespace {

// A peer has this long to send its whole request head; players send theirs at once.
constexpr int kHeadDeadlineMs = 10000;
// Connections that are not (yet) listeners: in all, and from one address.
// A connection waits only until its request has been read, which a burst of arrivals on a busy
// machine stretches to a fraction of a second: room for a flash crowd behind one NAT.
constexpr int kMaxWaiting = 1024;
constexpr int kMaxWaitingPerPeer = 64;
// Ids of the web port's connections lie above the listener port's, so one list shows both in order.
constexpr uint64_t kWebIdBase = uint64_t(1) << 40;
// In every answer: nothing caches what changes from block to block, and pages elsewhere may read the
// stream and now.json.
constexpr char kOpenHeaders[] = "Cache-Control: no-cache, no-store\r\nAccess-Control-Allow-Origin: *\r\n";
constexpr char kRetryAfter[] = "Retry-After: 10\r\n";

QByteArray statusLine(int code) {
    switch (code) {
        case 200:
            return "HTTP/1.1 200 OK\r\n";
        case 400:
            return "HTTP/1.1 400 Bad Request\r\n";
        case 404:
            return "HTTP/1.1 404 Not Found\r\n";
        case 405:
            return "HTTP/1.1 405 Method Not Allowed\r\n";
        case 415:
            return "HTTP/1.1 415 Unsupported Media Type\r\n";
        case 431:
            return "HTTP/1.1 431 Request Header Fields Too Large\r\n";
        default:
            return "HTTP/1.1 503 Service Unavailable\r\n";
    }
}

// A whole answer: the head with its length, the body unless the request was HEAD.
QByteArray answer(int code, const QByteArray& type, const QByteArray& body, bool head,
                  const QByteArray& extra = {}) {
    QByteArray out = statusLine(code) + "Content-Type: " + type +
                     "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + kOpenHeaders +
                     extra + "Connection: close\r\n\r\n";
    if (!head) {
        out += body;
    }
    return out;
}

QByteArray text(int code, const char* body, bool head, const QByteArray& extra = {}) {
    return answer(code, "text/plain; charset=utf-8", QByteArray(body) + '\n', head, extra);
}

// A header field's value from a station text: no line break can end the field early.
QByteArray headerValue(const QString& value) {
    QByteArray out = value.toUtf8();
    for (char& c : out) {
        if (uchar(c) < 0x20) {
            c = ' ';
        }
    }
    return out;
}

void sendAndClose(TServerClientWinSocket& socket, const QByteArray& bytes) {
    if (socket.IsOpen()) {
        socket.SendString(bytes);
    }
    socket.CloseConnection();
}

}  // namespace

void Station::buildWebPort() {
    if (env_.webListen.isEmpty()) {
        return;
    }
    webGate_ = std::make_shared<WebGate>(kMaxWaiting, kMaxWaitingPerPeer);
    WebServer = std::make_unique<TServerSocket>();
    const qsizetype colon = env_.webListen.lastIndexOf(QLatin1Char(':'));
    QString host = env_.webListen.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
    }
    WebServer->Address = host.toStdString();
    WebServer->Port = env_.webListen.mid(colon + 1).toInt();
    WebServer->Name = "Web";
    WebServer->IdBase = kWebIdBase;
    WebServer->FirstDataTimeoutMs = kHeadDeadlineMs;
    WebServer->RequestTimeoutMs = kHeadDeadlineMs;
    WebServer->NewUserData = [] { return std::make_shared<WebSession>(); };
    WebServer->OnClientConnect = [this](TServerSocket*, const auto& socket) {
        Guarded([&] { WebServerClientConnect(socket); });
    };
    WebServer->OnClientRead = [this](TServerSocket*, const auto& socket) {
        Guarded([&] { WebServerClientRead(socket); });
    };
    // A listener's failed send runs this on the worker: nothing to show, the connection closes.
    WebServer->OnClientError = [](TServerSocket*, const auto&, TErrorEvent, int& code) { code = 0; };
    try {
        WebServer->SetActive(true);
    } catch (const ESocketError& e) {
        // As the status port: the station runs on without it, and says so once, as an admin reads it.
        const std::string plain = e.plain();
        vx::writeErrorLine(QString::fromStdString(plain.empty() ? e.what() : plain) +
                           QStringLiteral(" (%1); the station runs without it").arg(env_.webListen));
    }
}

int Station::webPort() const {
    return WebServer ? WebServer->LocalPort() : 0;
}

bool Station::anyoneConnected() const {
    return ServerVandorixClient->ConnectionCount() > 0 || (WebServer && WebServer->ConnectionCount() > 0);
}

void Station::setInfoText(const QString& text) {
    settings_.infoText = text;
    emit settingsLoaded();  // the window shows the text it sends
    UpdateInfo();
}

void Station::WebServerClientConnect(const std::shared_ptr<TServerClientWinSocket>& socket) {
    auto* session = static_cast<WebSession*>(socket->Session());
    const QString peer = socket->PeerAddress();
    // Behind a reverse proxy on this machine (--public-url) every listener arrives from loopback.
    const bool proxy =
        !env_.publicUrl.isEmpty() && (peer.startsWith(QLatin1String("127.")) || peer == QLatin1String("::1"));
    if (!webGate_->enter(peer, proxy)) {
        socket->CloseConnection();  // too many waiting: from this peer, or in all
        return;
    }
    session->enterGate(webGate_, peer);
}

void Station::WebServerClientRead(const std::shared_ptr<TServerClientWinSocket>& socket) {
    auto* session = static_cast<WebSession*>(socket->Session());
    const QByteArray bytes = socket->ReadAvailableText();
    if (session->Kind.load() != TVXSocketData::KindNew || !socket->IsOpen()) {
        return;  // a listener's further bytes mean nothing
    }
    session->head += bytes;
    WebRequest request;
    switch (WebRequest::parse(session->head, request)) {
        case WebRequest::Parse::Incomplete:
            return;
        case WebRequest::Parse::TooLarge:
            sendAndClose(*socket, text(431, "The request head is larger than 8 KiB.", false));
            return;
        case WebRequest::Parse::Bad:
            sendAndClose(*socket, text(400, "Not an HTTP request.", false));
            return;
        case WebRequest::Parse::Complete:
            session->head.clear();
            answerWeb(socket, *session, request);
            return;
    }
}

WebNow Station::webNow(const QByteArray& host) const {
    // The public reads what every other view reads: the published snapshot.
    const std::shared_ptr<const StationStatus> status = this->status();
    WebNow now;
    now.radioName = status->settings.radioName;
    now.extRadioName = status->settings.extRadioName;
    now.infoText = status->settings.infoText;
    now.onAir = status->onAir;
    now.listeners = status->listenerCount();
    now.listenerLimit = status->listenerLimit.value_or(-1);
    if (!env_.publicUrl.isEmpty()) {
        now.streamUrl = env_.publicUrl;
        if (!now.streamUrl.endsWith(QLatin1String("/stream"))) {
            now.streamUrl = (now.streamUrl.endsWith(QLatin1Char('/')) ? now.streamUrl : now.streamUrl + '/') +
                            QStringLiteral("stream");
        }
    } else {
        // A Host header is what the player reached us by; without one, the port alone says little.
        QString where = QString::fromLatin1(host).trimmed();
        const bool usable = !where.isEmpty() && std::none_of(where.begin(), where.end(), [](QChar c) {
            return c.isSpace() || c == QLatin1Char('/') || c == QLatin1Char('"') || c == QLatin1Char('<');
        });
        if (!usable) {
            where = QStringLiteral("localhost:%1").arg(webPort());
        }
        now.streamUrl = QStringLiteral("http://%1/stream").arg(where);
    }
    return now;
}

void Station::answerWeb(const std::shared_ptr<TServerClientWinSocket>& socket, WebSession& session,
                        const WebRequest& request) {
    const bool head = request.method == "HEAD";
    if (!head && request.method != "GET") {
        sendAndClose(*socket, text(405, "Only GET and HEAD.", false, "Allow: GET, HEAD\r\n"));
        return;
    }
    const QByteArray& path = request.path;
    if (path == "/stream" || path == "/stream.mp3") {
        answerStream(socket, session, request);
        return;
    }
    if (path == "/" || path == "/index.html") {
        sendAndClose(*socket,
                     answer(200, "text/html; charset=utf-8", webpage::page(webNow(request.host)), head));
    } else if (path == "/now.json") {
        sendAndClose(*socket, answer(200, "application/json", webpage::nowJson(webNow(request.host)), head));
    } else if (path == "/listen.m3u") {
        sendAndClose(*socket, answer(200, "audio/x-mpegurl", webpage::m3u(webNow(request.host)), head));
    } else if (path == "/listen.pls") {
        sendAndClose(*socket, answer(200, "audio/x-scpls", webpage::pls(webNow(request.host)), head));
    } else {
        sendAndClose(*socket,
                     text(404, "Not found: try /, /stream, /now.json, /listen.m3u or /listen.pls.", head));
    }
}

void Station::answerStream(const std::shared_ptr<TServerClientWinSocket>& socket, WebSession& session,
                           const WebRequest& request) {
    const bool head = request.method == "HEAD";
    if (!onAir(state())) {
        sendAndClose(*socket, text(503, "The station is off the air.", head, kRetryAfter));
        return;
    }
    const TAudioFormat& format = announcedFormatOut();
    if (format.formatTag() != vx::acm::WAVE_FORMAT_MPEGLAYER3) {
        sendAndClose(*socket, text(415, "The station sends no MPEG audio that a player could play.", head));
        return;
    }
    QByteArray name;
    if (!admitsOneMore(name)) {
        sendAndClose(*socket,
                     text(503, "The station is full: every listener place is taken.", head, kRetryAfter));
        return;
    }
    QByteArray reply = statusLine(200) + "Content-Type: audio/mpeg\r\n" + kOpenHeaders +
                       "Connection: close\r\nicy-name: " + headerValue(settings_.radioName) +
                       "\r\nicy-description: " + headerValue(settings_.extRadioName) +
                       "\r\nicy-br: " + QByteArray::number(format.avgBytesPerSec() / 125) +
                       "\r\nicy-sr: " + QByteArray::number(format.samplesPerSec()) + "\r\nicy-pub: 0\r\n";
    if (request.icyMetadata) {
        reply += "icy-metaint: " + QByteArray::number(icy::kMetaInterval) + "\r\n";
    }
    reply += "\r\n";
    if (head) {
        sendAndClose(*socket, reply);
        return;
    }
    // The reply and the burst go out in one call: room for them in the socket's buffer, so that the
    // call takes them whole. The kernel doubles the figure; the rest is the live stream's margin.
    const int room = int(reply.size()) + std::max(env_.webBurstBytes, 64 * 1024) * 2;
    ::setsockopt(socket->Handle(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    if (!road_->listeners().titles().current()) {
        road_->listeners().titles().set(settings_.infoText);  // after that, "Update" and "Info" change it
    }
    road_->listeners().admitWithBurst(true, [&](const QByteArray& recent) {
        QByteArray out = reply;
        if (request.icyMetadata) {
            const auto title = road_->listeners().titles().current();
            out += icy::frame(recent, session.untilMeta, title.get(), session.titleSent);
        } else {
            out += recent;
        }
        if (socket->SendString(out) != int(out.size())) {
            socket->CloseConnection();  // half a reply is no stream
            return;
        }
        session.metadata = request.icyMetadata;
        session.ClientProgram = QString::fromUtf8(request.userAgent);
        session.Ready = 1;
        session.Kind = TVXSocketData::KindListener;
        session.leaveGate();
        WebServer->KeepOpen(socket);
        WebServer->SessionsChanged();  // the send table takes it in before the next block
    });
}

void Station::closeWebListeners() {
    if (!WebServer) {
        return;
    }
    for (const auto& socket : WebServer->Connections()) {
        if (listenerSession(*socket)->Kind.load() == TVXSocketData::KindListener) {
            socket->CloseConnection();
        }
    }
}
