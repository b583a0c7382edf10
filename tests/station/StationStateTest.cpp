// SPDX-License-Identifier: GPL-3.0-or-later
// The station's one transition function as a table: which event applies in which mode, and what it leaves.
#include "station/StationState.h"

#include <gtest/gtest.h>

namespace {

using S = StationState;
using E = StationEvent;

StationMode in(S state, bool armed = false, bool recording = false, bool copy = false,
               bool playback = false) {
    StationMode m;
    m.state = state;
    m.recordArmed = armed;
    m.recording = recording;
    m.mp3Copy = copy;
    m.playback = playback;
    return m;
}

struct Row {
    const char* what;
    StationMode from;
    E event;
    std::optional<StationMode> to;  // none: refused
};

const Row kRows[] = {
    {"a start from rest", in(S::Stopped), E::StartBegun, in(S::Starting)},
    {"a second start while one runs is refused", in(S::OnAir), E::StartBegun, std::nullopt},
    {"a start that opened everything is on air", in(S::Starting, false, false, true), E::StartDone,
     in(S::OnAir, false, false, true)},
    {"a failed start is stopped", in(S::Starting), E::StartFailed, in(S::Stopped)},
    {"a failed record-mode start is stopped too, still armed", in(S::RecordOnly, true), E::StartFailed,
     in(S::Stopped, true)},
    {"a failure after the start has ended changes nothing", in(S::OnAir), E::StartFailed, std::nullopt},
    {"record mode needs its file chosen", in(S::Stopped), E::RecordStarted, std::nullopt},
    {"record mode captures without the port", in(S::Stopped, true), E::RecordStarted,
     in(S::RecordOnly, true)},
    {"a playback on air takes the audience", in(S::OnAir, false, false, false, true), E::PlaybackBegun,
     in(S::Playing, false, false, false, true)},
    {"a playback without its request takes nothing", in(S::OnAir), E::PlaybackBegun, std::nullopt},
    {"a second playback is refused", in(S::Playing, false, false, false, true), E::PlaybackRequested,
     std::nullopt},
    {"the playback's end leaves the broadcast on air", in(S::Playing, false, false, false, true),
     E::PlaybackEnded, in(S::OnAir)},
    {"a playback ending after a stop leaves the station stopped", in(S::Stopped, false, false, false, true),
     E::PlaybackEnded, in(S::Stopped)},
    {"a stop from any running state", in(S::RecordOnly, true, true), E::StopBegun,
     in(S::Stopping, true, true)},
    {"a stop while stopping is no second stop", in(S::Stopping), E::StopBegun, std::nullopt},
    {"the stop ends stopped, the copy's flag apart", in(S::Stopping, false, false, true), E::StopDone,
     in(S::Stopped, false, false, true)},
    {"a recording begins on air and leaves the state", in(S::OnAir, true), E::RecordingBegun,
     in(S::OnAir, true, true)},
    {"a failed recording file stays armed", in(S::RecordOnly, true, true), E::RecordingClosed,
     in(S::RecordOnly, true)},
    {"\"Stop\" ends recording and record mode", in(S::RecordOnly, true, true), E::RecordingStopped,
     in(S::RecordOnly)},
    {"a failed copy leaves the broadcast on air", in(S::OnAir, false, false, true), E::CopyClosed,
     in(S::OnAir)},
};

TEST(StationState, EveryEventAppliesOnlyWhereTheTableSays) {
    for (const Row& row : kRows) {
        EXPECT_EQ(nextState(row.from, row.event), row.to) << row.what;
    }
    // Listeners are served only on air and while a file plays; the port is open from the start on;
    // the settings are locked from a start's end (a record-mode one too) until the stop's.
    for (S s : {S::Stopped, S::Starting, S::OnAir, S::RecordOnly, S::Playing, S::Stopping}) {
        EXPECT_EQ(onAir(s), s == S::OnAir || s == S::Playing) << stateName(s);
        EXPECT_EQ(broadcasting(s), s == S::Starting || s == S::OnAir || s == S::Playing) << stateName(s);
        EXPECT_EQ(settingsLocked(s),
                  s == S::OnAir || s == S::RecordOnly || s == S::Playing || s == S::Stopping)
            << stateName(s);
    }
}

}  // namespace
