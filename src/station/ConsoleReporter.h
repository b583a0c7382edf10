// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class Station;

// What a station without a window shows: each message box and error report as one line on standard
// error, in the station's language.
class ConsoleReporter : public QObject {
public:
    explicit ConsoleReporter(Station& station);

    // The one-line form of a message: the caption, then the text with its line breaks as " | ".
    static QString oneLine(const QString& caption, const QString& text);
    static void print(const QString& caption, const QString& text);
};
