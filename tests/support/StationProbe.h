// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/Playback.h"
#include "station/Recorder.h"
#include "station/Station.h"

// The station's insides, for tests that inject a failure, a clock or a peer where no command reaches, or
// that watch a component the snapshot does not show. Everything else reads status() and gives commands.
struct StationProbe {
    explicit StationProbe(Station& s)
        : station(s),
          ACMC(s.ACMC),
          ACMI(s.ACMI),
          ServerVandorixClient(s.ServerVandorixClient),
          ConnectionTest(s.ConnectionTest),
          StatsTimer(s.StatsTimer),
          CaptureRetry(s.CaptureRetry),
          Mp3File(s.Mp3File),
          RelayStates(s.RelayStates),
          Thread(s.Thread),
          MaxUser(s.MaxUser),
          ErrorCount(s.ErrorCount),
          RefreshMs(s.RefreshMs),
          LastBlockTime(s.LastBlockTime),
          StalledListenerLimitMs(s.StalledListenerLimitMs),
          EndProcess(s.EndProcess),
          Languagelist(s.Languagelist),
          DebugStr(s.DebugStr),
          DebugNum(s.DebugNum),
          DroppedBlocks(s.DroppedBlocks),
          RunEndWaitMs(s.RunEndWaitMs) {}

    Station& station;
    std::unique_ptr<TACMConvertor>& ACMC;
    std::unique_ptr<TACMIn>& ACMI;
    std::unique_ptr<TServerSocket>& ServerVandorixClient;
    QTimer*& ConnectionTest;
    QTimer*& StatsTimer;
    QTimer*& CaptureRetry;
    std::unique_ptr<QueuedFileWriter>& Mp3File;
    std::shared_ptr<RelayBoard>& RelayStates;
    std::unique_ptr<TThreadComp>& Thread;
    int32_t& MaxUser;
    std::atomic<uint32_t>& ErrorCount;
    uint32_t& RefreshMs;
    double& LastBlockTime;
    int& StalledListenerLimitMs;
    std::function<void()>& EndProcess;
    const QStringList*& Languagelist;
    TraceName& DebugStr;
    std::atomic<int32_t>& DebugNum;
    // Captured blocks that found the previous run still busy.
    std::atomic<uint64_t>& DroppedBlocks;
    // How long the stop waits for a run still converting.
    int& RunEndWaitMs;

    // The recording and the playback, through their own interfaces.
    Recorder& recording() { return *station.Recording; }
    Playback& player() { return *station.Player; }

    // The timers' and the listener port's handlers, called at once rather than waited for.
    void StatsTimerTimer() { station.StatsTimerTimer(); }
    // The directory client the station wired: its reports and deadlines.
    DirectoryClient& directory() { return *station.directory_; }
    void ConnectionTestTimer() { station.ConnectionTestTimer(); }
    static uint32_t refreshMsBetween(double last, double now) { return Station::refreshMsBetween(last, now); }
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
