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
    double silenceThresholdDb = -50.0;
    double silenceAfterSeconds = 30.0;
};

// --silence-threshold DB (-120 to 0) and --silence-after SECONDS (0 to a day). False, with the reason in
// `error`, for a value that is no number in its range.
bool takeSilenceOptions(const QString& threshold, const QString& after, StatusOptions& options,
                        QString& error);

// "127.0.0.1:6567", "[::1]:6567", "0.0.0.0:8080" or "off". False for anything else.
bool parseListenAddress(const QString& text, StatusOptions& options);

}  // namespace vx::status
