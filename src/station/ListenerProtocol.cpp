// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/ListenerProtocol.h"

#include <cstring>

namespace listener {

namespace {

const QByteArray kCrLf = QByteArrayLiteral("\r\n");

}  // namespace

Request classify(const QByteArray& r) {
    if (r.startsWith("GET / HTTP/1.0")) {
        return Request::Icy;
    }
    if (r == "KT-VandorixClient v40-Info") {
        return Request::InfoChannel;
    }
    if (r == "KT-VandorixClient v40-Daten" || r == "KT-VandorixClient v30" || r == "KT-VandorixClient v20") {
        return Request::ListenerProgram;
    }
    if (r == "Radioname") {
        return Request::NameQuery;
    }
    return Request::InfoPage;
}

QByteArray icyClientProgram(const QByteArray& r) {
    QByteArray rest = r;
    const qsizetype agent = rest.indexOf("Agent:");
    if (agent >= 0) {
        rest.remove(0, agent + 7);
    } else {
        rest.remove(0, 6);
    }
    const qsizetype end = rest.indexOf(kCrLf);
    return end < 0 ? QByteArray() : rest.left(end);
}

QByteArray agentClientProgram(const QByteArray& r) {
    return r == "KT-VandorixClient v40-Daten" ? QByteArrayLiteral("KT-VandorixClient v40") : r;
}

QByteArray icyReply(const QByteArray& notice, const QByteArray& serverName, const QByteArray& name,
                    int bitRate) {
    return "ICY 200 OK" + kCrLf + "icy-notice1:<BR>" + notice + "<BR>" + kCrLf + "icy-notice2:" + serverName +
           "<BR>" + kCrLf + "icy-name:" + name + kCrLf + "icy-br:" + QByteArray::number(bitRate) + kCrLf +
           kCrLf + kCrLf;
}

QByteArray infoPage(const QByteArray& serverName, const QByteArray& notice) {
    return "HTTP/1.0 200 OK" + kCrLf + "Connection: close" + kCrLf + kCrLf + kCrLf + serverName + kCrLf +
           "<br>" + kCrLf + "<hr>" + kCrLf + "<br>" + kCrLf + notice + kCrLf;
}

QByteArray stationHeader(const QByteArray& name, const TAudioFormat& in, const TAudioFormat& out) {
    QByteArray header(kHeaderSize, '\0');
    const QByteArray cut = name.left(kHeaderNameMax);
    header[0] = char(uint8_t(cut.size()));
    std::memcpy(header.data() + 1, cut.constData(), std::size_t(cut.size()));
    std::memcpy(header.data() + 1 + kHeaderNameMax, in.data(), TAudioFormat::kSize);
    std::memcpy(header.data() + 1 + kHeaderNameMax + TAudioFormat::kSize, out.data(), TAudioFormat::kSize);
    return header;
}

}  // namespace listener
