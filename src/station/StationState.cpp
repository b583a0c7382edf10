#include "station/StationState.h"

std::optional<StationState> nextState(StationState state, StationEvent event) {
    using S = StationState;
    using E = StationEvent;
    switch (event) {
        case E::StartBegun:
            if (state == S::Stopped) {
                return S::Starting;
            }
            break;
        case E::StartDone:
            if (state == S::Starting) {
                return S::OnAir;
            }
            break;
        case E::StartFailed:
            if (state == S::Starting) {
                return S::Stopped;
            }
            break;
        case E::RecordStarted:
            if (state == S::Stopped) {
                return S::RecordOnly;
            }
            break;
        case E::PlaybackBegun:
            // A playback that finds no broadcast starts one first.
            if (state == S::OnAir) {
                return S::Playing;
            }
            break;
        case E::PlaybackEnded:
            if (state == S::Playing) {
                return S::OnAir;
            }
            break;  // a stop (or a start that failed under it) has moved the station on already
        case E::StopBegun:
            if (state != S::Stopped && state != S::Stopping) {
                return S::Stopping;
            }
            break;
        case E::StopDone:
            if (state == S::Stopping) {
                return S::Stopped;
            }
            break;
    }
    return std::nullopt;
}

const char* stateName(StationState state) {
    switch (state) {
        case StationState::Stopped:
            return "stopped";
        case StationState::Starting:
            return "starting";
        case StationState::OnAir:
            return "on_air";
        case StationState::RecordOnly:
            return "record_only";
        case StationState::Playing:
            return "playing";
        case StationState::Stopping:
            return "stopping";
    }
    return "stopped";
}
