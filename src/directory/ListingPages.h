// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The list of stations on the air, for people (the page), programs (JSON), players (M3U, PLS) and the
// companion listener program (tab-separated lines).
#include "directory/DirectoryStore.h"

#include <string>
#include <vector>

namespace vx::directory {

struct ListedStation {
    std::string name;
    std::string address;
    int port = 0;
    std::string streamUrl;  // the web port's stream; empty when the station has none
    int listeners = -1;     // -1: no fresh count
    int listenerLimit = -1;
    int64_t onAirSince = 0;
    int64_t lastHeard = 0;
    std::string nowPlaying;
};

// From the store's listed stations: the count only while fresh, private addresses only when allowed.
std::vector<ListedStation> listedStations(const std::vector<StationRecord>& records, int64_t now,
                                          bool allowPrivate);

// The stream a player opens: the web port's, else the listener port's ICY stream.
std::string playerUrl(const ListedStation& s);

// `https`: the page is seen over HTTPS, where browsers refuse a plain-HTTP stream in <audio>.
std::string listingPage(const std::vector<ListedStation>& stations, bool https);
std::string listingJson(const std::vector<ListedStation>& stations);
std::string listingM3u(const std::vector<ListedStation>& stations);
std::string listingPls(const std::vector<ListedStation>& stations);
// name, address, port, listeners; tab-separated, one station a line, UTF-8.
std::string listingPlain(const std::vector<ListedStation>& stations);

std::string escapeHtml(const std::string& text);

}  // namespace vx::directory
