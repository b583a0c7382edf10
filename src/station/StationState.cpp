// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/StationState.h"

#include "platform/StateNames.h"

static_assert(sizeof(StationMode) == 8, "one lock-free atomic");

bool onAir(StationState state) {
    return vx::onAirStateName(stateName(state));  // one rule for the station and for vandorixctl
}

bool broadcasting(StationState state) {
    return state == StationState::Starting || onAir(state);
}

bool settingsLocked(StationState state) {
    return state == StationState::OnAir || state == StationState::RecordOnly ||
           state == StationState::Playing || state == StationState::Stopping;
}

std::optional<StationMode> nextState(StationMode mode, StationEvent event) {
    using S = StationState;
    using E = StationEvent;
    const auto with = [&mode](auto field, auto value) {
        StationMode next = mode;
        next.*field = value;
        return std::optional<StationMode>(next);
    };
    switch (event) {
        case E::StartBegun:
            if (mode.state == S::Stopped) {
                return with(&StationMode::state, S::Starting);
            }
            break;
        case E::StartDone:
            if (mode.state == S::Starting) {
                return with(&StationMode::state, S::OnAir);
            }
            break;
        case E::StartFailed:
            if (mode.state == S::Starting || mode.state == S::RecordOnly) {
                return with(&StationMode::state, S::Stopped);
            }
            break;
        case E::RecordStarted:
            if (mode.state == S::Stopped && mode.recordArmed) {
                return with(&StationMode::state, S::RecordOnly);
            }
            break;
        case E::PlaybackRequested:
            if (!mode.playback) {
                return with(&StationMode::playback, true);
            }
            break;
        case E::PlaybackBegun:
            // A playback that finds no broadcast starts one first.
            if (mode.state == S::OnAir && mode.playback) {
                return with(&StationMode::state, S::Playing);
            }
            break;
        case E::PlaybackEnded:
            if (mode.playback) {
                StationMode next = mode;
                next.playback = false;
                if (mode.state == S::Playing) {
                    next.state = S::OnAir;
                }
                // Otherwise a stop (or a start that failed under it) has moved the station on already.
                return next;
            }
            break;
        case E::StopBegun:
            if (mode.state != S::Stopped && mode.state != S::Stopping) {
                return with(&StationMode::state, S::Stopping);
            }
            break;
        case E::StopDone:
            if (mode.state == S::Stopping) {
                return with(&StationMode::state, S::Stopped);
            }
            break;
        case E::RecordArmed:
            return with(&StationMode::recordArmed, true);
        case E::RecordingBegun:
            return with(&StationMode::recording, true);
        case E::RecordingClosed:
            return with(&StationMode::recording, false);
        case E::RecordingStopped: {
            StationMode next = mode;
            next.recordArmed = false;
            next.recording = false;
            return next;
        }
        case E::CopyOpened:
            return with(&StationMode::mp3Copy, true);
        case E::CopyClosed:
            return with(&StationMode::mp3Copy, false);
    }
    return std::nullopt;
}

const char* stateName(StationState state) {
    switch (state) {
        case StationState::Stopped:
            return vx::kStateStopped.data();
        case StationState::Starting:
            return vx::kStateStarting.data();
        case StationState::OnAir:
            return vx::kStateOnAir.data();
        case StationState::RecordOnly:
            return vx::kStateRecordOnly.data();
        case StationState::Playing:
            return vx::kStatePlaying.data();
        case StationState::Stopping:
            return vx::kStateStopping.data();
    }
    return vx::kStateStopped.data();
}
