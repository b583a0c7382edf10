// SPDX-License-Identifier: GPL-3.0-or-later
#include "web/WebRequest.h"

#include <QList>

WebRequest::Parse WebRequest::parse(const QByteArray& bytes, WebRequest& into) {
    qsizetype end = bytes.indexOf("\r\n\r\n");
    const qsizetype lfEnd = bytes.indexOf("\n\n");
    if (end < 0 || (lfEnd >= 0 && lfEnd < end)) {
        end = lfEnd;
    }
    if (end < 0) {
        return bytes.size() > kMaxHead ? Parse::TooLarge : Parse::Incomplete;
    }
    if (end > kMaxHead) {
        return Parse::TooLarge;
    }
    QList<QByteArray> lines = bytes.left(end).split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
    }
    const QList<QByteArray> parts = lines.value(0).split(' ');
    if (parts.size() != 3 || parts[0].isEmpty() || !parts[1].startsWith('/') ||
        !parts[2].startsWith("HTTP/")) {
        return Parse::Bad;
    }
    into = WebRequest{};
    into.method = parts[0];
    const qsizetype query = parts[1].indexOf('?');
    into.path = query < 0 ? parts[1] : parts[1].left(query);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0) {
            continue;
        }
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name == "host") {
            into.host = value;
        } else if (name == "user-agent") {
            into.userAgent = value;
        } else if (name == "icy-metadata") {
            into.icyMetadata = value == "1";
        }
    }
    return Parse::Complete;
}
