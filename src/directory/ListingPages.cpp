// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory/ListingPages.h"

#include "directory/AddressRange.h"

#include <nlohmann/json.hpp>

#include <ctime>

namespace vx::directory {

namespace {

std::string hostPort(const std::string& address, int port) {
    const bool v6 = address.find(':') != std::string::npos;
    return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::string isoTime(int64_t seconds) {
    const std::time_t t = std::time_t(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Names go into lines of playlists: a line end or control character there would start a forged entry.
std::string oneLine(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = ' ';
        }
    }
    return out;
}

// The page: no file or script from elsewhere; the search filters the rows in place.
constexpr const char* kPageHead = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Stations on the air</title>
<style>
body{font-family:sans-serif;margin:0 auto;max-width:52em;padding:0.5em 1em;color:#222}
h1{font-size:1.4em}input[type=search]{width:100%;font-size:1.1em;padding:0.4em;box-sizing:border-box}
ul{list-style:none;padding:0}li{border-bottom:1px solid #ccc;padding:0.6em 0}
.name{font-weight:bold;font-size:1.1em}.now{color:#555}.count{color:#555;font-size:0.9em}
audio{width:100%;margin-top:0.3em}.note{color:#555;font-size:0.9em}
</style></head><body>
<h1>Stations on the air</h1>
<input type="search" id="search" placeholder="Search stations" aria-label="Search stations">
)";

constexpr const char* kPageTail = R"(<script>
document.getElementById("search").addEventListener("input", function () {
  var q = this.value.toLowerCase();
  document.querySelectorAll("li[data-name]").forEach(function (li) {
    li.hidden = q !== "" && li.getAttribute("data-name").indexOf(q) < 0;
  });
});
</script>
</body></html>
)";

std::string lowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

std::vector<ListedStation> listedStations(const std::vector<StationRecord>& records, int64_t now,
                                          bool allowPrivate) {
    std::vector<ListedStation> out;
    for (const StationRecord& r : records) {
        const std::optional<in6_addr> address = parseAddress(r.address);
        if (!address || (!allowPrivate && isPrivateAddress(*address))) {
            continue;
        }
        ListedStation s;
        s.name = r.name;
        s.address = r.address;
        s.port = r.listenerPort;
        s.streamUrl = r.streamUrl;
        s.listeners = r.listenersAt >= now - DirectoryStore::kListenersFreshSeconds ? r.listeners : -1;
        s.listenerLimit = r.listenerLimit;
        s.onAirSince = r.onAirSince;
        s.lastHeard = std::max(r.lastStatus, r.listenersAt);
        s.nowPlaying = r.nowPlaying;
        out.push_back(std::move(s));
    }
    return out;
}

std::string playerUrl(const ListedStation& s) {
    return s.streamUrl.empty() ? "http://" + hostPort(s.address, s.port) + "/" : s.streamUrl;
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string listingPage(const std::vector<ListedStation>& stations, bool https) {
    std::string page = kPageHead;
    if (https) {
        page +=
            "<p class=\"note\">This page is served over HTTPS; browsers refuse to play a plain-HTTP "
            "stream inside it, so each station's stream is a link that opens on its own.</p>\n";
    }
    if (stations.empty()) {
        page += "<p>No station is on the air right now.</p>\n";
    }
    page += "<ul>\n";
    for (const ListedStation& s : stations) {
        page += "<li data-name=\"" + escapeHtml(lowerAscii(s.name + " " + s.nowPlaying)) + "\">";
        page += "<div class=\"name\">" + escapeHtml(s.name) + "</div>";
        if (!s.nowPlaying.empty()) {
            page += "<div class=\"now\">" + escapeHtml(s.nowPlaying) + "</div>";
        }
        page += "<div class=\"count\">" +
                (s.listeners < 0
                     ? std::string("listeners not known")
                     : std::to_string(s.listeners) + (s.listeners == 1 ? " listener" : " listeners")) +
                "</div>";
        if (!s.streamUrl.empty()) {
            if (https) {
                page += "<a href=\"" + escapeHtml(s.streamUrl) + "\">Listen</a>";
            } else {
                page += "<audio controls preload=\"none\" src=\"" + escapeHtml(s.streamUrl) + "\"></audio>";
            }
        } else {
            page += "<div class=\"note\">Listener program or player: " + escapeHtml(playerUrl(s)) + "</div>";
        }
        page += "</li>\n";
    }
    page += "</ul>\n";
    page += kPageTail;
    return page;
}

std::string listingJson(const std::vector<ListedStation>& stations) {
    nlohmann::json list = nlohmann::json::array();
    for (const ListedStation& s : stations) {
        list.push_back(
            {{"name", s.name},
             {"address", s.address},
             {"port", s.port},
             {"stream_url", s.streamUrl.empty() ? nlohmann::json() : nlohmann::json(s.streamUrl)},
             {"listeners", s.listeners < 0 ? nlohmann::json() : nlohmann::json(s.listeners)},
             {"listener_limit", s.listenerLimit < 0 ? nlohmann::json() : nlohmann::json(s.listenerLimit)},
             {"on_air_since", isoTime(s.onAirSince)},
             {"now_playing", s.nowPlaying},
             {"last_heard", isoTime(s.lastHeard)}});
    }
    // Names come from stations: whatever bytes they hold, the JSON stays valid.
    return nlohmann::json{{"stations", list}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
           "\n";
}

std::string listingM3u(const std::vector<ListedStation>& stations) {
    std::string out = "#EXTM3U\n";
    for (const ListedStation& s : stations) {
        out += "#EXTINF:-1," + oneLine(s.name) + "\n" + oneLine(playerUrl(s)) + "\n";
    }
    return out;
}

std::string listingPls(const std::vector<ListedStation>& stations) {
    std::string out = "[playlist]\n";
    int n = 0;
    for (const ListedStation& s : stations) {
        ++n;
        const std::string i = std::to_string(n);
        out += "File" + i + "=" + oneLine(playerUrl(s)) + "\nTitle" + i + "=" + oneLine(s.name) + "\nLength" +
               i + "=-1\n";
    }
    out += "NumberOfEntries=" + std::to_string(n) + "\nVersion=2\n";
    return out;
}

std::string listingPlain(const std::vector<ListedStation>& stations) {
    std::string out;
    for (const ListedStation& s : stations) {
        out += oneLine(s.name) + "\t" + s.address + "\t" + std::to_string(s.port) + "\t" +
               std::to_string(std::max(s.listeners, 0)) + "\n";
    }
    return out;
}

}  // namespace vx::directory
