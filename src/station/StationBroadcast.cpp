// SPDX-License-Identifier: GPL-3.0-or-later
// Worker runs, broadcast start and stop, the block's road and the capture retry.
#include "audio/ListenerDestination.h"
#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "net/TVXSocketData.h"
#include "platform/ErrorLine.h"
#include "platform/IoError.h"
#include "platform/Posting.h"
#include "platform/ScopeGuard.h"
#include "station/EConvertError.h"
#include "station/Station.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <stdexcept>

namespace {

// A run converts one block and hands it to every listener without waiting on any of them, so it ends
// well within the block's second.
constexpr int kRunEndWaitMs = 1000;

// A sound server restarts within a few seconds, and a device plugged in again is ready as soon; trying
// more often only costs a failed open each time.
constexpr int kCaptureRetryMs = 3000;

// How long the copy's writer may take to write what waited and close the file after the stop before the
// disk counts as stuck.
constexpr int kCopyCloseReportMs = 5000;

// A network folder or a USB stick may stall for seconds; the copy waits in memory meanwhile, as much as
// the relays do for their servers.
constexpr int kFileQueueSeconds = 30;

// The current time of day as a fraction of a day.
double timeOfDay() {
    return QTime::currentTime().msecsSinceStartOfDay() / 86400000.0;
}

}  // namespace

int Station::lineCapacity(const QString& upload) {
    bool ok = false;
    const qlonglong kbits = upload.toLongLong(&ok, 10);
    if (!ok || kbits <= 0) {
        return 0;
    }
    return int(std::min<qlonglong>(kbits * 128, INT_MAX));
}

void Station::buildBroadcast() {
    Thread = std::make_unique<TThreadComp>();
    Thread->SetThreadPriority(tpHigher);
    Thread->OnExecute = [this](TThreadComp* sender) { ThreadExecute(sender); };
    Listeners = std::make_unique<ListenerDestination>(*ServerVandorixClient, webServer());
    if (Web) {
        Listeners->setBurstBytes(env_.webBurstBytes);
    }
    Listeners->OnSendError = [this] {
        const uint32_t errors = ++ErrorCount;
        vx::postTo(this, [this, errors] { emit errorsShown(errors); });
    };
    Mp3File = std::make_unique<QueuedFileWriter>();
    Mp3File->setRemoveIfEmpty(true);
    // A disk fails on the file's own thread; the report names the step that handed the block over.
    // The copy's writer makes the file; one that cannot be made is reported with the start's step that
    // asked for it, and the broadcast goes on without it, as after a later failure of its disk.
    Mp3File->OnOpened = [this](const QueuedFileWriter::Opened& opened) {
        vx::postTo(this, [this, opened] {
            if (opened.serial != Mp3File->serial()) {
                return;  // a copy given up since
            }
            if (opened.error.empty()) {
                mp3FileName_ = opened.created;
                publishStatus();
                return;
            }
            transition(StationEvent::CopyClosed);
            Mp3File->close();
            trace("ConnectrbtnClick");
            step(12);
            // The window shows the text, a console line the path.
            AppException(EInOutError(opened.error, opened.created.toStdString()));
        });
    };
    Mp3File->OnFailure = [this](const std::string& message) {
        changeMode(StationEvent::CopyClosed);
        reportFromWorker(message, QStringLiteral("ThreadExecute"), 3);
    };
    ACMI->OnBlockCaptured = [this](TACMIn* sender, const void* data, int size) {
        ACMIBlockCaptured(sender, data, size);
    };
    // Not guarded: an error goes through the capture component (which then takes that buffer out of its
    // rotation) to the event loop's error report.
    ACMI->OnBufferFull = [this](TACMIn* sender, const void* data, int size) {
        ACMIBufferFull(sender, data, size);
    };
    ACMI->OnError = [this](TACMIn* sender, const EACMIn& e) { ACMIError(sender, e); };
    CaptureRetry = new QTimer(this);
    CaptureRetry->setInterval(kCaptureRetryMs);
    connect(CaptureRetry, &QTimer::timeout, this, [this] { Guarded([this] { CaptureRetryTimer(); }); });

    EndProcess = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    buildRemoteControl();
}

void Station::Start() {
    trace("ConnectrbtnClick");
    if (state() != StationState::Stopped) {
        return;  // one broadcast at a time; the start button is disabled meanwhile
    }
    const bool recordMode = mode_.load().recordArmed;
    if (!recordMode && settings_.radioName.isEmpty()) {
        step(25);
        emit message(Msg(28));
        return;
    }
    // What this start opened, newest last, so that a failure closes exactly that and the next start
    // finds every component as it was.
    OpenedSteps opened;
    opened.reserve(4);  // an undo that could not be recorded would leave its component open
    transition(recordMode ? StationEvent::RecordStarted : StationEvent::StartBegun);
    vx::ScopeGuard undo([&] {
        undoFailedStart(opened);
        transition(StationEvent::StartFailed);
    });
    if (recordMode) {
        checkStreamFormats();
        openAudioPath(2, opened);
        step(6);
        step(7);
        StatsTimer->start();
    } else {
        startBroadcast(opened);
    }
    undo.dismiss();
    publishStatus();  // the record-mode start opened its audio path after its state changed
}

void Station::startBroadcast(OpenedSteps& opened) {
    const bool forPlayback = mode_.load().playback;
    if (!forPlayback) {
        checkStreamFormats();  // before anything opens
    }
    step(8);
    ErrorCount = 0;  // the label keeps the last broadcast's count until this one's first error
    step(9);
    if (settings_.mp3Copy) {
        openMp3Copy(opened);
    }
    step(13);
    if (!forPlayback) {
        openAudioPath(14, opened);
    }
    step(18);
    LastBlockTime = timeOfDay();
    step(19);
    ServerVandorixClient->Port = settings_.port;
    step(20);
    ServerVandorixClient->SetActive(true);
    opened.push_back([this] { ServerVandorixClient->SetActive(false); });
    step(21);
    const uint64_t stopsBefore = StopCount;
    directory_->DBTimerTimer();
    DebugStr = QStringLiteral("ConnectrbtnClick");
    if (StopCount != stopsBefore) {
        opened.clear();  // a stop ran while the report waited and has closed what this start opened
        return;
    }
    step(22);
    directory_->startReports();
    step(23);
    transition(StationEvent::StartDone);
    step(24);
    StatsTimer->start();
    RelayStart();
}

void Station::openMp3Copy(OpenedSteps& opened) {
    step(10);
    const QString path =
        ProgramDir() + QLatin1Char('/') + DateTimetoFilename(QDateTime::currentDateTime()) + ".mp3";
    DebugStr = QStringLiteral("ConnectrbtnClick");
    step(12);
    // A copy started in the same second gets a name of its own; the writer tells which.
    Mp3File->createNew(path, kFileQueueSeconds * int64_t(std::max(ACMC->FormatOut.avgBytesPerSec(), 1u)));
    mp3FileName_ = path;
    transition(StationEvent::CopyOpened);
    opened.push_back([this] {
        // Nothing was written to it yet: an empty copy would only be litter.
        transition(StationEvent::CopyClosed);
        Mp3File->discard();
    });
}

void Station::openAudioPath(int firstStep, OpenedSteps& opened) {
    if (ACMC->Active()) {
        // A stop whose run did not end left the codec stream to it.
        if (!Thread->WaitForRun(0)) {
            throw std::runtime_error("The worker run of the last broadcast has still not ended");
        }
        ACMC->SetActive(false);
    }
    step(firstStep);
    ACMC->SetInputBufferSize(int(ACMC->FormatIn.avgBytesPerSec()));  // one second of input
    step(firstStep + 1);
    ACMI->SetBufferSize(ACMC->InputBufferSize());
    step(firstStep + 2);
    ACMC->SetActive(true);
    opened.push_back([this] { ACMC->SetActive(false); });
    step(firstStep + 3);
    LineCapacity = lineCapacity(settings_.upload);  // the first block's run needs it at once
    ACMI->Open(ACMC->FormatIn);
    opened.push_back([this] {
        ACMI->Close();
        // Capture may have started a run already; the codec stream closed next is its input.
        Thread->DoAction(taTerminate);
        Thread->WaitForRun(RunEndWaitMs);
    });
}

void Station::undoFailedStart(const OpenedSteps& opened) {
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
    directory_->stopReports();
    DebugStr = failedName;
    DebugNum = failedStep;
}

void Station::Stop() {
    trace("DisconnectrbtnClick");
    if (state() == StationState::Stopped || state() == StationState::Stopping) {
        return;
    }
    ++StopCount;
    transition(StationEvent::StopBegun);
    // However the stop ends, the station is stopped: each step below runs even when one before failed,
    // and the first failure is reported once, at the end.
    const vx::ScopeGuard stopped([this] { transition(StationEvent::StopDone); });
    std::exception_ptr failure;
    auto attempt = [&failure](auto&& close) {
        try {
            close();
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    // Steps 1-8; the messages show while the broadcast still runs.
    attempt([this] { directory_->DirectoryOffAir(); });
    step(9);
    directory_->stopReports();
    step(10);
    attempt([this] { ServerVandorixClient->SetActive(false); });
    attempt([this] { closeWebListeners(); });
    step(11);
    const bool runEnded = endRun();
    if (!runEnded && !failure) {
        failure = std::make_exception_ptr(std::runtime_error("The worker run did not end"));
    }
    DebugStr = QStringLiteral("DisconnectrbtnClick");  // the run wrote its own name meanwhile
    Listeners->close();  // the descriptors of the connections closed above go with it
    ++BroadcastSerial;
    convertFailing_ = false;
    attempt([this] { RelayStop(); });
    step(12);
    if (runEnded) {
        // Else the run still converts: the codec stream is left to it, and the next start closes it.
        attempt([this] { ACMC->SetActive(false); });
    }
    step(13);
    CaptureRetry->stop();
    CaptureLost = false;
    attempt([this] { ACMI->Close(); });
    inputStopped();
    step(14);
    if (mode_.load().mp3Copy) {
        step(15);
        transition(StationEvent::CopyClosed);
    }
    // Also one that failed and waits to be closed. The stop does not wait for the disk: the writer
    // writes what waits and closes the file; a disk that has not let it by then is reported once.
    const QString copyName = mp3FileName_;
    QTimer::singleShot(kCopyCloseReportMs, this, [this, closed = Mp3File->finishLater(), copyName] {
        if (!closed->load()) {
            emit errorReport(QStringLiteral("The disk did not finish writing \"%1\"; the copy was left to it")
                                 .arg(copyName),
                             QStringLiteral("DisconnectrbtnClick"), 15);
        }
    });
    step(16);
    clearListeners();
    emit lineLoadShown(-1, 0);
    StatsTimer->stop();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool Station::endRun() {
    // Capture starts no run from here on, so the one waited for below is the last.
    ACMI->StopDelivery();
    Thread->DoAction(taTerminate);
    // A run still converting or sending uses the codec stream and the files closed after it. One held
    // by a recording that waits for a stalled disk lets go of its block.
    if (Thread->WaitForRun(kRunEndWaitMs)) {
        return true;
    }
    if (const auto recording = recordingWriter()) {
        recording->releaseWaiting();
    }
    return Thread->WaitForRun(RunEndWaitMs);
}

void Station::ACMIError(TACMIn* /*Sender*/, const std::exception& E) {
    trace("ACMIError");
    // Retry first: while a report box waits for its click, the broadcast comes back on its own.
    CaptureRetry->start();
    step(2);
    // A device that opens again and fails before its first block is still the same outage.
    if (!CaptureLost) {
        CaptureLost = true;
        AppException(E);
    }
}

void Station::CaptureRetryTimer() {
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

QString Station::DateTimetoFilename(const QDateTime& DateTime) {
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

void Station::ACMIBlockCaptured(TACMIn* /*Sender*/, const void* Data, int Size) {
    // The capture thread: the codec stream is open while capture hands blocks over (the stop and a
    // failed start end the hand-over before they close it). A block that finds the previous run still
    // busy is dropped before it could overwrite the input that run converts.
    if (Thread->State() != tsIdle) {
        ++DroppedBlocks;
        return;
    }
    const int bytes = std::clamp(Size, 0, ACMC->InputBufferSize());
    if (bytes > 0) {
        std::memcpy(ACMC->BufferIn(), Data, std::size_t(bytes));
    }
    try {
        Thread->DoAction(taRun);
    } catch (const std::exception& e) {
        reportFromWorker(e.what(), QStringLiteral("ACMIBufferFull"), 3);
    }
}

uint32_t Station::refreshMsBetween(double lastBlockTime, double now) {
    double days = now - lastBlockTime;
    // A block just after midnight follows one just before it: it came a second later, not almost a day
    // earlier.
    if (days < -0.5) {
        days += 1.0;
    }
    // Whole milliseconds as fractions of a day are not exact: without the margin, 1000 ms between two
    // times of day would come out a hair short and show as 999 for most of the day.
    return uint32_t(std::fabs(days) * 86400000.0 + 1e-6);
}

void Station::ACMIBufferFull(TACMIn* /*Sender*/, const void* Data, int Size) {
    trace("ACMIBufferFull");
    step(1);
    CaptureLost = false;
    measureInput(Data, Size);
    const double now = timeOfDay();
    // The block itself has gone to the worker already, on the capture thread; this notice only
    // measures and shows it, and sets the line capacity for the next run.
    LineCapacity = lineCapacity(settings_.upload);
    step(4);
    RefreshMs = refreshMsBetween(LastBlockTime, now);
    step(5);
    emit refreshShown(RefreshMs);
    step(6);
    LastBlockTime = now;
}

void Station::reportFromWorker(const std::string& message, const QString& name, int failedStep) {
    const uint32_t errors = ++ErrorCount;
    vx::postTo(this, [this, errors, name, failedStep, message] {
        emit errorsShown(errors);
        emit errorReport(QString::fromStdString(message), name, failedStep);
    });
}

void Station::deliver(BlockDestination& destination, StationEvent closed, const char* block, int size) {
    try {
        destination.write(block, size);
    } catch (const std::exception& e) {
        changeMode(closed);
        destination.close();
        // The report names the step that failed, whatever the station traces by the time it shows.
        reportFromWorker(e.what(), DebugStr.value(), DebugNum);
    }
}

void Station::ThreadExecute(TThreadComp* /*Sender*/) {
    trace("ThreadExecute");
    step(1);
    int n = 0;
    try {
        n = ACMC->Convert();
    } catch (const std::exception& e) {
        // Each failed block is a transmission error; the first of an outage is reported, and the next
        // block is tried afresh.
        if (!convertFailing_.exchange(true)) {
            reportFromWorker(e.what(), DebugStr.value(), DebugNum);
        } else {
            const uint32_t errors = ++ErrorCount;
            vx::postTo(this, [this, errors] { emit errorsShown(errors); });
        }
        return;
    }
    convertFailing_ = false;
    const auto* block = reinterpret_cast<const char*>(ACMC->BufferOut());
    step(2);
    const StationMode mode = mode_;
    if (mode.mp3Copy) {
        step(3);
        deliver(*Mp3File, StationEvent::CopyClosed, block, n);
    }
    if (mode.playback && !mode.recording) {
        return;  // a file plays out in place of the live signal and fills the displays itself
    }
    step(4);
    BytesLastBlock = n;
    vx::postTo(this, [this, n] { emit blockShown(n); });
    if (mode.recording) {
        step(5);
        if (const auto recording = recordingWriter()) {
            deliver(*recording, StationEvent::RecordingClosed, block, n);
        }
        return;
    }
    // The displays first, as the block's cost; then the sends, so a report of a send names its step.
    if (showLineLoad(n)) {
        step(8);
    }
    SendToAudience(block, n);
}

void Station::SendToAudience(const char* block, int size) {
    for (const auto& relay : Relays) {
        relay->write(block, size);
    }
    Listeners->write(block, size);
}

bool Station::showLineLoad(int blockSize) {
    const uint64_t serial = BroadcastSerial;
    if (!anyoneConnected()) {
        step(14);
        LineLoad = 0;
        vx::postTo(this, [this, serial] {
            if (serial == BroadcastSerial) {
                emit lineLoadShown(-1, 0);
            }
        });
        return false;
    }
    step(6);
    const int maximum = std::max(int(LineCapacity), 0);
    step(7);
    const qint64 position = std::min<qint64>(qint64(Listeners->admitted()) * blockSize, maximum);
    LineLoad = (uint64_t(uint32_t(maximum)) << 32) | uint32_t(position);
    // The values travel in LineLoad: a late call shows the newest load, never an older one.
    vx::postTo(this, [this, serial] {
        if (serial != BroadcastSerial) {
            return;  // the broadcast this run belonged to has been stopped since
        }
        const uint64_t load = LineLoad;
        emit lineLoadShown(int(uint32_t(load >> 32)), int(uint32_t(load)));
    });
    return true;
}

void Station::checkStreamFormats() const {
    // The formats may come from "Optionen.ini" unchecked; capture and codec buffers are sized from them.
    // The message names the button that chooses another, in the language the window shows.
    const std::pair<const TAudioFormat&, const char*> formats[] = {{ACMC->FormatIn, "input"},
                                                                   {ACMC->FormatOut, "output"}};
    const QString buttons[] = {Msg(25), Msg(26)};
    for (std::size_t i = 0; i < std::size(formats); ++i) {
        const std::string problem = formats[i].first.problem();
        if (!problem.empty()) {
            throw EAudioFormat("The " + std::string(formats[i].second) + " format cannot be used: " +
                               problem + ". Choose one with \"" + buttons[i].toStdString() + "\".");
        }
    }
}
