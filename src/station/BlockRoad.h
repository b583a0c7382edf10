// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/InputLevel.h"
#include "net/IcecastRelay.h"
#include "platform/ThreadSafety.h"
#include "station/StationState.h"
#include "station/Trace.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class BlockDestination;
class ListenerDestination;
class QTimer;
class QueuedFileWriter;
class TACMConvertor;
class TACMIn;
class TServerSocket;
class TThreadComp;
struct RelayBoard;
namespace vx::acm {
class Acm;
}
namespace vx::wavein {
class WaveIn;
}

// The block's road: capture, codec, the worker and the block's destinations (MP3 copy, recording file,
// listeners, relays) with their counters. Capture hands every block to a small queue on its own thread
// and gets its buffer back there at once; the worker takes the blocks from the queue, oldest first,
// converts and sends them. A block is dropped (and counted) only when the queue is full. What the main
// thread learns of a block (its level, the refresh time, a capture error) arrives as a posted notice.
// The road tells the station what happened through its signals and the hooks below; it knows no station.
// Thread contract: the thread that made it (Qt's main thread), except where a member says otherwise.
class BlockRoad : public QObject {
    Q_OBJECT

public:
    using OpenedSteps = std::vector<std::function<void()>>;

    // The trace is the station's: the worker names its handler and step there as the station's
    // handlers do, so an error report shows whichever ran last.
    BlockRoad(std::shared_ptr<vx::acm::Acm> codecs, std::shared_ptr<vx::wavein::WaveIn> capture,
              TraceName& debugStr, std::atomic<int32_t>& debugNum);
    ~BlockRoad() override;

    // --- Wiring, set before the first start ----------------------------------------------------------
    // The station's mode, read once per block on the worker.
    std::function<StationMode()> mode;
    // A destination that failed has been closed: the mode follows (any thread).
    std::function<void(StationEvent closed)> OnDestinationClosed;
    // The first capture failure of an outage, for the error report (main thread).
    std::function<void(const std::exception& e)> OnCaptureLost;
    // The MP3 copy's writer made its file (`error` empty) or could not (main thread).
    std::function<void(const QString& created, const std::string& error)> OnMp3CopyOpened;
    // "Upload" as the settings hold it now (main thread).
    std::function<QString()> upload;
    // The listener and web ports whose admitted peers get every block; `web` may be null.
    void connectListeners(TServerSocket& listenerPort, TServerSocket* web, int webBurstBytes);

    // --- Components ----------------------------------------------------------------------------------
    TACMConvertor& codec() { return *ACMC; }
    const TACMConvertor& codec() const { return *ACMC; }
    TACMIn& capture() { return *ACMI; }
    const TACMIn& capture() const { return *ACMI; }
    ListenerDestination& listeners() { return *Listeners; }
    QueuedFileWriter& mp3File() { return *Mp3File; }
    const QueuedFileWriter& mp3File() const { return *Mp3File; }
    RelayBoard& relayBoard() { return *RelayStates; }
    const RelayBoard& relayBoard() const { return *RelayStates; }
    const TThreadComp& worker() const { return *Thread; }

    // --- Start and stop ------------------------------------------------------------------------------
    void resetErrorCount() { ErrorCount = 0; }
    // The first block's refresh time counts from now.
    void startClock();
    // Has the copy's writer create the MP3 copy (a name of its own beside one of the same second); returns
    // at once, OnMp3CopyOpened tells the outcome.
    void createMp3Copy(const QString& path);
    // Codec stream, worker and capture, each with its undo in `opened`; the trace's steps begin at
    // firstStep.
    void openAudioPath(int firstStep, OpenedSteps& opened);
    // Ends the hand-over and the worker's run for the stop; false when the run did not end in time.
    bool endRun();
    // The stop's steps after the run: the listeners' connections go, the displays ignore what the
    // run posted for the broadcast that ends.
    void closeListeners();
    void closeCodec();
    void closeCapture();
    // How long the stop waits, once more, for a run still converting.
    void setRunEndWaitMs(int ms) { RunEndWaitMs = ms; }

    // The recording file the worker writes the blocks to while the mode records; null: none.
    void setRecordingWriter(std::shared_ptr<QueuedFileWriter> writer);
    // One block to the relays and the listeners: the worker's live block, or a playback's chunk (on the
    // main thread).
    void sendToAudience(const char* block, int size);
    // The playback fills the displays itself.
    void setRefreshMs(uint32_t ms) { RefreshMs = ms; }
    void setBytesLastBlock(int bytes) { BytesLastBlock = bytes; }
    // The error report of a failure on another thread, with the trace it names; any thread.
    void reportFromWorker(const std::string& message, const QString& debugStr, int debugNum);

    // --- Relays --------------------------------------------------------------------------------------
    // Builds the relays from the board's targets (a pending change first); only while no block can be
    // under way.
    void applyRelayTargets();
    void startRelays(const IcecastRelay::StreamInfo& info);
    // Stops the relays; targets saved meanwhile take effect now unless a run still walks the relays.
    void stopRelays();
    // The relays' titles and the listeners' metadata.
    void setTitle(const QString& title);

    // --- Level and dead air ----------------------------------------------------------------------------
    // The dead-air rule: below thresholdDb for afterSeconds of captured sound.
    void setSilenceRule(double thresholdDb, double afterSeconds);
    double silenceThresholdDb() const { return SilenceThresholdDb; }
    double silenceAfterSeconds() const { return SilenceAfterSeconds; }
    // The last captured block, measured before encoding; the floor when nothing is captured.
    InputLevel inputLevel() const { return inputLevel_; }
    // Seconds of captured sound below the threshold up to the last block; 0 while there is sound.
    double silenceSeconds() const { return silentFor_; }
    // When the silence began, once it counts as dead air; null otherwise.
    QDateTime deadAirSince() const { return deadAir_ ? silentSince_ : QDateTime(); }

    // --- Counters (any thread) -------------------------------------------------------------------------
    uint32_t errorCount() const { return ErrorCount; }
    uint32_t refreshMs() const { return RefreshMs; }
    int bytesLastBlock() const { return BytesLastBlock; }
    int lineCapacity() const { return LineCapacity; }
    // The line load of the last block, 0..1; 0 without a capacity.
    double lineLoad() const;
    uint64_t droppedBlocks() const { return DroppedBlocks; }
    uint64_t sentBytes() const;
    bool captureOk() const { return !CaptureLost; }
    // No block waits for the worker or is under way, and a run the stop ended is over; any thread.
    bool idle() const;
    // The copy's name as created, kept so that nobody asks the writer while it writes.
    const QString& mp3FileName() const { return mp3FileName_; }

    // Upload (kb/s) as bytes per second, 1 kb counted as 1024 bits; 0 for a text that is no decimal
    // integer or no capacity.
    static int lineCapacity(const QString& upload);
    // Milliseconds from one block to the next, both given as times of day in fractions of a day.
    static uint32_t refreshMsBetween(double lastBlockTime, double now);

signals:
    void blockShown(int bytes);
    void refreshShown(uint32_t ms);
    void errorsShown(uint32_t count);
    void lineLoadShown(int maximum, int position);
    void errorReport(const QString& what, const QString& debugStr, int debugNum);
    void relaysChanged();
    void deadAirChanged(bool deadAir);

private:
    friend struct StationProbe;

    // Blocks captured while the worker was busy, each in a buffer of the codec's input size.
    static constexpr int kWaitingBlocks = 2;
    struct Waiting {
        std::vector<char> data;
        int size = 0;
    };

    void trace(const char* name);
    void step(int n) { DebugNum = n; }

    void ACMIBlockCaptured(const void* Data, int Size);  // capture thread
    void ACMIBufferFull(const void* Data, int Size);
    void ACMIError(const std::exception& E);
    void CaptureRetryTimer();
    // The worker's run: the blocks of the queue, one after another, until the stop has emptied it.
    void ThreadExecute();
    // One block from the codec's input to every destination.
    void convertAndSend();
    // The line-load bar for a block about to go out; false when nobody is connected (the bar shows 0).
    bool showLineLoad(int blockSize);
    bool anyoneConnected() const;
    // Hands a block to one destination; one that fails is closed and the mode follows.
    void deliver(BlockDestination& destination, StationEvent closed, const char* block, int size);
    void relayStatusChanged(uint32_t generation, uint32_t index);
    void measureInput(const void* data, int size);
    void endSilence(const QString& why);
    void inputStopped();

    TraceName& DebugStr;
    std::atomic<int32_t>& DebugNum;
    TServerSocket* listenerPort_ = nullptr;
    TServerSocket* webPort_ = nullptr;

    std::unique_ptr<TACMConvertor> ACMC;
    std::unique_ptr<TACMIn> ACMI;
    std::unique_ptr<QueuedFileWriter> Mp3File;
    std::unique_ptr<ListenerDestination> Listeners;
    std::vector<std::unique_ptr<IcecastRelay>> Relays;
    std::shared_ptr<RelayBoard> RelayStates;
    QTimer* CaptureRetry = nullptr;
    // Declared after every component a run uses, so it goes first and waits for a run still under way.
    std::unique_ptr<TThreadComp> Thread;

    mutable vx::Mutex queueMutex_;
    std::condition_variable queueChanged_;
    std::vector<Waiting> waiting_ GUARDED_BY(queueMutex_);
    int waitingFirst_ GUARDED_BY(queueMutex_) = 0;
    int waitingCount_ GUARDED_BY(queueMutex_) = 0;
    bool converting_ GUARDED_BY(queueMutex_) = false;  // the worker carries a block
    bool closing_ GUARDED_BY(queueMutex_) = false;     // the stop: the run ends once the queue is empty
    std::shared_ptr<QueuedFileWriter> recordFile_ GUARDED_BY(queueMutex_);

    std::atomic<uint32_t> ErrorCount{0};
    std::atomic<uint32_t> RefreshMs{0};
    double LastBlockTime = 0.0;
    // How long the stop waits for a run that still converts before it leaves the codec stream to it.
    int RunEndWaitMs = 10000;
    std::atomic<int> LineCapacity{0};
    std::atomic<uint64_t> LineLoad{0};
    std::atomic<uint64_t> BroadcastSerial{0};
    // Bytes of the last block sent. Any thread.
    std::atomic<int> BytesLastBlock{0};
    // Captured blocks that found the queue full, and so never went out.
    std::atomic<uint64_t> DroppedBlocks{0};
    // The worker's conversion failed for the blocks since the last one that succeeded.
    std::atomic<bool> convertFailing_{false};
    // Set by a reported capture failure, cleared by the next block and by the stop.
    std::atomic<bool> CaptureLost{false};
    QString mp3FileName_;

    // The input is dead air once its RMS level has stayed below SilenceThresholdDb for
    // SilenceAfterSeconds of captured sound (a muted mixer, the wrong source, a player stopped).
    double SilenceThresholdDb = -50.0;
    double SilenceAfterSeconds = 30.0;
    InputLevel inputLevel_;
    double silentFor_ = 0.0;
    QDateTime silentSince_;
    bool deadAir_ = false;
};
