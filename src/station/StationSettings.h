// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/StationConstants.h"

#include <QString>

// What the station broadcasts with, as one value: made from "Optionen.ini" and the command line, changed
// by the window's edits. The station reads this and never a widget; a field is read at the moment the
// station needs it (the port at the start, "Upload" for every block), so an edit takes effect then.
struct StationSettings {
    int port = vx::kDefaultListenerPort;
    QString serverName = QStringLiteral("KT-VandorixServer 6.0");
    QString radioName;
    QString extRadioName;
    QString infoText = QStringLiteral("Willkommen auf diesem Vandorix");
    QString email;
    QString password;
    QString passwordConfirm;
    // As typed: the line-load bar and the listener limit read a text that may be no number.
    QString upload = QStringLiteral("64");
    bool limitListeners = true;  // "Beschränkung auf ... User aktivieren"
    QString directoryUrl = QStringLiteral("http://127.0.0.1/vandorixdb/");
    bool offline = false;  // "/WO": no directory requests
    bool mp3Copy = false;  // "Übertragung als MP3 aufzeichnen"
    bool loop = false;     // a playback starts again at its end
};
