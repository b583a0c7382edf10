// SPDX-License-Identifier: GPL-3.0-or-later
// The block's road: capture, the queue in front of the worker, the worker's runs and the destinations.
#include "station/BlockRoad.h"

#include "audio/ListenerDestination.h"
#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "platform/ErrorLine.h"
#include "platform/IoError.h"
#include "platform/Posting.h"
#include "platform/ScopeGuard.h"
#include "station/RelayBoard.h"
#include "threads/TThreadComp.h"

#include <QTime>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

// A run converts one block and hands it to every listener without waiting on any of them, so it ends
// well within the block's second; the stop's wait also covers the few blocks still queued.
constexpr int kRunEndWaitMs = 1000;

// A sound server restarts within a few seconds, and a device plugged in again is ready as soon; trying
// more often only costs a failed open each time.
constexpr int kCaptureRetryMs = 3000;

// A network folder or a USB stick may stall for seconds; the copy waits in memory meanwhile, as much as
// the relays do for their servers.
constexpr int kFileQueueSeconds = 30;

// The current time of day as a fraction of a day.
double timeOfDay() {
    return QTime::currentTime().msecsSinceStartOfDay() / 86400000.0;
}

}  // namespace

BlockRoad::BlockRoad(std::shared_ptr<vx::acm::Acm> codecs, std::shared_ptr<vx::wavein::WaveIn> capture,
                     TraceName& debugStr, std::atomic<int32_t>& debugNum)
    : DebugStr(debugStr), DebugNum(debugNum) {
    // The backends are main()'s or the test's choice; a missing one fails here, in the component.
    ACMC = std::make_unique<TACMConvertor>(std::move(codecs));
    ACMC->SetInputBufferSize(2048);
    ACMI = std::make_unique<TACMIn>(std::move(capture));
    ACMI->SetBufferSize(8192);
    ACMI->SetNumBuffers(4);
    RelayStates = std::make_shared<RelayBoard>();

    Thread = std::make_unique<TThreadComp>();
    Thread->SetThreadPriority(tpHigher);
    Thread->OnExecute = [this](TThreadComp*) { ThreadExecute(); };
    Mp3File = std::make_unique<QueuedFileWriter>();
    Mp3File->setRemoveIfEmpty(true);
    // A disk fails on the file's own thread; the report names the step that handed the block over.
    Mp3File->OnFailure = [this](const std::string& message) {
        if (OnDestinationClosed) {
            OnDestinationClosed(StationEvent::CopyClosed);
        }
        reportFromWorker(message, QStringLiteral("ThreadExecute"), 3);
    };
    Mp3File->OnOpened = [this](const QueuedFileWriter::Opened& opened) {
        vx::postTo(this, [this, opened] {
            if (opened.serial != Mp3File->serial()) {
                return;  // a copy given up since
            }
            if (opened.error.empty()) {
                mp3FileName_ = opened.created;
            }
            if (OnMp3CopyOpened) {
                OnMp3CopyOpened(opened.created, opened.error);
            }
        });
    };
    ACMI->OnBlockCaptured = [this](TACMIn*, const void* data, int size) { ACMIBlockCaptured(data, size); };
    // Not guarded: an error goes to the event loop's error report.
    ACMI->OnBufferFull = [this](TACMIn*, const void* data, int size) { ACMIBufferFull(data, size); };
    ACMI->OnError = [this](TACMIn*, const EACMIn& e) { ACMIError(e); };
    CaptureRetry = new QTimer(this);
    CaptureRetry->setInterval(kCaptureRetryMs);
    connect(CaptureRetry, &QTimer::timeout, this, [this] {
        try {
            CaptureRetryTimer();
        } catch (const std::exception& e) {
            if (OnCaptureLost) {
                OnCaptureLost(e);
            }
        }
    });
}

BlockRoad::~BlockRoad() {
    ACMI->StopDelivery();  // capture starts no block on a worker that goes
    {
        vx::MutexLock lock(queueMutex_);
        closing_ = true;
        queueChanged_.notify_all();
    }
    Thread->DoAction(taTerminate);
    Thread->WaitForRun(10000);
    Thread.reset();
    for (auto& relay : Relays) {
        relay->stop();
    }
}

void BlockRoad::connectListeners(TServerSocket& listenerPort, TServerSocket* web, int webBurstBytes) {
    listenerPort_ = &listenerPort;
    webPort_ = web;
    Listeners = std::make_unique<ListenerDestination>(listenerPort, web);
    if (web) {
        Listeners->setBurstBytes(webBurstBytes);
    }
    Listeners->OnSendError = [this] {
        const uint32_t errors = ++ErrorCount;
        vx::postTo(this, [this, errors] { emit errorsShown(errors); });
    };
}

void BlockRoad::trace(const char* name) {
    DebugStr = QString::fromLatin1(name);
    DebugNum = 1;
}

int BlockRoad::lineCapacity(const QString& upload) {
    bool ok = false;
    const qlonglong kbits = upload.toLongLong(&ok, 10);
    if (!ok || kbits <= 0) {
        return 0;
    }
    return int(std::min<qlonglong>(kbits * 128, INT_MAX));
}

uint32_t BlockRoad::refreshMsBetween(double lastBlockTime, double now) {
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

double BlockRoad::lineLoad() const {
    // The load's own capacity is 0 while nobody listens; the line's is known all the same.
    const int capacity = LineCapacity;
    return capacity > 0 ? std::min(1.0, double(uint32_t(uint64_t(LineLoad))) / capacity) : 0.0;
}

uint64_t BlockRoad::sentBytes() const {
    return Listeners ? Listeners->sentBytes() : 0;
}

bool BlockRoad::idle() const {
    bool closing = false;
    {
        vx::MutexLock lock(queueMutex_);
        if (waitingCount_ > 0 || converting_) {
            return false;
        }
        closing = closing_;
    }
    return !closing || Thread->State() == tsIdle;
}

// --- Start and stop ----------------------------------------------------------------------------------

void BlockRoad::startClock() {
    LastBlockTime = timeOfDay();
}

void BlockRoad::createMp3Copy(const QString& path) {
    Mp3File->createNew(path, kFileQueueSeconds * int64_t(std::max(ACMC->FormatOut.avgBytesPerSec(), 1u)));
    mp3FileName_ = path;
}

void BlockRoad::openAudioPath(int firstStep, OpenedSteps& opened) {
    // A stop whose run did not end left the codec stream to it; the next run must not overlap it.
    if (!Thread->WaitForRun(0)) {
        throw std::runtime_error("The worker run of the last broadcast has still not ended");
    }
    if (ACMC->Active()) {
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
    LineCapacity = lineCapacity(upload ? upload() : QString());  // the first block's run needs it at once
    {
        vx::MutexLock lock(queueMutex_);
        waiting_.assign(kWaitingBlocks, Waiting{std::vector<char>(std::size_t(ACMC->InputBufferSize())), 0});
        waitingFirst_ = 0;
        waitingCount_ = 0;
        converting_ = false;
        closing_ = false;
    }
    // One run carries every block of this opening: capture only queues, so no block waits for a
    // thread to start.
    Thread->DoAction(taRun);
    // The run may be converting a block already; the codec stream closed next is its input.
    opened.push_back([this] { endRun(); });
    ACMI->Open(ACMC->FormatIn);
    opened.push_back([this] { ACMI->Close(); });
}

bool BlockRoad::endRun() {
    // Capture queues no block from here on, so the run ends with the blocks queued now.
    ACMI->StopDelivery();
    {
        vx::MutexLock lock(queueMutex_);
        closing_ = true;
        queueChanged_.notify_all();
    }
    Thread->DoAction(taTerminate);
    // A run still converting or sending uses the codec stream and the files closed after it. One held
    // by a recording that waits for a stalled disk lets go of its block.
    if (Thread->WaitForRun(kRunEndWaitMs)) {
        return true;
    }
    std::shared_ptr<QueuedFileWriter> recording;
    {
        vx::MutexLock lock(queueMutex_);
        recording = recordFile_;
    }
    if (recording) {
        recording->releaseWaiting();
    }
    return Thread->WaitForRun(RunEndWaitMs);
}

void BlockRoad::closeListeners() {
    Listeners->close();  // the descriptors of the connections closed by the stop go with it
    ++BroadcastSerial;
    convertFailing_ = false;
}

void BlockRoad::closeCodec() {
    ACMC->SetActive(false);
}

void BlockRoad::closeCapture() {
    CaptureRetry->stop();
    CaptureLost = false;
    // The level falls to the floor however the close ends.
    const vx::ScopeGuard stopped([this] { inputStopped(); });
    ACMI->Close();
}

void BlockRoad::setRecordingWriter(std::shared_ptr<QueuedFileWriter> writer) {
    vx::MutexLock lock(queueMutex_);
    recordFile_ = std::move(writer);
}

void BlockRoad::reportFromWorker(const std::string& message, const QString& name, int failedStep) {
    const uint32_t errors = ++ErrorCount;
    vx::postTo(this, [this, errors, name, failedStep, message] {
        emit errorsShown(errors);
        emit errorReport(QString::fromStdString(message), name, failedStep);
    });
}

// --- Capture -------------------------------------------------------------------------------------------

void BlockRoad::ACMIBlockCaptured(const void* Data, int Size) {
    // The capture thread. The block waits in a buffer of its own, so a block that arrives while the
    // worker converts never overwrites that run's input; only a full queue drops it.
    vx::MutexLock lock(queueMutex_);
    if (waitingCount_ == int(waiting_.size())) {
        ++DroppedBlocks;
        return;
    }
    Waiting& slot = waiting_[std::size_t((waitingFirst_ + waitingCount_) % int(waiting_.size()))];
    slot.size = std::clamp(Size, 0, int(slot.data.size()));
    if (slot.size > 0) {
        std::memcpy(slot.data.data(), Data, std::size_t(slot.size));
    }
    ++waitingCount_;
    queueChanged_.notify_all();
}

void BlockRoad::ACMIBufferFull(const void* Data, int Size) {
    trace("ACMIBufferFull");
    step(1);
    CaptureLost = false;
    measureInput(Data, Size);
    const double now = timeOfDay();
    // The block itself has gone to the worker already, on the capture thread; this notice only
    // measures and shows it, and sets the line capacity for the next run.
    LineCapacity = lineCapacity(upload ? upload() : QString());
    step(4);
    RefreshMs = refreshMsBetween(LastBlockTime, now);
    step(5);
    emit refreshShown(RefreshMs);
    step(6);
    LastBlockTime = now;
}

void BlockRoad::ACMIError(const std::exception& E) {
    trace("ACMIError");
    // Retry first: while a report box waits for its click, the broadcast comes back on its own.
    CaptureRetry->start();
    step(2);
    // A device that opens again and fails before its first block is still the same outage.
    if (!CaptureLost.exchange(true) && OnCaptureLost) {
        OnCaptureLost(E);
    }
}

void BlockRoad::CaptureRetryTimer() {
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

// --- The worker ----------------------------------------------------------------------------------------

void BlockRoad::ThreadExecute() {
    for (;;) {
        {
            vx::MutexLock lock(queueMutex_);
            converting_ = false;
            while (waitingCount_ == 0 && !closing_) {
                lock.wait(queueChanged_);
            }
            if (waitingCount_ == 0) {
                return;  // the stop, and every block captured before it has gone out
            }
            // The oldest block becomes the codec's input; its buffer is free for capture again.
            const Waiting& slot = waiting_[std::size_t(waitingFirst_)];
            if (slot.size > 0) {
                std::memcpy(ACMC->BufferIn(), slot.data.data(),
                            std::size_t(std::min(slot.size, ACMC->InputBufferSize())));
            }
            waitingFirst_ = (waitingFirst_ + 1) % int(waiting_.size());
            --waitingCount_;
            converting_ = true;
        }
        try {
            convertAndSend();
        } catch (...) {
            // A block's failures are reported where they happen; the next block goes on.
        }
    }
}

void BlockRoad::deliver(BlockDestination& destination, StationEvent closed, const char* block, int size) {
    try {
        destination.write(block, size);
    } catch (const std::exception& e) {
        if (OnDestinationClosed) {
            OnDestinationClosed(closed);
        }
        destination.close();
        // The report names the step that failed, whatever the station traces by the time it shows.
        reportFromWorker(e.what(), DebugStr.value(), DebugNum);
    }
}

void BlockRoad::convertAndSend() {
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
    const StationMode now = mode ? mode() : StationMode{};
    if (now.mp3Copy) {
        step(3);
        deliver(*Mp3File, StationEvent::CopyClosed, block, n);
    }
    if (now.playback && !now.recording) {
        return;  // a file plays out in place of the live signal and fills the displays itself
    }
    step(4);
    BytesLastBlock = n;
    vx::postTo(this, [this, n] { emit blockShown(n); });
    if (now.recording) {
        std::shared_ptr<QueuedFileWriter> recording;
        {
            vx::MutexLock lock(queueMutex_);
            recording = recordFile_;
        }
        step(5);
        if (recording) {
            deliver(*recording, StationEvent::RecordingClosed, block, n);
        }
        return;
    }
    // The displays first, as the block's cost; then the sends, so a report of a send names its step.
    if (showLineLoad(n)) {
        step(8);
    }
    sendToAudience(block, n);
}

void BlockRoad::sendToAudience(const char* block, int size) {
    for (const auto& relay : Relays) {
        relay->write(block, size);
    }
    Listeners->write(block, size);
}

bool BlockRoad::anyoneConnected() const {
    return (listenerPort_ && listenerPort_->ConnectionCount() > 0) ||
           (webPort_ && webPort_->ConnectionCount() > 0);
}

bool BlockRoad::showLineLoad(int blockSize) {
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

// --- Relays --------------------------------------------------------------------------------------------

namespace {

QString stateText(const IcecastRelay::Status& status) {
    switch (status.state) {
        case IcecastRelay::State::Stopped:
            return QStringLiteral("stopped");
        case IcecastRelay::State::Connecting:
            return QStringLiteral("connecting");
        case IcecastRelay::State::OnAir:
            return status.reason.isEmpty() ? QStringLiteral("on air")
                                           : QStringLiteral("on air; ") + status.reason;
        case IcecastRelay::State::Error:
            return QStringLiteral("error: ") + status.reason;
    }
    return {};
}

}  // namespace

void BlockRoad::applyRelayTargets() {
    RelayBoard& board = *RelayStates;
    if (board.pending) {
        board.fromFile = *board.pending;
        board.pending.reset();
    }
    Relays.clear();
    board.entries.clear();
    const uint64_t generation = ++board.generation;
    std::vector<IcecastTarget> targets = board.commandLine;
    targets.insert(targets.end(), board.fromFile.begin(), board.fromFile.end());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        auto relay = std::make_unique<IcecastRelay>(targets[i]);
        // The posted call carries 16 bytes, which std::function keeps inline; the state itself is read
        // on the main thread.
        relay->OnStatus = [this, key = (generation << 32) | i](const IcecastRelay::Status&) {
            vx::postTo(this, [this, key] { relayStatusChanged(uint32_t(key >> 32), uint32_t(key)); });
        };
        board.entries.push_back({relay.get(), {}, 0});
        Relays.push_back(std::move(relay));
    }
    emit relaysChanged();
}

void BlockRoad::relayStatusChanged(uint32_t generation, uint32_t index) {
    RelayBoard& board = *RelayStates;
    if (generation != uint32_t(board.generation) || index >= board.entries.size()) {
        return;
    }
    RelayBoard::Entry& entry = board.entries[index];
    const IcecastRelay::Status status = entry.relay->status();
    if (status == entry.status) {
        return;  // shown already: a change that came and went before its notice was handled
    }
    entry.status = status;
    ++entry.reports;
    // One line per change, for a station without a window; the target never shows its password.
    vx::writeErrorLine(
        QStringLiteral("Icecast relay %1: %2").arg(entry.relay->target().displayName(), stateText(status)));
    emit relaysChanged();
}

void BlockRoad::startRelays(const IcecastRelay::StreamInfo& info) {
    for (const auto& relay : Relays) {
        relay->start(info);
    }
}

void BlockRoad::stopRelays() {
    for (const auto& relay : Relays) {
        relay->stop();
    }
    // A run that did not end for the stop still walks Relays: new targets wait for the next stop.
    if (RelayStates->pending && Thread->State() == tsIdle) {
        applyRelayTargets();
    }
}

void BlockRoad::setTitle(const QString& title) {
    for (const auto& relay : Relays) {
        relay->setTitle(title);
    }
    Listeners->titles().set(title);
}

// --- Level and dead air --------------------------------------------------------------------------------

void BlockRoad::setSilenceRule(double thresholdDb, double afterSeconds) {
    SilenceThresholdDb = thresholdDb;
    SilenceAfterSeconds = afterSeconds;
}

void BlockRoad::measureInput(const void* data, int size) {
    const TAudioFormat& format = ACMC->FormatIn;
    inputLevel_ = InputLevel::measure(format, data, size);
    if (inputLevel_.rmsDbfs >= SilenceThresholdDb) {
        endSilence(QStringLiteral("sound again"));
        return;
    }
    // Counted in captured sound rather than by the clock, so a device that delivers late or in bursts
    // is judged by what it recorded.
    const double seconds =
        format.avgBytesPerSec() > 0 ? double(std::max(size, 0)) / format.avgBytesPerSec() : 0.0;
    if (silentFor_ == 0.0) {
        silentSince_ = QDateTime::currentDateTimeUtc().addMSecs(-qint64(seconds * 1000.0));
    }
    silentFor_ += seconds;
    if (!deadAir_ && silentFor_ >= SilenceAfterSeconds) {
        deadAir_ = true;
        vx::writeErrorLine(QStringLiteral("Dead air: the input has been below %1 dBFS for %2 s, since %3")
                               .arg(SilenceThresholdDb)
                               .arg(qRound64(silentFor_))
                               .arg(silentSince_.toString(Qt::ISODate)));
        emit deadAirChanged(true);
    }
}

void BlockRoad::endSilence(const QString& why) {
    const double lasted = silentFor_;
    silentFor_ = 0.0;
    if (!deadAir_) {
        return;
    }
    deadAir_ = false;
    vx::writeErrorLine(QStringLiteral("Dead air ended after %1 s: %2").arg(qRound64(lasted)).arg(why));
    emit deadAirChanged(false);
}

void BlockRoad::inputStopped() {
    inputLevel_ = InputLevel();
    endSilence(QStringLiteral("the capture stopped"));
}
