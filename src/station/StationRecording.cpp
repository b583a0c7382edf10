// SPDX-License-Identifier: GPL-3.0-or-later
// Recording the encoded stream to a file, and playing such a file out to the listeners in place of the
// live signal.
#include "audio/QueuedFileWriter.h"
#include "audio/RecordingReader.h"
#include "audio/TACMConvertor.h"
#include "platform/IoError.h"
#include "platform/ScopeGuard.h"
#include "station/Station.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

// The playback's trace name: the playback is the "PlayfromFile" button's handler.
constexpr char kPlaybackTrace[] = "Button3Click";
// What closing a file that is not open reports.
const char* const kFileNotOpen = "I/O error 103";

constexpr qint64 kChunkMs = 1000;        // one chunk is one second of the stored stream
constexpr qint64 kMessageSliceMs = 100;  // the longest the station goes without handling its events
// A recording waits for its disk rather than drop blocks; this much may wait in memory meanwhile.
constexpr int kRecordQueueSeconds = 30;

}  // namespace

void Station::RecordtoFile(const QString& FileName) {
    trace("RecordtoFileBtnClick");
    step(2);
    RecordFileName = FileName;
    step(3);
    transition(StationEvent::RecordArmed);
    step(4);
    // A broadcast or an armed record mode already captures and encodes; a second start would only fail
    // on the open codec stream.
    if (state() == StationState::Stopped && !road_->codec().Active()) {
        Start();
    }
}

void Station::StartRecording() {
    trace("Button1Click");
    step(1);
    if (RecordFileName.isEmpty()) {
        throw EInOutError("No recording file chosen: \"RecordtoFile\" chooses it before \"Start\"");
    }
    emit message(RecordFileName);
    step(2);
    // A "Start" during a recording makes the file afresh; no block may reach it before its header.
    transition(StationEvent::RecordingClosed);
    recordingFailed_ = false;
    RecordFile->finish();
    // A file that cannot be made or take its header is a failed recording, reported once (the throw).
    vx::ScopeGuard failed([this] { endFailedRecording(); });
    step(4);
    RecordFile->create(RecordFileName, kRecordQueueSeconds *
                                           int64_t(std::max(road_->codec().FormatOut.avgBytesPerSec(), 1u)));
    step(5);
    const TAudioFormat format = road_->codec().FormatOut;
    RecordFile->writeNow(reinterpret_cast<const char*>(format.data()), TAudioFormat::kSize);
    failed.dismiss();
    road_->setRecordingWriter(RecordFile);
    transition(StationEvent::RecordingBegun);
}

void Station::endFailedRecording() {
    transition(StationEvent::RecordingStopped);  // record mode ends with its file
    road_->setRecordingWriter(nullptr);
    recordingFailed_ = true;
    // The writer has ended with its failure: closing the file waits for no disk.
    RecordFile->finish(0);
    if (state() == StationState::RecordOnly) {
        // The capture ran for the recording alone. The failure's report names the failed step, not
        // the stop's.
        const QString failedName = DebugStr.value();
        const int failedStep = DebugNum;
        Guarded([this] { Stop(); });
        DebugStr = failedName;
        DebugNum = failedStep;
    }
}

void Station::StopRecording() {
    trace("Button2Click");
    step(1);
    transition(StationEvent::RecordingStopped);
    road_->setRecordingWriter(nullptr);
    step(2);
    step(3);
    // A recording that failed was reported and closed then; its "Stop" has nothing more to say.
    if (std::exchange(recordingFailed_, false)) {
        return;
    }
    if (!RecordFile->isOpen()) {
        throw EInOutError(kFileNotOpen);
    }
    // Waits for a block the worker is handing over and for what the disk has still to take, so the
    // file ends with a whole block.
    RecordFile->finish();
}

bool Station::AfterPlayback(std::function<void()> action) {
    if (!mode_.load().playback) {
        return false;
    }
    playbackEnding_ = true;
    afterPlayback_.push_back(std::move(action));
    return true;
}

void Station::PlayfromFile(const QString& FileName) {
    trace(kPlaybackTrace);
    const StationMode mode = mode_.load();
    if (mode.playback) {
        return;  // one playback at a time; its buttons are disabled meanwhile
    }
    refuseUnplayableState(mode);
    step(5);
    RecordingReader file(FileName);
    // Whatever refuses the file does so before anything starts.
    TAudioFormat format;
    TAudioFormat decodeFormat;
    readPlaybackHeader(file, format, decodeFormat);

    step(2);
    PlaybackFormat = format;
    PlaybackDecodeFormat = decodeFormat;
    PlaybackFileName = FileName;
    PlaybackBytes = 0;
    transition(StationEvent::PlaybackRequested);
    // However the playback ends (its last pass, a stop, a failure, the station's end), the station is
    // left as after a playback before anything is reported, and what waited for the end runs then.
    const vx::ScopeGuard ended([this] {
        playbackEnding_ = false;
        transition(StationEvent::PlaybackEnded);
        for (auto& action : std::exchange(afterPlayback_, {})) {
            QTimer::singleShot(0, this, std::move(action));
        }
    });

    step(6);
    // From a stopped station the playback starts the broadcast; on the air it takes the live signal's
    // place.
    if (state() == StationState::Stopped) {
        Start();
        DebugStr = QString::fromLatin1(kPlaybackTrace);
    }
    transition(StationEvent::PlaybackBegun);

    step(7);
    playPasses(file);
    step(27);
}

void Station::refuseUnplayableState(const StationMode& mode) {
    // A playback needs the listener port: open already, or opened by an ordinary start. Anywhere else
    // it would end at once, having shown nothing, or its start would open the record mode's capture.
    const char* reason = nullptr;
    if (mode.state == StationState::RecordOnly) {
        reason = "the record mode's capture is running; \"Stoppe Server\" ends it";
    } else if (mode.state == StationState::Stopped && mode.recordArmed) {
        reason = "record mode is armed, and a start would only capture; \"Stop\" ends it";
    } else if (mode.state == StationState::Starting || mode.state == StationState::Stopping) {
        reason = "the broadcast is starting or stopping; play the file once it has";
    }
    if (reason != nullptr) {
        step(6);
        throw std::runtime_error(std::string("No playback now: ") + reason);
    }
}

int Station::readPlaybackHeader(RecordingReader& file, TAudioFormat& format, TAudioFormat& decodeFormat) {
    step(10);
    format = file.readFormat();
    step(11);
    road_->codec().SuggestFormat(format, decodeFormat);
    step(12);
    return file.chunkSize(format);
}

void Station::playPasses(RecordingReader& file) {
    // Chunk n of a pass leaves n seconds after the pass began, by the clock: the time that reading and
    // sending take is made up, so listeners are not starved over a long playback.
    playbackClock_.start();
    qint64 dueMs = 0;
    bool last = false;
    while (!last && broadcasting() && !playbackEnding_) {
        step(8);
        if (!settings_.loop) {
            step(9);
            last = true;
        }
        const int chunk = readPlaybackHeader(file, PlaybackFormat, PlaybackDecodeFormat);
        const bool anyChunk = playPass(file, chunk, dueMs);
        // Unchecked while the pass ran: that pass was the last one.
        if (!settings_.loop) {
            last = true;
        }
        if (!anyChunk && !last) {
            // The file lost its stream since the start: looping on it must not spin.
            dueMs = std::max(dueMs + kChunkMs, playbackClock_.elapsed());
            playbackWait(dueMs);
        }
        step(26);
    }
}

bool Station::playPass(RecordingReader& file, int chunk, qint64& dueMs) {
    std::vector<char> buffer(static_cast<std::size_t>(chunk));
    bool anyChunk = false;
    step(13);
    while (file.left() > 0 && broadcasting() && !playbackEnding_) {
        step(14);
        // A chunk is a second: the refresh time reads so wherever it is shown, the status included.
        road_->setRefreshMs(uint32_t(kChunkMs));
        emit refreshShown(uint32_t(kChunkMs));
        step(15);
        // Late by more than a chunk (the station was held, by a modal dialog say): start the clock
        // afresh rather than send what was missed in one burst.
        dueMs = std::max(dueMs + kChunkMs, playbackClock_.elapsed() - kChunkMs);
        if (!playbackWait(dueMs)) {
            break;
        }
        step(16);
        // One second of sound; the last one of a pass takes the file's tail.
        file.readSecond(PlaybackFormat, buffer);
        const int n = int(buffer.size());
        if (n == 0) {
            break;
        }
        anyChunk = true;
        PlaybackBytes += n;
        step(17);
        road_->setBytesLastBlock(n);
        emit blockShown(n);
        step(18);
        if (!anyoneConnected()) {
            step(25);
            emit lineLoadShown(-1, 0);
            emit blockShown(0);
            continue;
        }
        step(19);
        showPlaybackLoad(n);
        step(20);
        road_->sendToAudience(buffer.data(), n);
    }
    return anyChunk;
}

bool Station::playbackWait(qint64 dueMs) {
    // The handlers the wait dispatches trace too; the playback's name is back when it returns.
    const vx::ScopeGuard retrace([this] { DebugStr = QString::fromLatin1(kPlaybackTrace); });
    for (;;) {
        if (playbackEnding_ || !broadcasting()) {
            return false;
        }
        const qint64 left = dueMs - playbackClock_.elapsed();
        if (left <= 0) {
            return true;
        }
        QEventLoop loop;
        QTimer::singleShot(int(std::min(left, kMessageSliceMs)), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        if (loop.exec() != 0) {
            playbackEnding_ = true;  // the application is quitting
        }
    }
}

void Station::showPlaybackLoad(int chunkBytes) {
    // As for a live block: an "Upload" that is no number is no capacity (the bar shows full), and the
    // chunk still goes out.
    const int maximum = BlockRoad::lineCapacity(settings_.upload);
    emit lineLoadShown(maximum, int(std::min<qint64>(qint64(GetUseranzahl()) * chunkBytes, maximum)));
}
