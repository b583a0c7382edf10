// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/DirectoryClient.h"

#include "net/THTTPGet.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace {

const QString kFailure = QStringLiteral("Error");
const QString kAgent = QStringLiteral("KTVandorixv30");
// Far beyond any code the directory answers with; a longer answer is no answer of the directory.
constexpr int64_t kMaxAnswerBytes = 64 * 1024;
constexpr int kStatusIntervalMs = 900000;

std::unique_ptr<THTTPGet> component(bool waitThread) {
    auto http = std::make_unique<THTTPGet>();
    http->AcceptTypes = QStringLiteral("*/*");
    http->Agent = kAgent;
    http->BinaryData = false;
    http->UseCache = false;
    http->WaitThread = waitThread;
    http->MaxAnswerBytes = kMaxAnswerBytes;
    return http;
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

DirectoryClient::DirectoryClient(const StationSettings& settings, Hooks hooks)
    : settings_(settings),
      hooks_(std::move(hooks)),
      HTTP(component(true)),
      HTTPHoerer(component(false)),
      DBTimer(std::make_unique<QTimer>()) {
    DBTimer->setInterval(kStatusIntervalMs);
    QObject::connect(DBTimer.get(), &QTimer::timeout, DBTimer.get(),
                     [this] { hooks_.guarded([this] { DBTimerTimer(); }); });
}

DirectoryClient::~DirectoryClient() = default;

void DirectoryClient::setDeadlines(int requestMs, int offAirMs) {
    DirectoryDeadlineMs = requestMs;
    OffAirDeadlineMs = offAirMs;
}

void DirectoryClient::setReportInterval(int ms) {
    DBTimer->setInterval(ms);
}

bool DirectoryClient::idle() const {
    return !HTTP->Running() && !HTTPHoerer->Running();
}

void DirectoryClient::abortRequest() {
    HTTP->AbortRequest();
}

void DirectoryClient::startReports() {
    DBTimer->start();
}

void DirectoryClient::stopReports() {
    DBTimer->stop();
}

bool DirectoryClient::reportsRunning() const {
    return DBTimer->isActive();
}

void DirectoryClient::registerStation() {
    registrationRequest(
        stationUrl(settings_, QStringLiteral("register")) + QStringLiteral("&email=") + settings_.email,
        QStringLiteral("register"), QStringLiteral("E105"), 36, 37);
}

void DirectoryClient::deleteStation() {
    registrationRequest(stationUrl(settings_, QStringLiteral("delete")), QStringLiteral("delete"),
                        QStringLiteral("E106"), 39, 40);
}

void DirectoryClient::registrationRequest(const QString& url, const QString& action, const QString& success,
                                          int okMessage, int failMessage) {
    if (settings_.offline) {
        return;
    }
    hooks_.step(2);
    if (!inputValid(settings_, true)) {
        hooks_.show(30, {});
        return;
    }
    hooks_.step(3);
    HTTP->URL = url;
    HTTP->TimeoutMs = DirectoryDeadlineMs;
    const QString answer = fetchDropping(*HTTP);
    note(action, answer);
    hooks_.step(4);
    if (answer == success) {
        hooks_.show(okMessage, {});
    } else {
        hooks_.show(failMessage, answer);
    }
}

void DirectoryClient::DBTimerTimer() {
    hooks_.trace("DBTimerTimer");
    if (settings_.offline) {
        return;
    }
    hooks_.step(2);
    if (!inputValid(settings_, false)) {
        // No further reports until the next broadcast start.
        DBTimer->stop();
        hooks_.show(30, {});
        return;
    }
    hooks_.step(3);
    HTTP->URL = stationUrl(settings_, QStringLiteral("setstatus"));
    HTTP->TimeoutMs = DirectoryDeadlineMs;
    const uint64_t offAirBefore = offAirReports_;
    const QString answer = fetchDropping(*HTTP);
    // After an off-air report during the wait the answer concerns a broadcast that has ended, and the
    // off-air report has been noted since.
    if (offAirReports_ != offAirBefore) {
        return;
    }
    note(QStringLiteral("setstatus"), answer);
    if (answer != QLatin1String("E100")) {
        hooks_.show(38, {});
    }
}

void DirectoryClient::reportListeners(int count) {
    HTTPHoerer->URL = listenerCountUrl(settings_, count);
    HTTPHoerer->TimeoutMs = DirectoryDeadlineMs;
    HTTPHoerer->StartRequest();  // dropped while the previous count is still on its way
    note(QStringLiteral("hoererupdate"), QStringLiteral("sent"));
}

void DirectoryClient::note(const QString& action, const QString& result) {
    // The answer is the directory's text: a short code, or an error page that need not be kept whole.
    last_ = {action, QDateTime::currentDateTimeUtc(),
             result.isEmpty() ? QStringLiteral("no answer") : result.left(200)};
    hooks_.noted();
}

void DirectoryClient::DirectoryOffAir() {
    hooks_.step(1);
    if (settings_.offline) {
        return;
    }
    ++offAirReports_;
    hooks_.step(2);
    if (!settings_.radioName.isEmpty() && !settings_.password.isEmpty() &&
        settings_.password == settings_.passwordConfirm) {
        hooks_.step(3);
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
        hooks_.step(4);
        const QString answer = HTTP->FetchText(kFailure);
        note(QStringLiteral("setoff"), answer);
        if (answer != QLatin1String("E108")) {
            hooks_.step(5);
            hooks_.show(29, {});
        }
    } else {
        hooks_.step(6);
        hooks_.show(30, {});
    }
    hooks_.step(7);
    HTTPHoerer->URL = listenerCountUrl(settings_, 0);
    HTTPHoerer->TimeoutMs = DirectoryDeadlineMs;
    hooks_.step(8);
    HTTPHoerer->StartRequest();
}
