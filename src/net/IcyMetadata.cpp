// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IcyMetadata.h"

namespace icy {

QByteArray titleBlock(const QString& title) {
    QString clean;
    clean.reserve(title.size());
    for (const QChar c : title) {
        if (c == QLatin1Char('\'')) {
            clean += QChar(0x2019);
        } else if (c.category() == QChar::Other_Control || c == QChar(0x2028) || c == QChar(0x2029)) {
            clean += QLatin1Char(' ');
        } else {
            clean += c;
        }
    }
    constexpr int kMaxText = 255 * 16;
    const QByteArray prefix = "StreamTitle='";
    const QByteArray suffix = "';";
    QByteArray text = clean.toUtf8();
    const int room = kMaxText - int(prefix.size() + suffix.size());
    if (text.size() > room) {
        int cut = room;
        while (cut > 0 && (uchar(text[cut]) & 0xC0) == 0x80) {
            --cut;  // never half a character
        }
        text.truncate(cut);
    }
    QByteArray body = prefix + text + suffix;
    const int units = int((body.size() + 15) / 16);
    body.append(QByteArray(units * 16 - body.size(), '\0'));
    return char(units) + body;
}

const QByteArray& emptyBlock() {
    static const QByteArray block(1, '\0');
    return block;
}

QByteArray frame(const QByteArray& audio, int& untilMeta, const TitleBoard::Title* title,
                 uint64_t& titleSent) {
    QByteArray out;
    out.reserve(audio.size() + audio.size() / kMetaInterval * 64 + 64);
    qsizetype pos = 0;
    while (audio.size() - pos >= untilMeta) {
        out.append(audio.constData() + pos, untilMeta);
        pos += untilMeta;
        if (title && title->version != titleSent) {
            out += title->block;
            titleSent = title->version;
        } else {
            out += emptyBlock();
        }
        untilMeta = kMetaInterval;
    }
    out.append(audio.constData() + pos, audio.size() - pos);
    untilMeta -= int(audio.size() - pos);
    return out;
}

}  // namespace icy
