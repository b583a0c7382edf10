// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/GuardedApplication.h"

#include <QApplication>

// The application object of the station with its window.
class StationApplication : public GuardedApplication<QApplication> {
public:
    StationApplication(int& argc, char** argv);
};
