// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// The station settings as stored in "Optionen.ini": a binary record of exactly 1044 bytes, little-endian,
// texts as a length byte followed by a fixed capacity in the ANSI code page. Written and read field by
// field at the offsets below; padding and reserved bytes are written as 0 and never read.
struct TOptionsRecord {
    static constexpr int kSize = 1044;
    static constexpr int kRadionameCapacity = 20;
    static constexpr int kExtRadionameCapacity = 235;
    static constexpr int kEMailCapacity = 255;
    static constexpr int kPasswortCapacity = 255;

    int32_t Port = 0;
    QString Radioname;
    QString ExtRadioname;
    QString EMail;
    QString Passwort;
    TAudioFormat FormatIn;
    TAudioFormat FormatOut;
    int32_t Upload = 0;
    bool Beschr = false;

    // Texts longer than their capacity are cut to it.
    QByteArray toBytes() const;
    // Reads the first kSize bytes; the caller has made sure there are at least that many.
    static TOptionsRecord fromBytes(const QByteArray& data);
};
