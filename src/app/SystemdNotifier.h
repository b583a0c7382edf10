// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class Station;
struct StationStatus;
class QTimer;

// Tells systemd how the station is doing, when it runs as a service of Type=notify: READY=1 once it is
// up, STATUS= a short line at each change and every few seconds, WATCHDOG=1 from the event loop (so a
// hung loop gets the service restarted) and STOPPING=1 at the close. Without NOTIFY_SOCKET it does
// nothing at all.
// Thread contract: the main thread.
class SystemdNotifier : public QObject {
public:
    explicit SystemdNotifier(Station& station, QObject* parent = nullptr);

    // The station is up (with --start: on the air).
    void ready();
    // The close has begun; said once.
    void stopping();

    // "On air, 12 listeners, relay on air": what systemctl status shows.
    static QString statusLine(const StationStatus& status);

private:
    void sendStatus();
    static void notify(const QString& assignments);

    Station& station_;
    bool active_ = false;
    bool stopping_ = false;
};
