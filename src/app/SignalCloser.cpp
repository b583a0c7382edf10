// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SignalCloser.h"

#include "station/Station.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

namespace {
constexpr int kClosingSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_fds[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
}
}  // namespace

SignalCloser::SignalCloser(Station& station, std::function<bool()> close, QObject* parent)
    : QObject(parent), station_(station), close_(std::move(close)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0) {
        return;
    }
    notifier_ = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(g_fds[1], buffer, sizeof buffer) > 0) {
        }
        closeOnSignal();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A hang-up (the terminal closed, a service manager's reload) would otherwise end the program
    // without saving its settings.
    for (const int signal : kClosingSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

namespace {

// A signal can arrive while a stop waits for the directory, in its event loop: closing there would
// release the texts the stop still shows. True when a stop is under way; `close` then runs once it is
// over.
bool closeAfterStopUnderWay(Station& station, std::function<void()> close) {
    if (station.state() != StationState::Stopping) {
        return false;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&station, &Station::stateChanged, &station,
                                   [&station, connection, close = std::move(close)](StationState state) {
                                       if (state == StationState::Stopping) {
                                           return;
                                       }
                                       QObject::disconnect(*connection);
                                       // After the stop has returned, not inside its last step.
                                       QTimer::singleShot(0, &station, close);
                                   });
    return true;
}

}  // namespace

void SignalCloser::closeOnSignal() {
    if (signalled_) {
        return;  // the first signal's close is waiting or under way
    }
    signalled_ = true;
    if (OnSignal) {
        OnSignal();
    }
    closeNow();
}

void SignalCloser::closeNow() {
    if (station_.AfterPlayback([this] { closeNow(); }) ||
        closeAfterStopUnderWay(station_, [this] { closeNow(); })) {
        return;
    }
    if (!close_()) {
        station_.closeUnsaved();
        QCoreApplication::exit(1);
    }
}

SignalCloser::~SignalCloser() {
    for (const int signal : kClosingSignals) {
        ::signal(signal, SIG_DFL);
    }
    delete notifier_;
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}
