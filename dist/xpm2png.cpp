// SPDX-License-Identifier: GPL-3.0-or-later
// Build step: turns the program's XPM icon into the PNG that desktop icon themes expect.
#include <QImage>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: xpm2png IN.xpm OUT.png\n");
        return 2;
    }
    const QImage icon(QString::fromLocal8Bit(argv[1]));
    if (icon.isNull() || !icon.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "xpm2png: cannot convert %s to %s\n", argv[1], argv[2]);
        return 1;
    }
    return 0;
}
