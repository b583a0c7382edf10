// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/FrontEnd.h"
#include "station/ConsoleReporter.h"
#include "station/Station.h"

#include <memory>

// A station without a display: the station, its console reporter, and the start-up and close that the
// window would run, without a widget.
// Thread contract: the main thread.
class HeadlessStation : public FrontEnd {
public:
    explicit HeadlessStation(const StationEnvironment& env);

    Station& station() override { return *station_; }
    bool StartupAborted() const override { return startupAborted_; }
    // Saves "Optionen.ini", stops a broadcast and quits the event loop.
    bool closeForSignal() override;

private:
    std::unique_ptr<Station> station_;
    ConsoleReporter* reporter_ = nullptr;
    bool startupAborted_ = false;
};
