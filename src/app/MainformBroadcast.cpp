// Worker runs, broadcast start and stop, stream distribution.
#include "app/TMainform.h"

#include <QLocale>
#include <QRegularExpression>

void TMainform::buildBroadcast() {}

// Provisional until capture, codec stream and listener port join the window.
void TMainform::ConnectrbtnClick(QObject* /*Sender*/) {}
void TMainform::DisconnectrbtnClick(QObject* /*Sender*/) {}

QString TMainform::DateTimetoFilename(const QDateTime& DateTime) {
    trace("DateTimetoFilename");
    const QLocale locale;
    // The regional long time format without its time zone, which a file name does not need.
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(zone);
    QString text = locale.toString(DateTime.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                   locale.toString(DateTime.time(), timeFormat.trimmed());
    step(2);
    text.replace(QLatin1Char('.'), QLatin1Char('-'));
    step(3);
    text.replace(QLatin1Char(':'), QLatin1Char('-'));
    step(4);
    // A date written with "/" would otherwise turn the file name into a path.
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    step(5);
    return text;
}
