// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebPort.h"

#include "net/ESocketError.h"
#include "net/HttpMessage.h"
#include "platform/ErrorLine.h"
#include "platform/acm/Acm.h"
#include "web/WebRequest.h"
#include "web/WebSession.h"

#include <sys/socket.h>

#include <algorithm>

namespace {

using vx::http::Response;

// A peer has this long to send its whole request head; players send theirs at once.
constexpr int kHeadDeadlineMs = 10000;
// Ids of the web port's connections lie above the listener port's, so one list shows both in order.
constexpr uint64_t kWebIdBase = uint64_t(1) << 40;

// In every answer: nothing caches what changes from block to block, pages elsewhere may read the
// stream and now.json, and one request per connection.
Response withOpenHeaders(Response r) {
    r.headers.insert(r.headers.begin(),
                     {{"Cache-Control", "no-cache, no-store"}, {"Access-Control-Allow-Origin", "*"}});
    r.headers.emplace_back("Connection", "close");
    return r;
}

Response document(const QByteArray& type, const QByteArray& body) {
    return withOpenHeaders({200, type, body, {}});
}

Response text(unsigned status, const char* body) {
    return withOpenHeaders(vx::http::plainText(status, body));
}

// Off the air or full: a player may try again.
Response later(const char* body) {
    Response r = vx::http::plainText(503, body);
    r.headers.emplace_back("Retry-After", "10");
    return withOpenHeaders(std::move(r));
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

void sendAndClose(TServerClientWinSocket& socket, const Response& r, bool head) {
    sendAndClose(socket, vx::http::bytes(r, head));
}

}  // namespace

template <class F>
void WebPort::guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        if (hooks_.failed) {
            hooks_.failed(e);
        }
    }
}

WebPort::WebPort(Options options, Hooks hooks)
    : options_(std::move(options)),
      hooks_(std::move(hooks)),
      gate_(std::make_shared<WebGate>(options_.maxWaiting, options_.maxWaitingPerPeer)) {
    const qsizetype colon = options_.listen.lastIndexOf(QLatin1Char(':'));
    QString host = options_.listen.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
    }
    server_.Address = host.toStdString();
    server_.Port = options_.listen.mid(colon + 1).toInt();
    server_.Name = "Web";
    server_.IdBase = kWebIdBase;
    server_.FirstDataTimeoutMs = kHeadDeadlineMs;
    server_.RequestTimeoutMs = kHeadDeadlineMs;
    server_.NewUserData = [] { return std::make_shared<WebSession>(); };
    server_.OnClientConnect = [this](TServerSocket*, const auto& socket) {
        guarded([&] { clientConnect(socket); });
    };
    server_.OnClientRead = [this](TServerSocket*, const auto& socket) {
        guarded([&] { clientRead(socket); });
    };
    // A listener's failed send runs this on the worker: nothing to show, the connection closes.
    server_.OnClientError = [](TServerSocket*, const auto&, TErrorEvent, int& code) { code = 0; };
}

WebPort::~WebPort() = default;

bool WebPort::open() {
    try {
        server_.SetActive(true);
        return true;
    } catch (const ESocketError& e) {
        // As the status port: the station runs on without it, and says so once, as an admin reads it.
        const std::string plain = e.plain();
        vx::writeErrorLine(QString::fromStdString(plain.empty() ? e.what() : plain) +
                           QStringLiteral(" (%1); the station runs without it").arg(options_.listen));
        return false;
    }
}

int WebPort::port() const {
    return server_.LocalPort();
}

void WebPort::clientConnect(const std::shared_ptr<TServerClientWinSocket>& socket) {
    auto* session = static_cast<WebSession*>(socket->Session());
    const QString peer = socket->PeerAddress();
    // Behind a reverse proxy on this machine (--public-url) every listener arrives from loopback.
    const bool proxy = !options_.publicUrl.isEmpty() && vx::http::isLoopbackName(peer.toStdString());
    if (!gate_->enter(peer, proxy)) {
        socket->CloseConnection();  // too many waiting: from this peer, or in all
        return;
    }
    session->enterGate(gate_, peer);
}

void WebPort::clientRead(const std::shared_ptr<TServerClientWinSocket>& socket) {
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
            sendAndClose(*socket, text(431, "The request head is larger than 8 KiB."), false);
            return;
        case WebRequest::Parse::Bad:
            sendAndClose(*socket, text(400, "Not an HTTP request."), false);
            return;
        case WebRequest::Parse::Complete:
            session->head.clear();
            answer(socket, *session, request);
            return;
    }
}

WebNow WebPort::now(const QByteArray& host) const {
    WebNow now = hooks_.now();
    if (!options_.publicUrl.isEmpty()) {
        now.streamUrl = options_.publicUrl;
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
            where = QStringLiteral("localhost:%1").arg(port());
        }
        now.streamUrl = QStringLiteral("http://%1/stream").arg(where);
    }
    return now;
}

void WebPort::answer(const std::shared_ptr<TServerClientWinSocket>& socket, WebSession& session,
                     const WebRequest& request) {
    if (!vx::http::readsOnly(request.method)) {
        sendAndClose(*socket, withOpenHeaders(vx::http::methodNotAllowed("Only GET and HEAD.")), false);
        return;
    }
    const bool head = request.method == "HEAD";
    const QByteArray& path = request.path;
    if (path == "/stream" || path == "/stream.mp3") {
        answerStream(socket, session, request, now(request.host));
    } else if (path == "/" || path == "/index.html") {
        sendAndClose(*socket, document("text/html; charset=utf-8", webpage::page(now(request.host))), head);
    } else if (path == "/now.json") {
        sendAndClose(*socket, document("application/json", webpage::nowJson(now(request.host))), head);
    } else if (path == "/listen.m3u") {
        sendAndClose(*socket, document("audio/x-mpegurl", webpage::m3u(now(request.host))), head);
    } else if (path == "/listen.pls") {
        sendAndClose(*socket, document("audio/x-scpls", webpage::pls(now(request.host))), head);
    } else {
        sendAndClose(*socket, text(404, "Not found: try /, /stream, /now.json, /listen.m3u or /listen.pls."),
                     head);
    }
}

void WebPort::answerStream(const std::shared_ptr<TServerClientWinSocket>& socket, WebSession& session,
                           const WebRequest& request, const WebNow& now) {
    const bool head = request.method == "HEAD";
    if (!now.onAir) {
        sendAndClose(*socket, later("The station is off the air."), head);
        return;
    }
    const TAudioFormat& format = now.streamFormat;
    if (format.formatTag() != vx::acm::WAVE_FORMAT_MPEGLAYER3) {
        sendAndClose(*socket, text(415, "The station sends no MPEG audio that a player could play."), head);
        return;
    }
    if (!hooks_.admitsOneMore()) {
        sendAndClose(*socket, later("The station is full: every listener place is taken."), head);
        return;
    }
    Response stream = withOpenHeaders({200, "audio/mpeg", {}, {}});
    stream.headers.emplace_back("icy-name", headerValue(now.radioName));
    stream.headers.emplace_back("icy-description", headerValue(now.extRadioName));
    stream.headers.emplace_back("icy-br", QByteArray::number(format.avgBytesPerSec() / 125));
    stream.headers.emplace_back("icy-sr", QByteArray::number(format.samplesPerSec()));
    stream.headers.emplace_back("icy-pub", "0");
    if (request.icyMetadata) {
        stream.headers.emplace_back("icy-metaint", QByteArray::number(icy::kMetaInterval));
    }
    const QByteArray reply = vx::http::head(stream, false);
    if (head) {
        sendAndClose(*socket, reply);
        return;
    }
    // The reply and the burst go out in one call: room for them in the socket's buffer, so that the
    // call takes them whole. The kernel doubles the figure; the rest is the live stream's margin.
    const int room = int(reply.size()) + std::max(options_.burstBytes, 64 * 1024) * 2;
    ::setsockopt(socket->Handle(), SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    hooks_.admitWithBurst(now.infoText, [&](const QByteArray& recent, const icy::TitleBoard::Title* title) {
        QByteArray out = reply;
        if (request.icyMetadata) {
            out += icy::frame(recent, session.untilMeta, title, session.titleSent);
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
        server_.KeepOpen(socket);
        server_.SessionsChanged();  // the send table takes it in before the next block
    });
}

void WebPort::closeListeners() {
    for (const auto& socket : server_.Connections()) {
        if (listenerSession(*socket)->Kind.load() == TVXSocketData::KindListener) {
            socket->CloseConnection();
        }
    }
}
