// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "station/BlockRoad.h"
#include "station/RelayBoard.h"
#include "station/Station.h"
#include "threads/TThreadComp.h"

// The station's insides, for tests that inject a failure, a clock or a peer where no command reaches, or
// that watch a component the snapshot does not show. Everything else reads status() and gives commands.
struct StationProbe {
    explicit StationProbe(Station& s)
        : station(s),
          ServerVandorixClient(s.ServerVandorixClient),
          HTTP(s.HTTP),
          HTTPHoerer(s.HTTPHoerer),
          DBTimer(s.DBTimer),
          ConnectionTest(s.ConnectionTest),
          StatsTimer(s.StatsTimer),
          CaptureRetry(s.road_->CaptureRetry),
          RecordFile(s.RecordFile),
          RemoteControl(s.RemoteControl),
          OfflineMode(s.OfflineMode),
          MaxUser(s.MaxUser),
          PlaybackDecodeFormat(s.PlaybackDecodeFormat),
          PlaybackFormat(s.PlaybackFormat),
          StalledListenerLimitMs(s.StalledListenerLimitMs),
          DirectoryDeadlineMs(s.DirectoryDeadlineMs),
          OffAirDeadlineMs(s.OffAirDeadlineMs),
          EndProcess(s.EndProcess),
          Languagelist(s.Languagelist),
          DebugStr(s.DebugStr),
          DebugNum(s.DebugNum),
          road(*s.road_) {}

    Station& station;
    std::unique_ptr<TServerSocket>& ServerVandorixClient;
    std::unique_ptr<THTTPGet>& HTTP;
    std::unique_ptr<THTTPGet>& HTTPHoerer;
    QTimer*& DBTimer;
    QTimer*& ConnectionTest;
    QTimer*& StatsTimer;
    QTimer*& CaptureRetry;
    std::shared_ptr<QueuedFileWriter>& RecordFile;
    std::unique_ptr<TServerSocket>& RemoteControl;
    bool& OfflineMode;
    int32_t& MaxUser;
    TAudioFormat& PlaybackDecodeFormat;
    TAudioFormat& PlaybackFormat;
    int& StalledListenerLimitMs;
    int& DirectoryDeadlineMs;
    int& OffAirDeadlineMs;
    std::function<void()>& EndProcess;
    const QStringList*& Languagelist;
    TraceName& DebugStr;
    std::atomic<int32_t>& DebugNum;
    // Capture to destinations: tests read its components and counters through its interface.
    BlockRoad& road;

    // The timers' and the listener port's handlers, called at once rather than waited for.
    void DBTimerTimer() { station.DBTimerTimer(); }
    void StatsTimerTimer() { station.StatsTimerTimer(); }
    void DirectoryOffAir() { station.DirectoryOffAir(); }
    void ConnectionTestTimer() { station.ConnectionTestTimer(); }
    // The road's counters, set where no block could get them there.
    void setErrorCount(uint32_t count) { road.ErrorCount = count; }
    // The last block (or the start) came `ms` earlier than the road noted.
    void backdateLastBlock(double ms) { road.LastBlockTime -= ms / 86400000.0; }
    void ServerVandorixClientClientRead(const std::shared_ptr<TServerClientWinSocket>& socket) {
        station.ServerVandorixClientClientRead(socket);
    }
    void RemoteControlClientRead(const std::shared_ptr<TServerClientWinSocket>& socket) {
        station.RemoteControlClientRead(socket);
    }
    // Puts the station in a mode that no command reaches alone (a playback without its file, record
    // mode without its start).
    void changeMode(StationEvent event) { station.transition(event); }
    // After a component was changed behind the station's back: the snapshot shows it.
    void publish() { station.publishStatus(); }
};
