// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

// Names and numbers that several parts of the station, and the remote-control client, must spell alike.
// Plain C++ without Qt, so that vandorixctl includes it too. The settings files' names belong to the
// settings store.
namespace vx {

// The program's title: application name, message-box captions, and how it introduces itself to the
// sound server and to Icecast.
inline constexpr char kStationTitle[] = "KT VandorixServer";

// The listener port until the settings give another.
inline constexpr int kDefaultListenerPort = 6565;
// The remote-control port the station listens on and vandorixctl connects to, unless told otherwise.
inline constexpr int kDefaultRemoteControlPort = 6566;
// The web port: players, browsers and the public page.
inline constexpr int kDefaultWebPort = 6568;

// The remote-control commands, each followed by the terminator; the terminator also ends each address
// of the answer to "Liste".
inline constexpr std::string_view kRemoteStart = "Start";
inline constexpr std::string_view kRemoteStop = "Stop";
inline constexpr std::string_view kRemoteEnd = "Ende";
inline constexpr std::string_view kRemoteList = "Liste";
// Followed by the new info text (UTF-8) and the terminator; no answer.
inline constexpr std::string_view kRemoteInfo = "Info";
inline constexpr std::string_view kRemoteTerminator{"\xFF\xFF\xFF\xFF", 4};
// A remote-control connection that completes no command for this long is closed, and no more than this
// many are open at once: peers sending half a command must not hold descriptors for good.
inline constexpr int kRemoteCommandTimeoutMs = 30000;
inline constexpr int kRemoteMaxConnections = 32;
// One peer holds at most this many of them, so that another (vandorixctl on the station's own machine)
// still gets in while it holds its share.
inline constexpr int kRemoteMaxConnectionsPerPeer = 4;

}  // namespace vx
