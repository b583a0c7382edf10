// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/HeadlessStation.h"

#include "app/SignalCloser.h"

#include <QCoreApplication>

HeadlessStation::HeadlessStation(const StationEnvironment& env)
    : station_(std::make_unique<Station>(env)), reporter_(new ConsoleReporter(*station_)) {
    Station& s = *station_;
    s.Guarded([&] { startupAborted_ = !s.startUp(); });
    s.startupFinished();
}

void HeadlessStation::CloseOnSignal() {
    Station& s = *station_;
    // A playback runs beneath the signal, in its waits: it ends first, then the station closes.
    if (s.AfterPlayback([this] { CloseOnSignal(); })) {
        return;
    }
    if (closing_ || closeAfterStopUnderWay(s, [this] { CloseOnSignal(); })) {
        return;  // a second signal during a close under way changes nothing
    }
    closing_ = true;
    bool saved = false;
    s.Guarded([&] {
        s.close();
        saved = true;
    });
    if (!saved) {
        s.closeUnsaved();
    }
    QCoreApplication::exit(saved ? 0 : 1);
}
