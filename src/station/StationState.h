// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>

// What the station is doing. Everything that asks whether the station broadcasts asks this, through
// the one transition function below.
enum class StationState : uint8_t {
    Stopped,     // nothing open but the remote control
    Starting,    // a start opens capture, codec, copy and the listener port, then reports to the directory
    OnAir,       // the listener port is open; live blocks (or, after a playback, nothing) go out
    RecordOnly,  // capture and codec run for a recording; the listener port stays closed
    Playing,     // a file plays out to the listeners in place of the live signal
    Stopping,    // the stop closes what the start opened
};

// The questions everyone asks of the state, answered here only.
// Listeners are served: live or from a file (vx::onAirStateName over the status's state word).
bool onAir(StationState state);
// The listener port is open or opening: a broadcast starts, runs, plays a file.
bool broadcasting(StationState state);
// The start has locked the settings and enabled the stop: from the end of a start (a record-mode one
// too) until the stop has closed everything. A start still reporting to the directory has not.
bool settingsLocked(StationState state);

// The state and what goes with it, as one value: the worker reads it whole, and every change of it is
// one event through nextState(). Eight bytes, so that it is one lock-free atomic.
struct StationMode {
    StationState state = StationState::Stopped;
    // "RecordtoFile" chose a file: a start captures and encodes for it, without the listener port.
    bool recordArmed = false;
    // The blocks go to the recording file and to no listener.
    bool recording = false;
    // The blocks go to the MP3 copy too.
    bool mp3Copy = false;
    // A playback holds the station, from its request until it has ended (a start it needs included).
    bool playback = false;
    uint8_t reserved[3] = {};  // compared whole by the atomic's exchange

    bool operator==(const StationMode&) const = default;
};

enum class StationEvent : uint8_t {
    StartBegun,         // a start passed its checks and opens its steps
    StartDone,          // every step of a start has opened
    StartFailed,        // a step failed; what it opened is closed again (a record-mode start too)
    RecordStarted,      // the record-mode start opens capture and codec
    PlaybackRequested,  // a file passed its checks and is to play (a start for it may follow)
    PlaybackBegun,      // a playback takes over the audience of a broadcast
    PlaybackEnded,      // the playback's last pass, a stop or a failure; a broadcast that runs stays on air
    StopBegun,          // the stop closes what was opened
    StopDone,
    RecordArmed,       // "RecordtoFile"
    RecordingBegun,    // the recording file has its header: blocks go to it
    RecordingClosed,   // the recording file takes no more blocks ("Start" anew, or its disk failed)
    RecordingStopped,  // "Stop": no recording, and the next start is an ordinary one
    CopyOpened,        // the MP3 copy was created
    CopyClosed,        // the MP3 copy ended: the stop, an undone start, or its disk failed
};

// The next mode, or nothing when the event does not apply in that mode (the caller then refuses or
// ignores it).
std::optional<StationMode> nextState(StationMode mode, StationEvent event);

// The words the station's status uses for a state ("on_air", ...).
const char* stateName(StationState state);
