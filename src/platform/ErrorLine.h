// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// What the station writes to standard error (relay states, a headless station's messages, dropped
// remote-control peers, refused options) often holds text that someone else chose: a relay's mount, a
// file name, a server's answer. A control character in it could end the line and start a forged one.
namespace vx {

// The text with every control character (C0, DEL, C1) and line or paragraph separator written as an
// escape: "\r", "\n", "\t", "\x1b", "\u2028". Everything else stays as it is.
QString escapeControls(const QString& text);
// Writes the text, escaped, as one line to standard error (UTF-8) and flushes it.
void writeErrorLine(const QString& text);

}  // namespace vx
