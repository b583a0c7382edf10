// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;
class Station;

// Turns SIGTERM, SIGINT and SIGHUP into a call on the window thread (the normal close of the window), through
// a self-pipe, since nothing else may run inside a signal handler.
class SignalCloser : public QObject {
public:
    explicit SignalCloser(std::function<void()> onSignal, QObject* parent = nullptr);
    ~SignalCloser() override;

private:
    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

// A signal can arrive while a stop waits for the directory, in its event loop: closing there would
// release the texts the stop still shows. True when a stop is under way; `close` then runs once it is
// over.
bool closeAfterStopUnderWay(Station& station, std::function<void()> close);
