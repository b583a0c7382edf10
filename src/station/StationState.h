#pragma once

#include <optional>

// What the station is doing. Everything that asks whether the station broadcasts asks this, through
// the one transition function below.
enum class StationState {
    Stopped,     // nothing open but the remote control
    Starting,    // a start opens capture, codec, copy and the listener port, then reports to the directory
    OnAir,       // the listener port is open; live blocks (or, after a playback, nothing) go out
    RecordOnly,  // capture and codec run for a recording; the listener port stays closed
    Playing,     // a file plays out to the listeners in place of the live signal
    Stopping,    // the stop closes what the start opened
};

enum class StationEvent {
    StartBegun,     // a start passed its checks and opens its steps
    StartDone,      // every step of a start has opened
    StartFailed,    // a step failed; what it opened is closed again
    RecordStarted,  // the record-mode start opened capture and codec
    PlaybackBegun,  // a playback takes over the audience of a broadcast (started for it when none ran)
    PlaybackEnded,  // the playback's last pass, a stop or a failure; a broadcast that runs stays on air
    StopBegun,      // the stop closes what was opened
    StopDone,
};

// The next state, or nothing when the event does not apply in that state (the caller then refuses or
// ignores it).
std::optional<StationState> nextState(StationState state, StationEvent event);

// The words the station's status uses for a state ("on_air", ...).
const char* stateName(StationState state);
