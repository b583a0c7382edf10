// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;
class Station;

// Turns SIGTERM, SIGINT and SIGHUP into one close of the station on the main thread, through a
// self-pipe, since nothing else may run inside a signal handler. The first signal closes; any later one
// changes nothing, whether the close is still waiting or under way. A playback or a stop under way
// (both wait in an event loop of their own) ends first, then the close runs.
// Thread contract: the main thread.
class SignalCloser : public QObject {
public:
    // `close`: the front end's own close (the settings saved, a broadcast stopped, the texts released),
    // which ends the event loop when it succeeds; false when the settings could not be written, which it
    // has reported. A daemon has nobody to try again: the broadcast is stopped all the same and the
    // program ends with exit code 1.
    SignalCloser(Station& station, std::function<bool()> close, QObject* parent = nullptr);
    ~SignalCloser() override;

    // What a signal does; also for a test that has no signal to send.
    void closeOnSignal();
    // A signal has come: a start that the close ends meanwhile is no failed start.
    bool signalled() const { return signalled_; }
    // Runs once, at the first signal, before anything waits (a service manager hears "stopping").
    std::function<void()> OnSignal;

private:
    void closeNow();

    Station& station_;
    std::function<bool()> close_;
    QSocketNotifier* notifier_ = nullptr;
    bool signalled_ = false;
};
