// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/ConsoleReporter.h"

#include "platform/ErrorLine.h"
#include "station/Station.h"

#include <QRegularExpression>

namespace {
const QString kTitle = QString::fromLatin1(vx::kStationTitle);
}  // namespace

ConsoleReporter::ConsoleReporter(Station& station) : QObject(&station) {
    connect(&station, &Station::message, this, [](const QString& text) { print(kTitle, text); });
    // The journal is read by admins: the line names the file, port or device and the reason; the trace
    // (DebugStr, DebugNum) is the window's error report's, for whoever debugs the program.
    connect(&station, &Station::errorReport, this,
            [](const QString& what, const QString&, int, const QString& file, const QString& plain) {
                print(kTitle, !plain.isEmpty() ? plain
                              : file.isEmpty() ? what
                                               : file + QStringLiteral(": ") + what);
            });
}

QString ConsoleReporter::oneLine(const QString& caption, const QString& text) {
    static const QRegularExpression breaks(QStringLiteral("[\\r\\n]+"));
    return caption + QStringLiteral(": ") + QString(text).replace(breaks, QStringLiteral(" | "));
}

void ConsoleReporter::print(const QString& caption, const QString& text) {
    vx::writeErrorLine(oneLine(caption, text));
}
