// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/StationSettings.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;
class THTTPGet;

// The station's side of the web directory: registration, deletion, the quarter-hourly status report,
// the minutely listener count and the off-air report, over two HTTP components (one that waits for its
// answer, one that does not). It reads the settings it is given as they stand at each request and tells
// the station what to show through its hooks; it knows nothing else of the station.
// Thread contract: the thread that made it (Qt's main thread).
class DirectoryClient {
public:
    struct Hooks {
        std::function<void(const char* name)> trace;  // a handler begins (the report's DebugStr)
        std::function<void(int step)> step;           // the step it is at (DebugNum)
        // A message box: language message `message`, followed by `appended` (a directory's answer).
        std::function<void(int message, const QString& appended)> show;
        std::function<void()> noted;  // lastRequest() changed
        // Runs a timer's handler; an error that escapes it ends in the error report.
        std::function<void(const std::function<void()>&)> guarded;
    };
    // What the directory was last asked ("setstatus", ...), when, and what came back; never the URL,
    // which carries the password.
    struct Request {
        QString action;
        QDateTime at;
        QString result;
    };

    // `settings` outlives the client; "offline" ("/WO") in it holds back every request but the count.
    DirectoryClient(const StationSettings& settings, Hooks hooks);
    ~DirectoryClient();
    DirectoryClient(const DirectoryClient&) = delete;
    DirectoryClient& operator=(const DirectoryClient&) = delete;

    // "Anmeldung" and "Abmeldung", within the handler the station traces.
    void registerStation();
    void deleteStation();
    // The status report ("DBTimerTimer"), at once; the start runs it before startReports().
    void DBTimerTimer();
    // The quarter-hourly status reports (DBTimer) from now until stopReports() or failed input checks.
    void startReports();
    void stopReports();
    bool reportsRunning() const;
    // The minutely listener count; dropped while the previous one is still on its way.
    void reportListeners(int count);
    // The stop's steps 1-8: "setoff" (waiting, after a status report still on its way) and the count 0.
    void DirectoryOffAir();

    Request lastRequest() const { return last_; }
    // How long a request may take: the reports and registration, and the off-air report that the stop
    // and the end of the program wait for.
    void setDeadlines(int requestMs, int offAirMs);
    // Milliseconds between two status reports (a quarter of an hour).
    void setReportInterval(int ms);
    // No request of the waiting or of the counting component is under way.
    bool idle() const;
    // Ends a request under way; it counts as failed ("Error").
    void abortRequest();

private:
    void registrationRequest(const QString& url, const QString& action, const QString& success, int okMessage,
                             int failMessage);
    void note(const QString& action, const QString& result);

    const StationSettings& settings_;
    Hooks hooks_;
    std::unique_ptr<THTTPGet> HTTP;        // register, delete, status, off-air: waits for the answer
    std::unique_ptr<THTTPGet> HTTPHoerer;  // listener count: fire and forget
    std::unique_ptr<QTimer> DBTimer;
    int DirectoryDeadlineMs = 20000;
    int OffAirDeadlineMs = 5000;
    // Counts off-air reports: a status report whose wait saw one concerns a broadcast that has ended.
    uint64_t offAirReports_ = 0;
    Request last_;
};
