// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/InputLevel.h"
#include "net/IcecastRelay.h"
#include "platform/IcecastTarget.h"
#include "platform/TAudioFormat.h"
#include "station/ListenerSnapshot.h"
#include "station/StationSettings.h"
#include "station/StationState.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// Everything a view, a service or a test may know of the station, as one value. The station builds a
// new one on its thread whenever something in it changes and never changes a published one, so any
// thread reads it without a lock and without touching the station. Nothing in it was asked of a file,
// a relay or a socket at the moment of reading: what those know is copied in when it changes.
struct StationStatus {
    // The recording input's lines as the window lists them, and the choice start-up applied.
    struct RecordingSource {
        bool available = false;  // a mixer with a recording input
        QStringList lines;       // the recording input itself, then its sources (after "own settings")
        int item = 0;            // 0 own settings, 1 the input, 2... its sources; -1 nothing chosen
        int32_t volume = 0;
        bool kept = false;  // "LautstOptions.ini" holds the choice
    };
    struct File {
        QString name;
        int64_t bytes = 0;  // written, or for a playback sent
    };
    struct Relay {
        IcecastTarget target;
        IcecastRelay::Status status;
        uint64_t droppedBlocks = 0;
        bool fromCommandLine = false;  // else from "Icecast.txt"
    };
    struct DirectoryRequest {
        QString action;  // "setstatus", ...; empty before the first request
        QDateTime at;
        QString result;
    };

    QDateTime takenAt;  // UTC

    StationState state = StationState::Stopped;
    QDateTime stateSince;
    // The state with the recording, the copy and the playback.
    StationMode mode;
    // onAir(state) and broadcasting(state), for readers that only want to know.
    bool onAir = false;
    bool broadcasting = false;
    // The station's settings as its views read them.
    StationSettings settings;
    TAudioFormat formatIn;
    TAudioFormat formatOut;
    // What listeners get: the output format, or while a file plays, the file's.
    TAudioFormat streamFormat;

    ListenerSnapshot clients = std::make_shared<const std::vector<ListenerRow>>();
    int maxUser = 0;
    std::optional<int> listenerLimit;  // none while the limit is off

    int bytesLastBlock = 0;
    uint32_t refreshMs = 0;
    std::optional<double> lineLoad;        // 0..1; none without a line capacity
    uint32_t errorCount = 0;               // since the broadcast's start, as the window shows them
    uint64_t transmissionErrorsTotal = 0;  // since the program's start
    uint64_t sentBytesTotal = 0;

    bool codecOpen = false;  // the codec stream is open: capture and encoding run or are being set up
    QString captureDevice;
    bool captureOk = true;
    bool captureOpen = false;
    InputLevel level;
    double silenceSeconds = 0.0;
    QDateTime deadAirSince;  // null unless dead air
    double silenceThresholdDb = 0.0;
    double silenceAfterSeconds = 0.0;

    std::optional<File> mp3File;
    std::optional<File> recordFile;
    std::optional<File> playback;

    std::vector<Relay> relays;
    // The targets of "Icecast.txt" as last saved (also those waiting for the next stop).
    std::vector<IcecastTarget> relayFileTargets;
    bool relaysPending = false;  // saved targets wait for the next stop

    bool offline = false;
    DirectoryRequest lastDirectoryRequest;

    RecordingSource recordingSource;

    std::vector<int> history;  // the listener count of every statistics tick, oldest first
    std::vector<QDateTime> historyTimes;

    int listenerCount() const { return clients ? int(clients->size()) : 0; }
};
