// SPDX-License-Identifier: GPL-3.0-or-later
// The station's wiring of its directory client, and the statistics sample.
#include "station/Station.h"

#include <QTimer>

void Station::buildDirectory() {
    directory_ = std::make_unique<DirectoryClient>(
        settings_, DirectoryClient::Hooks{
                       .trace = [this](const char* name) { trace(name); },
                       .step = [this](int n) { step(n); },
                       .show = [this](int n, const QString& appended) { emit message(Msg(n) + appended); },
                       .noted = [this] { publishStatus(); },
                       .guarded = [this](const std::function<void()>& handler) { Guarded(handler); },
                   });
    connect(StatsTimer, &QTimer::timeout, this, [this] { Guarded([this] { StatsTimerTimer(); }); });
}

void Station::Register() {
    trace("AnmeldeBtnClick");
    directory_->registerStation();
}

void Station::Unregister() {
    trace("AbmeldeBtnClick");
    directory_->deleteStation();
}

void Station::StatsTimerTimer() {
    trace("StatsTimerTimer");
    // The count the views show: the directory, the history and the list never disagree, and the
    // servers' connection lists are not walked again for it.
    const int listeners = status()->listenerCount();
    if (history_.size() == kHistorySize) {
        history_.erase(history_.begin());
    }
    history_.push_back(listeners);
    if (historyTimes_.size() == kHistorySize) {
        historyTimes_.erase(historyTimes_.begin());
    }
    historyTimes_.push_back(QDateTime::currentDateTimeUtc());
    emit statsSample(MaxUser, listeners);
    step(2);
    directory_->reportListeners(listeners);
}
