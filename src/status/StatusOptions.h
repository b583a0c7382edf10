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

// Takes --status-listen ADDR:PORT|off, --silence-threshold DB and --silence-after SECONDS off the
// arguments. False, with the reason on standard error, for a missing or bad value.
bool takeStatusOptions(QStringList& args, StatusOptions& options);

// "127.0.0.1:6567", "[::1]:6567", "0.0.0.0:8080" or "off". False for anything else.
bool parseListenAddress(const QString& text, StatusOptions& options);

}  // namespace vx::status
