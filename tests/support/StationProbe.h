// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "station/BlockRoad.h"
#include "station/Playback.h"
#include "station/Recorder.h"
#include "station/RelayBoard.h"
#include "station/Station.h"
#include "threads/TThreadComp.h"

// The station's insides, for tests that inject a failure, a clock or a peer where no command reaches, or
// that watch a component the snapshot does not show. Everything else reads status() and gives commands.
struct StationProbe {
    explicit StationProbe(Station& s)
        : station(s),
          ServerVandorixClient(s.ServerVandorixClient),
          ConnectionTest(s.ConnectionTest),
          StatsTimer(s.StatsTimer),
          CaptureRetry(s.road_->CaptureRetry),
          MaxUser(s.MaxUser),
          StalledListenerLimitMs(s.StalledListenerLimitMs),
          EndProcess(s.EndProcess),
          Languagelist(s.Languagelist),
          DebugStr(s.DebugStr),
          DebugNum(s.DebugNum),
          road(*s.road_) {}

    Station& station;
    std::unique_ptr<TServerSocket>& ServerVandorixClient;
    QTimer*& ConnectionTest;
    QTimer*& StatsTimer;
    QTimer*& CaptureRetry;
    int32_t& MaxUser;
    int& StalledListenerLimitMs;
    std::function<void()>& EndProcess;
    const QStringList*& Languagelist;
    TraceName& DebugStr;
    std::atomic<int32_t>& DebugNum;
    // Capture to destinations: tests read its components and counters through its interface.
    BlockRoad& road;

    // The recording and the playback, through their own interfaces.
    Recorder& recording() { return *station.Recording; }
    Playback& player() { return *station.Player; }

    // The timers' and the listener port's handlers, called at once rather than waited for.
    void StatsTimerTimer() { station.StatsTimerTimer(); }
    // The directory client the station wired: its reports and deadlines.
    DirectoryClient& directory() { return *station.directory_; }
    void ConnectionTestTimer() { station.ConnectionTestTimer(); }
    // The road's counters, set where no block could get them there.
    void setErrorCount(uint32_t count) { road.ErrorCount = count; }
    // The last block (or the start) came `ms` earlier than the road noted.
    void backdateLastBlock(double ms) { road.LastBlockTime -= ms / 86400000.0; }
    void ServerVandorixClientClientRead(const std::shared_ptr<TServerClientWinSocket>& socket) {
        station.ServerVandorixClientClientRead(socket);
    }
    // The remote-control port the station wired.
    RemoteControlService& remote() { return *station.remote_; }
    // Puts the station in a mode that no command reaches alone (a playback without its file, record
    // mode without its start).
    void changeMode(StationEvent event) { station.transition(event); }
    // After a component was changed behind the station's back: the snapshot shows it.
    void publish() { station.publishStatus(); }
};
