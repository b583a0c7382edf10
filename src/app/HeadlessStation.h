// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/ConsoleReporter.h"
#include "station/Station.h"

#include <memory>

// A station without a display: the station, its console reporter, and the start-up and close that the
// window would run, without a widget.
// Thread contract: the main thread.
class HeadlessStation {
public:
    explicit HeadlessStation(const StationEnvironment& env);

    Station& station() { return *station_; }
    // True when start-up decided that the program ends at once (no "Server.ini").
    bool StartupAborted() const { return startupAborted_; }
    // SIGTERM, SIGINT and SIGHUP: saves "Optionen.ini", stops a broadcast and quits the event loop; when
    // the settings cannot be written, the error is reported, the broadcast stopped all the same and the
    // program ends with exit code 1.
    void CloseOnSignal();

private:
    std::unique_ptr<Station> station_;
    ConsoleReporter* reporter_ = nullptr;
    bool startupAborted_ = false;
    bool closing_ = false;
};
