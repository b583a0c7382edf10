// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SystemdNotifier.h"

#include "station/Station.h"

#include <QTimer>

#include <systemd/sd-daemon.h>

#include <algorithm>

namespace {

// The listener count changes without a signal of its own between ticks of the connection test.
constexpr int kStatusIntervalMs = 5000;

QString stateWords(StationState state) {
    switch (state) {
        case StationState::Stopped:
            return QStringLiteral("Stopped");
        case StationState::Starting:
            return QStringLiteral("Starting");
        case StationState::OnAir:
            return QStringLiteral("On air");
        case StationState::RecordOnly:
            return QStringLiteral("Recording");
        case StationState::Playing:
            return QStringLiteral("On air, playing a file");
        case StationState::Stopping:
            return QStringLiteral("Stopping");
    }
    return QString();
}

QString relayWords(const std::vector<StationStatus::Relay>& relays) {
    const auto onAir = std::count_if(relays.begin(), relays.end(), [](const StationStatus::Relay& r) {
        return r.status.state == IcecastRelay::State::OnAir;
    });
    if (relays.size() == 1) {
        switch (relays.front().status.state) {
            case IcecastRelay::State::Stopped:
                return QStringLiteral("relay stopped");
            case IcecastRelay::State::Connecting:
                return QStringLiteral("relay connecting");
            case IcecastRelay::State::OnAir:
                return QStringLiteral("relay on air");
            case IcecastRelay::State::Error:
                return QStringLiteral("relay failing");
        }
    }
    return QStringLiteral("%1 of %2 relays on air").arg(onAir).arg(relays.size());
}

}  // namespace

SystemdNotifier::SystemdNotifier(Station& station, QObject* parent)
    : QObject(parent), station_(station), active_(!qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) {
    if (!active_) {
        return;
    }
    connect(&station_, &Station::stateChanged, this, [this] { sendStatus(); });
    connect(&station_, &Station::listenersChanged, this, [this] { sendStatus(); });
    connect(&station_, &Station::relaysChanged, this, [this] { sendStatus(); });
    auto* statusTimer = new QTimer(this);
    connect(statusTimer, &QTimer::timeout, this, [this] { sendStatus(); });
    statusTimer->start(kStatusIntervalMs);
    // Half the watchdog's time between pings, as systemd advises, so one late tick is no restart.
    uint64_t watchdogUsec = 0;
    if (sd_watchdog_enabled(0, &watchdogUsec) > 0) {
        auto* watchdog = new QTimer(this);
        connect(watchdog, &QTimer::timeout, this, [] { notify(QStringLiteral("WATCHDOG=1")); });
        watchdog->start(int(std::clamp<uint64_t>(watchdogUsec / 2000, 1, 60000)));
    }
}

void SystemdNotifier::ready() {
    if (active_) {
        notify(QStringLiteral("READY=1\nSTATUS=") + statusLine(*station_.status()));
    }
}

void SystemdNotifier::stopping() {
    if (active_ && !stopping_) {
        stopping_ = true;
        notify(QStringLiteral("STOPPING=1\nSTATUS=Stopping"));
    }
}

QString SystemdNotifier::statusLine(const StationStatus& status) {
    QString line = stateWords(status.state);
    if (status.broadcasting) {
        const auto listeners = status.listenerCount();
        line +=
            listeners == 1 ? QStringLiteral(", 1 listener") : QStringLiteral(", %1 listeners").arg(listeners);
    }
    if (!status.relays.empty()) {
        line += QStringLiteral(", ") + relayWords(status.relays);
    }
    return line;
}

void SystemdNotifier::sendStatus() {
    if (!stopping_) {
        notify(QStringLiteral("STATUS=") + statusLine(*station_.status()));
    }
}

void SystemdNotifier::notify(const QString& assignments) {
    sd_notify(0, assignments.toUtf8().constData());
}
