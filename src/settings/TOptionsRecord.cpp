// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/TOptionsRecord.h"

#include "platform/Ansi.h"

#include <QtEndian>

namespace {

constexpr int kPortOffset = 0;
constexpr int kRadionameOffset = 4;
constexpr int kExtRadionameOffset = 25;
constexpr int kEMailOffset = 261;
constexpr int kPasswortOffset = 517;
constexpr int kFormatInOffset = 773;
constexpr int kFormatOutOffset = 902;
constexpr int kUploadOffset = 1032;
constexpr int kBeschrOffset = 1040;

void putString(QByteArray& out, int offset, int capacity, const QString& text) {
    const QByteArray bytes = vx::toAnsi(text).left(capacity);
    out[offset] = char(bytes.size());
    out.replace(offset + 1, bytes.size(), bytes);
}

QString getString(const QByteArray& in, int offset, int capacity) {
    const int n = std::min<int>(static_cast<unsigned char>(in[offset]), capacity);
    return vx::fromAnsi(in.mid(offset + 1, n));
}

void putInt(QByteArray& out, int offset, int32_t v) {
    qToLittleEndian<int32_t>(v, out.data() + offset);
}

int32_t getInt(const QByteArray& in, int offset) {
    return qFromLittleEndian<int32_t>(in.constData() + offset);
}

}  // namespace

QByteArray TOptionsRecord::toBytes() const {
    QByteArray out(kSize, '\0');
    putInt(out, kPortOffset, Port);
    putString(out, kRadionameOffset, kRadionameCapacity, Radioname);
    putString(out, kExtRadionameOffset, kExtRadionameCapacity, ExtRadioname);
    putString(out, kEMailOffset, kEMailCapacity, EMail);
    putString(out, kPasswortOffset, kPasswortCapacity, Passwort);
    out.replace(kFormatInOffset, TAudioFormat::kSize, FormatIn.toBytes());
    out.replace(kFormatOutOffset, TAudioFormat::kSize, FormatOut.toBytes());
    putInt(out, kUploadOffset, Upload);
    out[kBeschrOffset] = Beschr ? 1 : 0;
    return out;
}

TOptionsRecord TOptionsRecord::fromBytes(const QByteArray& in) {
    TOptionsRecord r;
    r.Port = getInt(in, kPortOffset);
    r.Radioname = getString(in, kRadionameOffset, kRadionameCapacity);
    r.ExtRadioname = getString(in, kExtRadionameOffset, kExtRadionameCapacity);
    r.EMail = getString(in, kEMailOffset, kEMailCapacity);
    r.Passwort = getString(in, kPasswortOffset, kPasswortCapacity);
    r.FormatIn = TAudioFormat::fromBytes(in.constData() + kFormatInOffset);
    r.FormatOut = TAudioFormat::fromBytes(in.constData() + kFormatOutOffset);
    r.Upload = getInt(in, kUploadOffset);
    r.Beschr = in[kBeschrOffset] != 0;
    return r;
}
