// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusOptions.h"

#include <QRegularExpression>

#include <cmath>

namespace vx::status {

namespace {

// A null value is an option not given.
bool takeNumber(const QString& value, const char* name, double low, double high, double& out,
                QString& error) {
    if (value.isNull()) {
        return true;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < low || number > high) {
        error =
            QStringLiteral("--%1 needs a number from %2 to %3").arg(QLatin1String(name)).arg(low).arg(high);
        return false;
    }
    out = number;
    return true;
}

}  // namespace

bool parseListenAddress(const QString& text, StatusOptions& options) {
    if (text == QLatin1String("off")) {
        options.enabled = false;
        return true;
    }
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0) {
        return false;
    }
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
    } else if (host.contains(QLatin1Char(':'))) {
        return false;  // an IPv6 address needs its brackets, or the port could not be told apart
    }
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    if (host.isEmpty() || !ok || port < 1 || port > 65535) {
        return false;
    }
    options.enabled = true;
    options.host = host;
    options.port = port;
    return true;
}

bool takeHostNames(const QStringList& names, StatusOptions& options, QString& error) {
    static const QRegularExpression hostName(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9.-]{0,252})$"));
    for (const QString& name : names) {
        if (!hostName.match(name).hasMatch()) {
            error = QStringLiteral("--status-host needs a host name (letters, digits, dots, hyphens): %1")
                        .arg(name);
            return false;
        }
        options.hostNames.append(name);
    }
    return true;
}

bool takeSilenceOptions(const QString& threshold, const QString& after, StatusOptions& options,
                        QString& error) {
    return takeNumber(threshold, "silence-threshold", -120.0, 0.0, options.silenceThresholdDb, error) &&
           takeNumber(after, "silence-after", 0.0, 86400.0, options.silenceAfterSeconds, error);
}

}  // namespace vx::status
