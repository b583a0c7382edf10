// Worker runs, broadcast start and stop, stream distribution.
#include "app/EInOutError.h"
#include "app/ListenerDestination.h"
#include "app/TMainform.h"
#include "app/TVXSocketData.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "platform/Posting.h"
#include "platform/ScopeGuard.h"
#include "threads/TThreadComp.h"
#include "ui/ListenerListModel.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const QString kApplicationTitle = QString::fromLatin1(vx::kStationTitle);

// A run converts one block and hands it to every listener without waiting on any of them, so it ends
// well within the block's second; this bound only keeps a stuck codec from hanging the stop.
constexpr int kRunEndWaitMs = 10000;

// A sound server restarts within a few seconds, and a device plugged in again is ready as soon; trying
// more often only costs a failed open each time.
constexpr int kCaptureRetryMs = 3000;

// The current time of day as a fraction of a day.
double timeOfDay() {
    return QTime::currentTime().msecsSinceStartOfDay() / 86400000.0;
}

// Upload (kb/s) as bytes per second, 1 kb counted as 1024 bits; 0 for a text that is no decimal integer.
int lineCapacity(const QString& upload) {
    bool ok = false;
    const qlonglong kbits = upload.toLongLong(&ok, 10);
    if (!ok || kbits <= 0) {
        return 0;
    }
    return int(std::min<qlonglong>(kbits * 128, INT_MAX));
}

}  // namespace

void TMainform::buildBroadcast() {
    Thread = std::make_unique<TThreadComp>();
    Thread->SetThreadPriority(tpHigher);
    Thread->OnExecute = [this](TThreadComp* sender) { ThreadExecute(sender); };
    Listeners = std::make_unique<ListenerDestination>(*ServerVandorixClient);
    Listeners->OnSendError = [this] {
        const uint32_t errors = ++ErrorCount;
        vx::postTo(this, [this, errors] { Errorsvandorixclient->setText(QString::number(errors)); });
    };
    // Not guarded: an error goes through the capture component (which then takes that buffer out of its
    // rotation) to the event loop's error report.
    ACMI->OnBufferFull = [this](TACMIn* sender, const void* data, int size) {
        ACMIBufferFull(sender, data, size);
    };
    ACMI->OnError = [this](TACMIn* sender, const EACMIn& e) { ACMIError(sender, e); };
    CaptureRetry = new QTimer(this);
    CaptureRetry->setInterval(kCaptureRetryMs);
    connect(CaptureRetry, &QTimer::timeout, this,
            [this] { Guarded(CaptureRetry, [this] { CaptureRetryTimer(CaptureRetry); }); });

    connect(Connectrbtn, &QPushButton::clicked, this,
            [this] { Guarded(Connectrbtn, [this] { ConnectrbtnClick(Connectrbtn); }); });
    connect(Disconnectrbtn, &QPushButton::clicked, this,
            [this] { Guarded(Disconnectrbtn, [this] { DisconnectrbtnClick(Disconnectrbtn); }); });

    EndProcess = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    RemoteControl = std::make_unique<TServerSocket>();
    RemoteControl->Port = env_.remoteControlPort;
    RemoteControl->RequestTimeoutMs = vx::kRemoteCommandTimeoutMs;
    RemoteControl->MaxConnections = vx::kRemoteMaxConnections;
    RemoteControl->OnClientConnect = [this](TServerSocket* sender, const auto& socket) {
        Guarded(this, [&] { RemoteControlClientConnect(sender, socket); });
    };
    RemoteControl->OnClientRead = [this](TServerSocket* sender, const auto& socket) {
        Guarded(this, [&] { RemoteControlClientRead(sender, socket); });
    };
    RemoteControl->OnClientError = [this](TServerSocket* sender, const auto& socket, TErrorEvent event,
                                          int& code) {
        RemoteControlClientError(sender, socket, event, code);
    };
    // A port in use leaves the station without remote control, with a report, rather than without a window.
    Guarded(this, [this] { RemoteControl->SetActive(true); });
}

void TMainform::lockSettings(bool broadcasting) {
    QWidget* const settings[] = {VandorixClientport, RadioName,  ExtRadioname, EMail,  Passwort1, Passwort2,
                                 AnmeldeBtn,         AbmeldeBtn, Upload,       Beschr, InpForm,   OutpForm};
    if (broadcasting) {
        Connectrbtn->setEnabled(false);
        Disconnectrbtn->setEnabled(true);
    } else {
        Disconnectrbtn->setEnabled(false);
        Connectrbtn->setEnabled(true);
    }
    for (QWidget* w : settings) {
        w->setEnabled(!broadcasting);
    }
}

void TMainform::ConnectrbtnClick(QObject* /*Sender*/) {
    trace("ConnectrbtnClick");
    // What this start opened, newest last, so that a failure closes exactly that and the next start
    // finds every component as it was.
    OpenedSteps opened;
    opened.reserve(4);  // an undo that could not be recorded would leave its component open
    vx::ScopeGuard undo([&] { undoFailedStart(opened); });
    if (RecordMode) {
        checkStreamFormats();
        openAudioPath(2, opened);
        step(6);
        lockSettings(true);
        step(7);
        StatsTimer->start();
    } else {
        startBroadcast(opened);
    }
    undo.dismiss();
}

void TMainform::startBroadcast(OpenedSteps& opened) {
    if (RadioName->text().isEmpty()) {
        step(25);
        env_.dialogs->showMessage(kApplicationTitle, Msg(28));
        return;
    }
    if (!Playing) {
        checkStreamFormats();  // before anything opens
    }
    step(8);
    ErrorCount = 0;
    step(9);
    if (Mp3Aufz->isChecked()) {
        openMp3Copy(opened);
    }
    step(13);
    if (!Playing) {
        openAudioPath(14, opened);
    }
    step(18);
    LastBlockTime = timeOfDay();
    step(19);
    ServerVandorixClient->Port = VandorixClientport->value();
    step(20);
    ServerVandorixClient->SetActive(true);
    opened.push_back([this] { ServerVandorixClient->SetActive(false); });
    step(21);
    const uint64_t stopsBefore = StopCount;
    DBTimerTimer(DBTimer);
    DebugStr = QStringLiteral("ConnectrbtnClick");
    if (StopCount != stopsBefore) {
        return;  // a stop ran while the report waited and has closed what this start opened
    }
    step(22);
    DBTimer->start();
    step(23);
    lockSettings(true);
    step(24);
    StatsTimer->start();
    RelayStart();
}

void TMainform::openMp3Copy(OpenedSteps& opened) {
    step(10);
    const QString path =
        ProgramDir() + QLatin1Char('/') + DateTimetoFilename(QDateTime::currentDateTime()) + ".mp3";
    DebugStr = QStringLiteral("ConnectrbtnClick");
    step(12);
    try {
        Mp3File.createNew(path);  // a copy started in the same second gets a name of its own
    } catch (const EInOutError& e) {
        throw EInOutError("Cannot create file \"" + path.toStdString() + "\". " + e.what());
    }
    Mp3Recording = true;
    opened.push_back([this] {
        // Nothing was written to it yet: an empty copy would only be litter.
        Mp3Recording = false;
        Mp3File.discard();
    });
}

void TMainform::openAudioPath(int firstStep, OpenedSteps& opened) {
    step(firstStep);
    ACMC->SetInputBufferSize(int(ACMC->FormatIn.avgBytesPerSec()));  // one second of input
    step(firstStep + 1);
    ACMI->SetBufferSize(ACMC->InputBufferSize());
    step(firstStep + 2);
    ACMC->SetActive(true);
    opened.push_back([this] { ACMC->SetActive(false); });
    step(firstStep + 3);
    ACMI->Open(ACMC->FormatIn);
    opened.push_back([this] { ACMI->Close(); });
}

void TMainform::undoFailedStart(const OpenedSteps& opened) {
    // The report shows the step that failed; closing what was opened must not change it.
    const QString failedName = DebugStr.value();
    const int failedStep = DebugNum;
    for (auto close = opened.rbegin(); close != opened.rend(); ++close) {
        try {
            (*close)();
        } catch (...) {
            // Already failing: the first error is the one to report.
        }
    }
    DBTimer->stop();
    DebugStr = failedName;
    DebugNum = failedStep;
}

void TMainform::DisconnectrbtnClick(QObject* /*Sender*/) {
    trace("DisconnectrbtnClick");
    ++StopCount;
    DirectoryOffAir();  // steps 1-8; shows its messages while the broadcast still runs
    step(9);
    DBTimer->stop();
    step(10);
    ServerVandorixClient->SetActive(false);
    step(11);
    Thread->DoAction(taTerminate);
    // A run still converting or sending uses the codec stream and the MP3 copy closed below.
    if (!Thread->WaitForRun(kRunEndWaitMs)) {
        throw std::runtime_error("The worker run did not end");
    }
    DebugStr = QStringLiteral("DisconnectrbtnClick");  // the run wrote its own name meanwhile
    Listeners->close();  // the descriptors of the connections closed above go with it
    ++BroadcastSerial;
    RelayStop();
    step(12);
    ACMC->SetActive(false);
    step(13);
    CaptureRetry->stop();
    CaptureLost = false;
    ACMI->Close();
    step(14);
    if (Mp3Recording) {
        step(15);
        Mp3Recording = false;
        Mp3File.close();
    }
    step(16);
    ClientslistRows->clear();
    Auslastung->setValue(0);
    StatsTimer->stop();
    lockSettings(false);
}

void TMainform::ACMIError(TACMIn* /*Sender*/, const std::exception& E) {
    trace("ACMIError");
    // Retry first: while a report box waits for its click, the broadcast comes back on its own.
    CaptureRetry->start();
    step(2);
    // A device that opens again and fails before its first block is still the same outage.
    if (!CaptureLost) {
        CaptureLost = true;
        AppException(this, E);
    }
}

void TMainform::CaptureRetryTimer(QObject* /*Sender*/) {
    trace("CaptureRetryTimer");
    // Only while the audio path is open: a stop, or a start that failed after the loss, closed it.
    if (!ACMC->Active() || ACMI->Active()) {
        step(2);
        CaptureRetry->stop();
        return;
    }
    step(3);
    try {
        ACMI->Open(ACMC->FormatIn);
    } catch (const EACMIn&) {
        return;  // still gone; the loss has been reported
    }
    step(4);
    CaptureRetry->stop();
}

QString TMainform::DateTimetoFilename(const QDateTime& DateTime) {
    trace("DateTimetoFilename");
    const QLocale locale;
    // The regional long time format without its time zone, which a file name does not need.
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(zone);
    QString text = locale.toString(DateTime.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                   locale.toString(DateTime.time(), timeFormat.trimmed());
    step(2);
    text.replace(QLatin1Char('.'), QLatin1Char('-'));
    step(3);
    text.replace(QLatin1Char(':'), QLatin1Char('-'));
    step(4);
    // A date written with "/" would otherwise turn the file name into a path.
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    step(5);
    return text;
}

void TMainform::ACMIBufferFull(TACMIn* /*Sender*/, const void* Data, int Size) {
    trace("ACMIBufferFull");
    step(1);
    CaptureLost = false;
    const double now = timeOfDay();
    // A block that finds the previous run still busy is dropped before it could overwrite the input
    // that run converts.
    if (Thread->State() == tsIdle && ACMC->Active()) {
        step(2);
        const int bytes = std::clamp(Size, 0, ACMC->InputBufferSize());
        if (bytes > 0) {
            std::memcpy(ACMC->BufferIn(), Data, std::size_t(bytes));
        }
        LineCapacity = lineCapacity(Upload->text());
        step(3);
        Thread->DoAction(taRun);
    }
    step(4);
    RefreshMs = uint32_t(std::fabs(now - LastBlockTime) * 86400000.0 + 1e-6);
    step(5);
    Refreshedit->setText(QString::number(RefreshMs));
    step(6);
    LastBlockTime = now;
}

void TMainform::deliver(BlockDestination& destination, std::atomic<bool>& flag, const char* block, int size) {
    try {
        destination.write(block, size);
    } catch (const std::exception& e) {
        flag = false;
        destination.close();
        const uint32_t errors = ++ErrorCount;
        // The report names the step that failed, whatever the window traces by the time it shows.
        const QString name = DebugStr.value();
        const int failedStep = DebugNum;
        vx::postTo(this, [this, errors, name, failedStep, message = std::string(e.what())] {
            Errorsvandorixclient->setText(QString::number(errors));
            DebugStr = name;
            DebugNum = failedStep;
            AppException(this, EInOutError(message));
        });
    }
}

void TMainform::ThreadExecute(TThreadComp* /*Sender*/) {
    trace("ThreadExecute");
    step(1);
    const int n = ACMC->Convert();
    const auto* block = reinterpret_cast<const char*>(ACMC->BufferOut());
    step(2);
    if (Mp3Recording) {
        step(3);
        deliver(Mp3File, Mp3Recording, block, n);
    }
    if (Playing && !Recording) {
        return;  // a file plays out in place of the live signal and fills the displays itself
    }
    auto showBytes = [this, n] {
        step(4);
        vx::postTo(this, [this, n] { Bytesvandorixclient->setText(QString::number(n)); });
    };
    if (Recording) {
        showBytes();
        step(5);
        deliver(RecordFile, Recording, block, n);
        return;
    }
    step(8);
    SendToAudience(block, n);
    // After the sends, which count the listeners the block cost the line: the two displays then show
    // the same block.
    showBytes();
    showLineLoad(n, Listeners->admittedAtLastWrite());
}

void TMainform::SendToAudience(const char* block, int size) {
    for (const auto& relay : Relays) {
        relay->write(block, size);
    }
    Listeners->write(block, size);
}

void TMainform::showLineLoad(int blockSize, int listeners) {
    const uint64_t serial = BroadcastSerial;
    if (ServerVandorixClient->ConnectionCount() == 0) {
        step(14);
        vx::postTo(this, [this, serial] {
            if (serial == BroadcastSerial) {
                Auslastung->setValue(0);
            }
        });
        return;
    }
    step(6);
    const int maximum = std::max(int(LineCapacity), 0);
    step(7);
    const qint64 position = std::min<qint64>(qint64(listeners) * blockSize, maximum);
    LineLoad = (uint64_t(uint32_t(maximum)) << 32) | uint32_t(position);
    // The values travel in LineLoad: a late call shows the newest load, never an older one.
    vx::postTo(this, [this, serial] {
        if (serial != BroadcastSerial) {
            return;  // the broadcast this run belonged to has been stopped since
        }
        const uint64_t load = LineLoad;
        const int loadMaximum = int(uint32_t(load >> 32));
        if (loadMaximum == 0) {
            // No capacity at all: the bar shows full.
            Auslastung->setRange(0, 1);
            Auslastung->setValue(1);
            return;
        }
        Auslastung->setRange(0, loadMaximum);
        Auslastung->setValue(int(uint32_t(load)));
    });
}
