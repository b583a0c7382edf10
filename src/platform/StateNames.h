// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

// The words the station's status uses for its state, and what they mean: the station names its state
// with them, vandorixctl reads them from the status JSON. Plain C++ without Qt, for vandorixctl too.
namespace vx {

inline constexpr std::string_view kStateStopped = "stopped";
inline constexpr std::string_view kStateStarting = "starting";
inline constexpr std::string_view kStateOnAir = "on_air";
inline constexpr std::string_view kStateRecordOnly = "record_only";
inline constexpr std::string_view kStatePlaying = "playing";
inline constexpr std::string_view kStateStopping = "stopping";

// On the air: the listener port is open and listeners are served, live or from a file. A record-mode
// capture is not: nobody can hear it.
constexpr bool onAirStateName(std::string_view state) {
    return state == kStateOnAir || state == kStatePlaying;
}

// Started: what a Start leads to. In record mode that is the capture into the file alone, which is the
// start the user asked for even though nobody can hear it.
constexpr bool startedStateName(std::string_view state) {
    return onAirStateName(state) || state == kStateRecordOnly;
}

}  // namespace vx
