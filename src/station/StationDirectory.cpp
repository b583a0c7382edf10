// SPDX-License-Identifier: GPL-3.0-or-later
// Directory registration, status and listener-count reports, the statistics sample.
#include "station/Station.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace {

const QString kFailure = QStringLiteral("Error");
const QString kAgent = QStringLiteral("KTVandorixv30");
// Far beyond any code the directory answers with; a longer answer is no answer of the directory.
constexpr int64_t kMaxAnswerBytes = 64 * 1024;

void configure(THTTPGet& http, bool waitThread) {
    http.AcceptTypes = QStringLiteral("*/*");
    http.Agent = kAgent;
    http.BinaryData = false;
    http.UseCache = false;
    http.WaitThread = waitThread;
    http.MaxAnswerBytes = kMaxAnswerBytes;
}

// The directory takes the values exactly as typed: nothing is escaped here.
QString stationUrl(const StationSettings& s, const QString& action) {
    return s.directoryUrl + QStringLiteral("index.php?action=") + action + QStringLiteral("&nic=") +
           s.radioName + QStringLiteral("&pass=") + s.password + QStringLiteral("&port=") +
           QString::number(s.port);
}

QString listenerCountUrl(const StationSettings& s, int count) {
    return s.directoryUrl + QStringLiteral("index.php?action=hoererupdate&hoerer=") + QString::number(count) +
           QStringLiteral("&radioname=") + s.radioName + QStringLiteral("&passwort=") + s.password;
}

// Register and delete need a name without blanks and an e-mail address; the reports only a name and
// the confirmed password.
bool inputValid(const StationSettings& s, bool registration) {
    if (registration && (s.radioName.contains(QLatin1Char(' ')) || s.email.isEmpty())) {
        return false;
    }
    return !s.radioName.isEmpty() && !s.password.isEmpty() && s.password == s.passwordConfirm;
}

QString fetchDropping(THTTPGet& http) {
    try {
        return http.FetchText(kFailure);
    } catch (const std::exception&) {
        return QString();
    }
}

}  // namespace

void Station::buildDirectory() {
    HTTP = std::make_unique<THTTPGet>();
    configure(*HTTP, true);
    HTTPHoerer = std::make_unique<THTTPGet>();
    configure(*HTTPHoerer, false);
    connect(DBTimer, &QTimer::timeout, this, [this] { Guarded([this] { DBTimerTimer(); }); });
    connect(StatsTimer, &QTimer::timeout, this, [this] { Guarded([this] { StatsTimerTimer(); }); });
}

void Station::Register() {
    trace("AnmeldeBtnClick");
    registrationRequest(
        stationUrl(settings_, QStringLiteral("register")) + QStringLiteral("&email=") + settings_.email,
        QStringLiteral("E105"), 36, 37);
}

void Station::Unregister() {
    trace("AbmeldeBtnClick");
    registrationRequest(stationUrl(settings_, QStringLiteral("delete")), QStringLiteral("E106"), 39, 40);
}

void Station::registrationRequest(const QString& url, const QString& success, int okMessage,
                                  int failMessage) {
    if (OfflineMode) {
        return;
    }
    step(2);
    if (!inputValid(settings_, true)) {
        emit message(Msg(30));
        return;
    }
    step(3);
    HTTP->URL = url;
    HTTP->TimeoutMs = DirectoryDeadlineMs;
    const QString answer = fetchDropping(*HTTP);
    noteDirectoryRequest(url.contains(QStringLiteral("action=register")) ? QStringLiteral("register")
                                                                         : QStringLiteral("delete"),
                         answer);
    step(4);
    if (answer == success) {
        emit message(Msg(okMessage));
    } else {
        emit message(Msg(failMessage) + answer);
    }
}

void Station::DBTimerTimer() {
    trace("DBTimerTimer");
    if (OfflineMode) {
        return;
    }
    step(2);
    if (!inputValid(settings_, false)) {
        // No further reports until the next broadcast start.
        DBTimer->stop();
        emit message(Msg(30));
        return;
    }
    step(3);
    HTTP->URL = stationUrl(settings_, QStringLiteral("setstatus"));
    HTTP->TimeoutMs = DirectoryDeadlineMs;
    const uint64_t stopsBefore = StopCount;
    const QString answer = fetchDropping(*HTTP);
    // After a stop during the wait the answer concerns a broadcast that has ended, and the off-air
    // report has been noted since.
    if (StopCount != stopsBefore) {
        return;
    }
    noteDirectoryRequest(QStringLiteral("setstatus"), answer);
    if (answer != QLatin1String("E100")) {
        emit message(Msg(38));
    }
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
    HTTPHoerer->URL = listenerCountUrl(settings_, listeners);
    HTTPHoerer->TimeoutMs = DirectoryDeadlineMs;
    HTTPHoerer->StartRequest();  // dropped while the previous count is still on its way
    noteDirectoryRequest(QStringLiteral("hoererupdate"), QStringLiteral("sent"));
}

void Station::noteDirectoryRequest(const QString& action, const QString& result) {
    // The answer is the directory's text: a short code, or an error page that need not be kept whole.
    LastDirectoryRequest = {action, QDateTime::currentDateTimeUtc(),
                            result.isEmpty() ? QStringLiteral("no answer") : result.left(200)};
    publishStatus();
}

void Station::DirectoryOffAir() {
    step(1);
    if (OfflineMode) {
        return;
    }
    step(2);
    if (!settings_.radioName.isEmpty() && !settings_.password.isEmpty() &&
        settings_.password == settings_.passwordConfirm) {
        step(3);
        // A status report still on its way (a stop during the start) would make the request below
        // return its answer at once, and the directory would never hear of the stop: the off-air
        // report goes after it, and the two share the stop's deadline.
        QElapsedTimer waited;
        waited.start();
        if (!HTTP->WaitUntilIdle(OffAirDeadlineMs / 2)) {
            HTTP->AbortRequest();
            HTTP->WaitUntilIdle(OffAirDeadlineMs / 2);
        }
        HTTP->URL = stationUrl(settings_, QStringLiteral("setoff"));
        // the stop and the end of the program wait for it
        HTTP->TimeoutMs = std::max(int(OffAirDeadlineMs - waited.elapsed()), OffAirDeadlineMs / 4);
        step(4);
        const QString answer = HTTP->FetchText(kFailure);
        noteDirectoryRequest(QStringLiteral("setoff"), answer);
        if (answer != QLatin1String("E108")) {
            step(5);
            emit message(Msg(29));
        }
    } else {
        step(6);
        emit message(Msg(30));
    }
    step(7);
    HTTPHoerer->URL = listenerCountUrl(settings_, 0);
    HTTPHoerer->TimeoutMs = DirectoryDeadlineMs;
    step(8);
    HTTPHoerer->StartRequest();
}
