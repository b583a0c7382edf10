// SPDX-License-Identifier: GPL-3.0-or-later
// The station's one way out: the snapshot every view, service and test reads.
#include "audio/ListenerDestination.h"
#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "platform/wavein/WaveIn.h"
#include "station/Playback.h"
#include "station/Recorder.h"
#include "station/RelayBoard.h"
#include "station/Station.h"

#include <algorithm>

std::shared_ptr<const StationStatus> Station::status() const {
    vx::MutexLock lock(statusMutex_);
    return status_;
}

void Station::publishStatus() {
    auto s = std::make_shared<StationStatus>();
    s->takenAt = QDateTime::currentDateTimeUtc();
    const StationMode mode = mode_;
    s->state = mode.state;
    s->stateSince = stateSince_;
    s->mode = mode;
    s->onAir = onAir(mode.state);
    s->broadcasting = ::broadcasting(mode.state);
    s->settings = settings_;
    s->formatIn = road_->codec().FormatIn;
    s->formatOut = road_->codec().FormatOut;
    s->streamFormat = mode.playback ? Player->format() : road_->codec().FormatOut;

    s->clients = listeners();
    s->maxUser = MaxUser;
    if (settings_.limitListeners) {
        s->listenerLimit = MaxUser;
    }
    const BlockRoad& road = *road_;
    s->bytesLastBlock = road.bytesLastBlock();
    s->refreshMs = road.refreshMs();
    s->lineLoad = road.lineLoad();
    s->errorCount = road.errorCount();
    s->transmissionErrorsTotal = errorsTotal_;
    s->sentBytesTotal = road.sentBytes();

    s->codecOpen = road_->codec().Active();
    s->captureDevice = env_.waveIn ? env_.waveIn->deviceName() : QString();
    s->captureOk = road.captureOk();
    s->captureOpen = road.capture().Active();
    s->level = road.inputLevel();
    s->silenceSeconds = road.silenceSeconds();
    s->deadAirSince = road.deadAirSince();
    s->silenceThresholdDb = road.silenceThresholdDb();
    s->silenceAfterSeconds = road.silenceAfterSeconds();

    // Names as the station chose them and byte counters: nothing here waits for a write.
    if (mode.mp3Copy) {
        s->mp3File = StationStatus::File{road.mp3FileName(), road.mp3File().bytesWritten()};
    }
    if (mode.recording && Recording) {
        s->recordFile = StationStatus::File{Recording->fileName(), Recording->writer()->bytesWritten()};
    }
    if (mode.playback && Player) {
        s->playback = StationStatus::File{Player->fileName(), Player->bytes()};
    }

    {
        const RelayBoard& board = road.relayBoard();
        for (std::size_t i = 0; i < board.entries.size(); ++i) {
            const RelayBoard::Entry& entry = board.entries[i];
            s->relays.push_back({entry.relay->target(), entry.status, entry.relay->droppedBlocks(),
                                 i < board.commandLine.size()});
        }
        s->relayFileTargets = board.pending ? *board.pending : board.fromFile;
        s->relaysPending = board.pending.has_value();
    }

    s->offline = settings_.offline;
    const DirectoryClient::Request last = directory_ ? directory_->lastRequest() : DirectoryClient::Request{};
    s->lastDirectoryRequest = {last.action, last.at, last.result};
    s->recordingSource = recordingSource_;
    s->history = history_;
    s->historyTimes = historyTimes_;

    std::shared_ptr<const StationStatus> published = std::move(s);
    {
        vx::MutexLock lock(statusMutex_);
        status_ = published;
    }
    emit statusChanged(published);
}
