// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HeadlessStation.h"

#include <QCoreApplication>

HeadlessStation::HeadlessStation(const StationEnvironment& env)
    : station_(std::make_unique<Station>(env)), reporter_(new ConsoleReporter(*station_)) {
    Station& s = *station_;
    s.Guarded([&] { startupAborted_ = !s.startUp(); });
    s.startupFinished();
}

bool HeadlessStation::closeForSignal() {
    Station& s = *station_;
    bool saved = false;
    s.Guarded([&] {
        s.close();
        saved = true;
    });
    if (saved) {
        QCoreApplication::exit(0);
    }
    return saved;
}
