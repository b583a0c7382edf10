// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The status port and the dead-air check as the command line sets them.
namespace vx::status {

inline constexpr int kDefaultStatusPort = 6567;

struct StatusOptions {
    bool enabled = true;  // "--status-listen off" turns the port off
    // Loopback unless told otherwise: the port answers anyone who reaches it.
    QString host = QStringLiteral("127.0.0.1");
    int port = kDefaultStatusPort;
    // Host names a request may give besides the loopback ones and the address reached.
    QStringList hostNames;
    double silenceThresholdDb = -50.0;
    double silenceAfterSeconds = 30.0;
};

// --silence-threshold DB (-120 to 0) and --silence-after SECONDS (0 to a day). False, with the reason in
// `error`, for a value that is no number in its range.
bool takeSilenceOptions(const QString& threshold, const QString& after, StatusOptions& options,
                        QString& error);

// --status-host NAME, repeatable: a host name, no port, no path. False, with the reason, otherwise.
bool takeHostNames(const QStringList& names, StatusOptions& options, QString& error);

// "127.0.0.1:6567", "[::1]:6567", "0.0.0.0:8080" or "off". False for anything else, port 0 too: a port
// the system chooses could be found by no client.
bool parseListenAddress(const QString& text, StatusOptions& options);

}  // namespace vx::status
