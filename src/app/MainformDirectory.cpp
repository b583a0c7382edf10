// Directory registration, status and listener-count reports, the statistics graph.
#include "app/TMainform.h"
#include "ui/TLogGraph.h"
#include "ui/UserDialogs.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

namespace {

const QString kTitle = QString::fromLatin1(vx::kStationTitle);
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
QString stationUrl(const TMainform& f, const QString& action) {
    return f.ServerDB->text() + QStringLiteral("index.php?action=") + action + QStringLiteral("&nic=") +
           f.RadioName->text() + QStringLiteral("&pass=") + f.Passwort1->text() + QStringLiteral("&port=") +
           QString::number(f.VandorixClientport->value());
}

QString listenerCountUrl(const TMainform& f, int count) {
    return f.ServerDB->text() + QStringLiteral("index.php?action=hoererupdate&hoerer=") +
           QString::number(count) + QStringLiteral("&radioname=") + f.RadioName->text() +
           QStringLiteral("&passwort=") + f.Passwort1->text();
}

// Register and delete need a name without blanks and an e-mail address; the reports only a name and
// the confirmed password.
bool inputValid(const TMainform& f, bool registration) {
    const QString name = f.RadioName->text();
    if (registration && (name.contains(QLatin1Char(' ')) || f.EMail->text().isEmpty())) {
        return false;
    }
    return !name.isEmpty() && !f.Passwort1->text().isEmpty() && f.Passwort1->text() == f.Passwort2->text();
}

QString fetchDropping(THTTPGet& http) {
    try {
        return http.FetchText(kFailure);
    } catch (const std::exception&) {
        return QString();
    }
}

}  // namespace

void TMainform::buildDirectory() {
    HTTP = std::make_unique<THTTPGet>();
    configure(*HTTP, true);
    HTTPHoerer = std::make_unique<THTTPGet>();
    configure(*HTTPHoerer, false);

    connect(AnmeldeBtn, &QPushButton::clicked, this,
            [this] { Guarded(AnmeldeBtn, [this] { AnmeldeBtnClick(AnmeldeBtn); }); });
    connect(AbmeldeBtn, &QPushButton::clicked, this,
            [this] { Guarded(AbmeldeBtn, [this] { AbmeldeBtnClick(AbmeldeBtn); }); });
    connect(DBTimer, &QTimer::timeout, this, [this] { Guarded(DBTimer, [this] { DBTimerTimer(DBTimer); }); });
    connect(StatsTimer, &QTimer::timeout, this,
            [this] { Guarded(StatsTimer, [this] { StatsTimerTimer(StatsTimer); }); });
}

void TMainform::AnmeldeBtnClick(QObject* /*Sender*/) {
    trace("AnmeldeBtnClick");
    registrationRequest(
        stationUrl(*this, QStringLiteral("register")) + QStringLiteral("&email=") + EMail->text(),
        QStringLiteral("E105"), 36, 37);
}

void TMainform::AbmeldeBtnClick(QObject* /*Sender*/) {
    trace("AbmeldeBtnClick");
    registrationRequest(stationUrl(*this, QStringLiteral("delete")), QStringLiteral("E106"), 39, 40);
}

void TMainform::registrationRequest(const QString& url, const QString& success, int okMessage,
                                    int failMessage) {
    if (OfflineMode) {
        return;
    }
    step(2);
    if (!inputValid(*this, true)) {
        env_.dialogs->showMessage(kTitle, Msg(30));
        return;
    }
    step(3);
    HTTP->URL = url;
    HTTP->TimeoutMs = DirectoryDeadlineMs;
    const QString answer = fetchDropping(*HTTP);
    step(4);
    if (answer == success) {
        env_.dialogs->showMessage(kTitle, Msg(okMessage));
    } else {
        env_.dialogs->showMessage(kTitle, Msg(failMessage) + answer);
    }
}

void TMainform::DBTimerTimer(QObject* /*Sender*/) {
    trace("DBTimerTimer");
    if (OfflineMode) {
        return;
    }
    step(2);
    if (!inputValid(*this, false)) {
        // No further reports until the next broadcast start.
        DBTimer->stop();
        env_.dialogs->showMessage(kTitle, Msg(30));
        return;
    }
    step(3);
    HTTP->URL = stationUrl(*this, QStringLiteral("setstatus"));
    HTTP->TimeoutMs = DirectoryDeadlineMs;
    const uint64_t stopsBefore = StopCount;
    // After a stop during the wait the answer concerns a broadcast that has ended.
    if (fetchDropping(*HTTP) != QLatin1String("E100") && StopCount == stopsBefore) {
        env_.dialogs->showMessage(kTitle, Msg(38));
    }
}

void TMainform::StatsTimerTimer(QObject* /*Sender*/) {
    trace("StatsTimerTimer");
    Stats->setValueMax(MaxUser);
    Stats->AddValue(GetUseranzahl());
    step(2);
    HTTPHoerer->URL = listenerCountUrl(*this, GetUseranzahl());
    HTTPHoerer->TimeoutMs = DirectoryDeadlineMs;
    HTTPHoerer->StartRequest();  // dropped while the previous count is still on its way
}

void TMainform::DirectoryOffAir() {
    step(1);
    if (OfflineMode) {
        return;
    }
    step(2);
    if (!RadioName->text().isEmpty() && !Passwort1->text().isEmpty() &&
        Passwort1->text() == Passwort2->text()) {
        step(3);
        HTTP->URL = stationUrl(*this, QStringLiteral("setoff"));
        HTTP->TimeoutMs = OffAirDeadlineMs;  // the stop and the end of the program wait for it
        step(4);
        if (HTTP->FetchText(kFailure) != QLatin1String("E108")) {
            step(5);
            env_.dialogs->showMessage(kTitle, Msg(29));
        }
    } else {
        step(6);
        env_.dialogs->showMessage(kTitle, Msg(30));
    }
    step(7);
    HTTPHoerer->URL = listenerCountUrl(*this, 0);
    HTTPHoerer->TimeoutMs = DirectoryDeadlineMs;
    step(8);
    HTTPHoerer->StartRequest();
}
