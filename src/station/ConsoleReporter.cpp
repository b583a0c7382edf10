#include "station/ConsoleReporter.h"

#include "platform/ErrorLine.h"
#include "station/Station.h"

#include <QRegularExpression>

namespace {
const QString kTitle = QString::fromLatin1(vx::kStationTitle);
}  // namespace

ConsoleReporter::ConsoleReporter(Station& station) : QObject(&station) {
    connect(&station, &Station::message, this, [](const QString& text) { print(kTitle, text); });
    connect(&station, &Station::errorReport, this, [](const QString& what, const QString& name, int num) {
        print(kTitle, Station::reportText(what, name, num));
    });
}

QString ConsoleReporter::oneLine(const QString& caption, const QString& text) {
    static const QRegularExpression breaks(QStringLiteral("[\\r\\n]+"));
    return caption + QStringLiteral(": ") + QString(text).replace(breaks, QStringLiteral(" | "));
}

void ConsoleReporter::print(const QString& caption, const QString& text) {
    vx::writeErrorLine(oneLine(caption, text));
}
