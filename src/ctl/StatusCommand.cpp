// SPDX-License-Identifier: GPL-3.0-or-later
#include "StatusCommand.h"

#include "../platform/StateNames.h"
#include "CtlNet.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vx::ctl {

namespace {

using nlohmann::json;

constexpr int kExitOnAir = 0;
constexpr int kExitUnreachable = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotOnAir = 3;

bool takesValue(std::string_view arg) {
    return arg == "--host" || arg == "--port" || arg == "--wait" || arg == "--status-port" ||
           arg == "--check-wait";
}

// The body of an HTTP/1.0 answer with status 200, or nothing with the reason on standard error.
bool fetch(const std::string& host, int port, int waitMs, const std::string& path, std::string& body,
           bool quiet) {
    const int fd = connectTo(host, port, quiet);
    if (fd < 0) {
        return false;
    }
    const std::string hostHeader = host.find(':') == std::string::npos ? host : "[" + host + "]";
    const bool sent =
        sendAll(fd, "GET " + path + " HTTP/1.0\r\nHost: " + hostHeader + "\r\nConnection: close\r\n\r\n");
    // The server closes after its answer; only a long silence ends the read before that.
    const std::string answer = sent ? readAnswer(fd, waitMs, waitMs) : std::string();
    ::close(fd);
    const std::size_t headerEnd = answer.find("\r\n\r\n");
    if (answer.rfind("HTTP/1.", 0) != 0 || headerEnd == std::string::npos) {
        if (quiet) {
            return false;
        }
        std::fprintf(stderr, "vandorixctl: no HTTP answer from %s port %d\n", host.c_str(), port);
        return false;
    }
    const std::string statusLine = answer.substr(0, answer.find("\r\n"));
    if (statusLine.size() < 12 || statusLine.compare(9, 3, "200") != 0) {
        if (quiet) {
            return false;
        }
        std::fprintf(stderr, "vandorixctl: %s port %d answered \"%s\"\n", host.c_str(), port,
                     statusLine.c_str());
        return false;
    }
    body = answer.substr(headerEnd + 4);
    return true;
}

std::string text(const json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

void printFile(const char* label, const json& file, const char* bytesKey) {
    if (file.is_object()) {
        std::printf("%-11s %s (%.0f bytes)\n", label, text(file, "file").c_str(), file.value(bytesKey, 0.0));
    }
}

void printSummary(const json& s) {
    std::printf("%s - %s since %s\n", text(s, "radio_name").c_str(), text(s, "state").c_str(),
                text(s, "state_since").c_str());
    std::printf("%-11s %s\n", "Info:", text(s, "info_text").c_str());
    const json& listeners = s.at("listeners");
    const json& limit = listeners.at("limit");
    std::printf("%-11s %d%s\n", "Listeners:", listeners.value("count", 0),
                limit.is_number() ? (" of " + std::to_string(limit.get<int>())).c_str() : ", no limit");
    const json& stream = s.at("stream");
    const json& load = stream.at("line_load");
    std::printf("%-11s %.0f kbit/s, %d Hz, %d channel(s); last block %d bytes; line load %s; %.0f errors\n",
                "Stream:", stream.value("bit_rate_kbps", 0.0), stream.value("sample_rate", 0),
                stream.value("channels", 0), stream.value("bytes_last_block", 0),
                load.is_number() ? (std::to_string(int(load.get<double>() * 100 + 0.5)) + " %").c_str() : "-",
                stream.value("transmission_errors", 0.0));
    const json& capture = s.at("capture");
    const json& level = capture.at("level");
    std::printf("%-11s %s%s; peak %.1f dBFS, RMS %.1f dBFS\n", "Input:", text(capture, "device").c_str(),
                capture.value("ok", true) ? "" : " LOST", level.value("peak_dbfs", -120.0),
                level.value("rms_dbfs", -120.0));
    if (capture.at("silent_since").is_string()) {
        std::printf("DEAD AIR    since %s (%.0f s below %.0f dBFS)\n", text(capture, "silent_since").c_str(),
                    capture.value("silence_seconds", 0.0), capture.value("silence_threshold_dbfs", 0.0));
    }
    printFile("MP3 copy:", s.at("mp3_copy"), "bytes_written");
    printFile("Recording:", s.at("recording"), "bytes_written");
    printFile("Playback:", s.at("playback"), "bytes_played");
    for (const json& relay : s.at("relays")) {
        std::printf("%-11s %s %s%s%s\n", "Relay:", text(relay, "target").c_str(),
                    text(relay, "state").c_str(), text(relay, "reason").empty() ? "" : ": ",
                    text(relay, "reason").c_str());
    }
    const json& directory = s.at("directory");
    const json& last = directory.at("last_request");
    if (directory.value("offline", false)) {
        std::printf("%-11s offline\n", "Directory:");
    } else if (last.is_object()) {
        std::printf("%-11s %s at %s: %s\n", "Directory:", text(last, "action").c_str(),
                    text(last, "time").c_str(), text(last, "result").c_str());
    }
}

}  // namespace

bool fetchStatus(const std::string& host, int port, int waitMs, std::string& body, bool quiet) {
    return fetch(host, port, waitMs, "/status.json", body, quiet);
}

bool isStatusCommand(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (takesValue(arg)) {
            ++i;
        } else if (arg.empty() || arg[0] != '-') {
            return arg == "status";
        }
    }
    return false;
}

int statusCommand(int argc, char** argv) {
    Endpoint found;
    if (!findEndpoint(PortKind::Status, found)) {
        return kExitUsage;
    }
    std::string host = found.host;
    int port = found.port;
    int waitMs = 5000;
    bool raw = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg == "status") {
            continue;
        }
        if (arg == "--json") {
            raw = true;
        } else if (arg == "--host" && i + 1 < argc) {
            host = argv[++i];
        } else if ((arg == "--status-port" || arg == "--wait") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--status-port" ? !parseInt(value, 1, 65535, port)
                                       : !parseInt(value, 1, 600000, waitMs)) {
                std::fprintf(stderr, "vandorixctl: bad value for %s: %s\n", argv[i - 1], value);
                return kExitUsage;
            }
        } else {
            std::fprintf(stderr,
                         "usage: vandorixctl status [--host H] [--status-port P] [--wait MS] [--json]\n");
            return kExitUsage;
        }
    }
    std::string body;
    if (!fetchStatus(host, port, waitMs, body)) {
        return kExitUnreachable;
    }
    try {
        const json status = json::parse(body);
        const std::string state = text(status, "state");
        if (state.empty()) {
            throw std::runtime_error("no state in the answer");
        }
        if (raw) {
            std::fwrite(body.data(), 1, body.size(), stdout);
        } else {
            printSummary(status);
        }
        if (std::fflush(stdout) != 0) {
            return kExitUnreachable;
        }
        return vx::onAirStateName(state) ? kExitOnAir : kExitNotOnAir;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vandorixctl: the answer is no station status: %s\n", e.what());
        return kExitUnreachable;
    }
}

}  // namespace vx::ctl
