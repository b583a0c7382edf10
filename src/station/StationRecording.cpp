// SPDX-License-Identifier: GPL-3.0-or-later
// The recording and the playback commands: the station's side (trace, mode, start and stop); the parts
// (Recorder, Playback) own the files.
#include "audio/QueuedFileWriter.h"
#include "audio/RecordingReader.h"
#include "audio/TACMConvertor.h"
#include "platform/IoError.h"
#include "platform/Posting.h"
#include "platform/ScopeGuard.h"
#include "station/Playback.h"
#include "station/Recorder.h"
#include "station/Station.h"

#include <QTimer>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

// The playback's trace name: the playback is the "PlayfromFile" button's handler.
constexpr char kPlaybackTrace[] = "Button3Click";
constexpr uint32_t kChunkMs = 1000;  // one chunk is one second of the stored stream

}  // namespace

void Station::buildRecording() {
    Recorder::Hooks hooks;
    hooks.begun = [this](const std::shared_ptr<QueuedFileWriter>& writer) {
        routeRecording(writer);
        transition(StationEvent::RecordingBegun);
    };
    // A file that cannot be made or take its header is a failed recording, reported once, with the
    // step of "Start" that met it.
    hooks.openFailed = [this](const std::string& error, int failedStep) {
        trace("Button1Click");
        step(failedStep);
        endFailedRecording();
        AppException(EInOutError(error));
    };
    // A disk fails on the file's own thread; the report names the step that handed the block over.
    hooks.diskFailed = [this](const std::string& message) {
        changeMode(StationEvent::RecordingClosed);
        road_->reportFromWorker(message, QStringLiteral("ThreadExecute"), 5);
        vx::postTo(this, [this] { Guarded([this] { endFailedRecording(); }); });
    };
    Recording = std::make_unique<Recorder>(std::move(hooks));

    Playback::Hooks play;
    play.onAir = [this] { return broadcasting(); };
    play.loop = [this] { return settings_.loop; };
    play.step = [this](int n) { step(n); };
    play.retrace = [this] { DebugStr = QString::fromLatin1(kPlaybackTrace); };
    play.suggest = [this](const TAudioFormat& format, TAudioFormat& decodeFormat) {
        road_->codec().SuggestFormat(format, decodeFormat);
    };
    play.second = [this] {
        // A chunk is a second: the refresh time reads so wherever it is shown, the status included.
        road_->setRefreshMs(kChunkMs);
        emit refreshShown(kChunkMs);
    };
    play.chunk = [this](const char* chunk, int n) { playbackChunk(chunk, n); };
    Player = std::make_unique<Playback>(std::move(play));
}

void Station::routeRecording(const std::shared_ptr<QueuedFileWriter>& writer) {
    road_->setRecordingWriter(writer);
}

void Station::RecordtoFile(const QString& FileName) {
    trace("RecordtoFileBtnClick");
    step(2);
    Recording->choose(FileName);
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
    if (Recording->fileName().isEmpty()) {
        throw EInOutError("No recording file chosen: \"RecordtoFile\" chooses it before \"Start\"");
    }
    emit message(Recording->fileName());
    step(2);
    // A "Start" during a recording makes the file afresh; no block may reach it before its header.
    transition(StationEvent::RecordingClosed);
    routeRecording(nullptr);
    step(4);
    // The writer makes the file and writes its header; blocks go to it once it has (RecordingBegun).
    Recording->start(road_->codec().FormatOut);
}

void Station::endFailedRecording() {
    transition(StationEvent::RecordingStopped);  // record mode ends with its file
    routeRecording(nullptr);
    Recording->failed();
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
    routeRecording(nullptr);
    step(2);
    step(3);
    // The writer takes what waits and closes the file; a recording that failed has nothing to close.
    Recording->stop();
}

bool Station::AfterPlayback(std::function<void()> action) {
    if (!mode_.load().playback) {
        return false;
    }
    Player->endThen(std::move(action));
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
    Player->readHeader(file, format, decodeFormat);

    step(2);
    Player->begin(FileName, format, decodeFormat);
    transition(StationEvent::PlaybackRequested);
    // However the playback ends (its last pass, a stop, a failure, the station's end), the station is
    // left as after a playback before anything is reported, and what waited for the end runs then.
    const vx::ScopeGuard ended([this] {
        const auto actions = Player->ended();
        transition(StationEvent::PlaybackEnded);
        for (const auto& action : actions) {
            QTimer::singleShot(0, this, action);
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
    Player->play(file);
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

void Station::playbackChunk(const char* chunk, int n) {
    step(17);
    road_->setBytesLastBlock(n);
    emit blockShown(n);
    step(18);
    if (!anyoneConnected()) {
        step(25);
        emit lineLoadShown(-1, 0);
        emit blockShown(0);
        return;
    }
    step(19);
    // As for a live block: an "Upload" that is no number is no capacity (the bar shows full), and the
    // chunk still goes out.
    const int maximum = BlockRoad::lineCapacity(settings_.upload);
    emit lineLoadShown(maximum, int(std::min<qint64>(qint64(GetUseranzahl()) * n, maximum)));
    step(20);
    road_->sendToAudience(chunk, n);
}
