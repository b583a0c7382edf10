// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class UserDialogs;
struct StationSettings;
namespace vx::wavein {
class WaveIn;
}
namespace vx::acm {
class Acm;
}
namespace vx::mixerapi {
class MixerApi;
}

// What main() (or a test) hands the window: the program directory, the command line and the platform
// backends. The window owns none of these.
struct StationEnvironment {
    QString dataDir;        // plays the part of the program directory: settings files, MP3 copies
    QStringList arguments;  // command line after Qt took its own options; [0] is the program
    UserDialogs* dialogs = nullptr;
    // The remote-control port; main() gives 6566 (or --remote-port). 0, the default, lets the system
    // choose, so windows made side by side (tests) never contend for one port.
    int remoteControlPort = 0;
    // The IPv4 address the remote control listens on (--remote-listen); empty: every local address,
    // with the station's own check of the peer's address.
    QString remoteControlAddress;
    // The language of the window, its messages and the texts sent to listeners: the language library's
    // index (0 German, the default; 1 English). main() takes it from --language or the locale.
    int language = 0;
    // The web port (--web-listen): "ADDR:PORT" ("[::]:6568" every address, IPv4 peers too); empty: off,
    // so that stations made side by side (tests) never contend for one port.
    QString webListen;
    // Recent audio a new web listener gets at once (--web-burst), so that a browser, which gathers about
    // 45 KB before it plays, starts within seconds; 0: none.
    int webBurstBytes = 48 * 1024;
    // The stream's address the playlists give instead of one built from the request's Host
    // (--public-url), for a station behind a proxy or a NAT; empty: from the request.
    QString publicUrl;
    // Icecast mounts the stream is relayed to (--icecast), beside those of the data folder's file.
    QStringList icecastTargets;
    // What the configuration file and the command line set in the settings, over "Optionen.ini".
    std::function<void(StationSettings&)> settingsOverride;
    // The platform backends, chosen here and nowhere else: main() builds the real ones from the command
    // line, a test the real or simulated ones it needs. All three are required; the window's components
    // refuse a missing one (std::invalid_argument) rather than invent a device.
    std::shared_ptr<vx::wavein::WaveIn> waveIn;     // capture device
    std::shared_ptr<vx::acm::Acm> acm;              // codec layer, its format choice through `dialogs`
    std::shared_ptr<vx::mixerapi::MixerApi> mixer;  // recording source and volume
};
