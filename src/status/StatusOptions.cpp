#include "status/StatusOptions.h"

#include "platform/ErrorLine.h"

#include <cmath>

namespace vx::status {

namespace {

// The value after the option, taken off with it; a null string when the option is absent, an empty
// one when it stands last without a value.
QString takeValue(QStringList& args, const QString& name) {
    const qsizetype i = args.indexOf(name);
    if (i < 1) {
        return {};
    }
    if (i + 1 >= args.size()) {
        args.remove(i);
        return QStringLiteral("");
    }
    const QString value = args.at(i + 1);
    args.remove(i, 2);
    return value;
}

bool takeNumber(QStringList& args, const QString& name, double low, double high, double& out) {
    const QString value = takeValue(args, name);
    if (value.isNull()) {
        return true;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number) || number < low || number > high) {
        vx::writeErrorLine(QStringLiteral("%1 needs a number from %2 to %3").arg(name).arg(low).arg(high));
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
    if (host.isEmpty() || !ok || port < 0 || port > 65535) {
        return false;
    }
    options.enabled = true;
    options.host = host;
    options.port = port;
    return true;
}

bool takeStatusOptions(QStringList& args, StatusOptions& options) {
    const QString listen = takeValue(args, QStringLiteral("--status-listen"));
    if (!listen.isNull() && !parseListenAddress(listen, options)) {
        vx::writeErrorLine(
            QStringLiteral("--status-listen needs ADDRESS:PORT (127.0.0.1:6567, [::1]:6567) or off"));
        return false;
    }
    return takeNumber(args, QStringLiteral("--silence-threshold"), -120.0, 0.0, options.silenceThresholdDb) &&
           takeNumber(args, QStringLiteral("--silence-after"), 0.0, 86400.0, options.silenceAfterSeconds);
}

}  // namespace vx::status
