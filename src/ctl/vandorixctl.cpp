// SPDX-License-Identifier: GPL-3.0-or-later
// vandorixctl: drives a running station over its remote-control port.
//
//   vandorixctl [--host H] [--port P] [--wait MS] [--status-port P] [--check-wait MS] [--no-check]
//               Start|Stop|Ende|Liste
//   vandorixctl [--host H] [--port P] info TEXT   (sets the info text, the stream's title)
//   vandorixctl status [--host H] [--status-port P] [--json]   (see StatusCommand.h)
//
// Sends the command followed by the four-byte terminator (FF FF FF FF). For "Liste" it prints every
// answer element (a listener address) on its own line; the station marks no end of the list, so the
// answer is read until the station has been silent for a moment or --wait milliseconds have passed.
// Then it looks for the command's effect (EffectCheck.h) unless --no-check.
// Exit status: 0 sent and its effect seen, 1 connection or send failure or no effect, 2 usage, 4 sent
// but the status port does not answer, so the effect is unknown.
// By path: this client needs nothing else of the station's sources.
#include "../platform/StationConstants.h"
#include "CtlNet.h"
#include "EffectCheck.h"
#include "StatusCommand.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kTerminator = vx::kRemoteTerminator;
constexpr int kQuietMs = 300;  // after the last answer bytes, this much silence ends the list

constexpr char kUsage[] =
    "usage: vandorixctl [--host H] [--port P] [--wait MS] [--status-port P] [--check-wait MS]\n"
    "                   [--no-check] Start|Stop|Ende|Liste\n"
    "       vandorixctl [--host H] [--port P] info TEXT\n"
    "       vandorixctl status [--host H] [--status-port P] [--wait MS] [--json]\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int help() {
    std::fputs(kUsage, stdout);
    std::fputs(
        "\nSends one command to a running vandorixserver over its remote-control port, or asks its status\n"
        "port how it is.\n"
        "  Start   start the broadcast      Stop   stop it\n"
        "  Ende    end the station          Liste  print the listeners' addresses, one a line\n"
        "  info TEXT  set the info text (UTF-8, at most 255 characters): the title players show\n"
        "  status  a summary from the status port (--json: the whole document)\n"
        "\n"
        "  --host H         the station's host (default 127.0.0.1)\n"
        "  --port P         the remote-control port (default 6566)\n"
        "  --status-port P  the status port (default 6567)\n"
        "  --wait MS        how long to wait for an answer (default 2000)\n"
        "  --check-wait MS  how long Start, Stop and Ende may take to show (default 10000)\n"
        "  --no-check       send the command without looking for its effect\n"
        "  -h, --help  this help;  -v, --version  the version\n"
        "\n"
        "Without --host and --port it finds the installed service's ports: VANDORIX_REMOTE and\n"
        "VANDORIX_STATUS (HOST:PORT or PORT), else /etc/vandorixserver/vandorixserver.conf where it may\n"
        "be read (VANDORIX_CONFIG names another file), else the defaults.\n"
        "\n"
        "After Start and Stop the status port must show the station on the air or stopped, after Ende\n"
        "the station must close, after Liste its status must still move on.\n"
        "\n"
        "Exit codes: 0 sent and done (status: on air), 1 connection or send failed, or the command had\n"
        "no effect (status: unreachable), 2 usage, 3 status: running but not on air, 4 sent, but the\n"
        "status port does not answer, so the effect is unknown.\n",
        stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (vx::ctl::isStatusCommand(argc, argv)) {
        return vx::ctl::statusCommand(argc, argv);
    }
    vx::ctl::Endpoint found;
    if (!vx::ctl::findEndpoint(vx::ctl::PortKind::Remote, found)) {
        return 2;
    }
    std::string host = found.host;
    int port = found.port;
    int waitMs = 2000;
    // The status port tells whether a command took effect; the service's is found as the remote one is.
    vx::ctl::Endpoint statusFound;
    if (!vx::ctl::findEndpoint(vx::ctl::PortKind::Status, statusFound)) {
        return 2;
    }
    int statusPort = statusFound.port;
    int checkWaitMs = 10000;
    bool check = true;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if ((arg == "--host" || arg == "--port" || arg == "--wait" || arg == "--status-port" ||
             arg == "--check-wait") &&
            i + 1 < argc) {
            const char* value = argv[++i];
            const bool ok = arg == "--host"          ? (host = value, true)
                            : arg == "--port"        ? vx::ctl::parseInt(value, 1, 65535, port)
                            : arg == "--status-port" ? vx::ctl::parseInt(value, 1, 65535, statusPort)
                            : arg == "--wait"        ? vx::ctl::parseInt(value, 0, 600000, waitMs)
                                                     : vx::ctl::parseInt(value, 0, 600000, checkWaitMs);
            if (!ok) {
                std::fprintf(stderr, "vandorixctl: bad value for %s: %s\n", argv[i - 1], value);
                return 2;
            }
        } else if (arg == "--no-check") {
            check = false;
        } else if (arg == "-h" || arg == "--help") {
            return help();
        } else if (arg == "-v" || arg == "--version") {
            std::puts("vandorixctl " VX_VERSION);
            return 0;
        } else if (arg.starts_with('-')) {
            std::fprintf(stderr, "vandorixctl: unknown option '%s' (or it lacks its value)\n", argv[i]);
            return usage();
        } else if (command.empty() && arg == "info" && i + 1 < argc) {
            const std::string_view text(argv[++i]);
            std::size_t characters = 0;
            for (const char c : text) {
                characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
            }
            if (characters > 255) {
                std::fputs("vandorixctl: the info text is longer than 255 characters\n", stderr);
                return 2;
            }
            command = std::string(vx::kRemoteInfo) + std::string(text);
        } else if (command.empty() && (arg == vx::kRemoteStart || arg == vx::kRemoteStop ||
                                       arg == vx::kRemoteEnd || arg == vx::kRemoteList)) {
            command = arg;
        } else {
            return usage();
        }
    }
    if (command.empty()) {
        return usage();
    }

    const int fd = vx::ctl::connectTo(host, port);
    if (fd < 0) {
        return 1;
    }
    if (!vx::ctl::sendAll(fd, command + std::string(kTerminator))) {
        ::close(fd);
        return 1;
    }
    if (command == vx::kRemoteList) {
        const std::string answer = vx::ctl::readAnswer(fd, waitMs, kQuietMs);
        // Each element ends with the terminator; a tail without one was cut off and is not an address.
        std::size_t from = 0;
        for (std::size_t at = answer.find(kTerminator); at != std::string::npos;
             at = answer.find(kTerminator, from)) {
            std::fwrite(answer.data() + from, 1, at - from, stdout);
            std::fputc('\n', stdout);
            from = at + kTerminator.size();
        }
    }
    if (std::fflush(stdout) != 0) {
        ::close(fd);
        return 1;
    }
    const int result = check ? vx::ctl::checkEffect(command, {host, port, statusPort, checkWaitMs}, fd) : 0;
    ::close(fd);
    return result;
}
