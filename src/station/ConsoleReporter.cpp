#include "station/ConsoleReporter.h"

#include "platform/ErrorLine.h"
#include "station/Station.h"

#include <QRegularExpression>

namespace {
const QString kTitle = QString::fromLatin1(vx::kStationTitle);
}  // namespace

ConsoleReporter::ConsoleReporter(Station& station) : QObject(&station) {
    connect(&station, &Station::message, this, [](const QString& text) { print(kTitle, text); });
    // Nobody asks a daemon's log which file the step's number means: the line names it.
    connect(&station, &Station::errorReport, this,
            [](const QString& what, const QString& name, int num, const QString& file) {
                print(kTitle, Station::reportText(file.isEmpty() ? what : file + QStringLiteral(": ") + what,
                                                  name, num));
            });
}

QString ConsoleReporter::oneLine(const QString& caption, const QString& text) {
    static const QRegularExpression breaks(QStringLiteral("[\\r\\n]+"));
    return caption + QStringLiteral(": ") + QString(text).replace(breaks, QStringLiteral(" | "));
}

void ConsoleReporter::print(const QString& caption, const QString& text) {
    vx::writeErrorLine(oneLine(caption, text));
}
