// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"

#include <QByteArray>
#include <QString>

// What the web port shows the public: the station's page, /now.json and the playlists. Only what every
// listener may see: no listener address, nothing the status port keeps to loopback.
struct WebNow {
    QString radioName;
    QString extRadioName;
    QString infoText;
    bool onAir = false;
    int listeners = 0;
    int listenerLimit = -1;  // -1: no limit
    QString streamUrl;       // absolute
    // What a listener gets: its bit rate and sample rate go into the stream's head.
    TAudioFormat streamFormat;
};

namespace webpage {

// The page: self-contained (no file or script from elsewhere), it fills itself from /now.json.
QByteArray page(const WebNow& now);
QByteArray nowJson(const WebNow& now);
QByteArray m3u(const WebNow& now);
QByteArray pls(const WebNow& now);

}  // namespace webpage
