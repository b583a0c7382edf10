// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/StationApplication.h"

StationApplication::StationApplication(int& argc, char** argv)
    : GuardedApplication<QApplication>(argc, argv) {
    // No display name: the window systems append one to every window title, and the window's caption
    // is to read exactly as set. The message boxes name the station themselves.
}
