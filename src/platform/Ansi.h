// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Texts in settings records and on the wire are in the ANSI code page (Windows-1252); inside the program
// they are QString. These two functions are the only crossing.
namespace vx {

// Characters that Windows-1252 cannot represent become '?'.
QByteArray toAnsi(const QString& text);
QString fromAnsi(const QByteArray& bytes);

}  // namespace vx
