// SPDX-License-Identifier: GPL-3.0-or-later
// The station's wiring of its remote-control port, and the end of the process that "Ende" asks for.
#include "station/Station.h"

#include <QThread>

void Station::buildRemoteControl() {
    remote_ = std::make_unique<RemoteControlService>(
        env_.remoteControlPort, env_.remoteControlAddress,
        RemoteControlService::Commands{
            .trace = [this](const char* name) { trace(name); },
            .step = [this](int n) { step(n); },
            .guarded = [this](const std::function<void()>& handler) { Guarded(handler); },
            .state = [this] { return state(); },
            .start = [this] { Start(); },
            .stop = [this] { Stop(); },
            .end = [this] { End(); },
            .clients = [this] { return status()->clients; },
            .setInfoText = [this](const QString& text) { setInfoText(text); },
        });
    // A port in use leaves the station without remote control rather than not at all. Nobody listens to
    // the station yet: the line goes out with start-up's messages, once.
    if (const QString refused = remote_->listen(); !refused.isEmpty()) {
        startupMessages_ << refused;
    }
}

void Station::startupFinished() {
    remote_->startupFinished();
}

void Station::beforeProcessEnd(std::function<void()> action) {
    EndProcess = [action = std::move(action), end = std::move(EndProcess)] {
        action();
        end();
    };
}

void Station::End() {
    trace("RemoteControlClientRead");
    step(6);
    auto ende = [this] {
        // The process ends even when the stop failed part-way; the failure has been reported.
        Guarded([this] {
            if (state() == StationState::Stopped) {
                directory_->DirectoryOffAir();  // the stop's report, with no broadcast to stop
            } else {
                Stop();
            }
        });
        step(7);
        QThread::msleep(2000);
        EndProcess();
    };
    // A playback runs beneath this command, in its waits: it ends first, then the station.
    if (!AfterPlayback([this, ende] {
            trace("RemoteControlClientRead");
            step(6);
            Guarded(ende);
        })) {
        ende();
    }
}
