// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// The remote control's protocol has no answer: a command can be lost (every place taken, a frozen
// station) without the sender hearing of it. After sending, vandorixctl looks for the command's effect
// and says when there is none.
namespace vx::ctl {

inline constexpr int kExitNoEffect = 1;
inline constexpr int kExitUnverified = 4;

struct EffectTarget {
    std::string host;
    int remotePort = 0;
    int statusPort = 0;
    int waitMs = 0;  // how long the effect may take
};

// After Start or Stop: the status port shows the station started (on the air, playing a file, or capturing
// in record mode) or stopped.
// After Ende: the station closes the connection and its port. After Liste: the station's status still
// moves on. 0 when seen, kExitNoEffect (with the reason on standard error) when not, kExitUnverified
// when the status port does not answer. `fd` is the connection the command went over.
int checkEffect(const std::string& command, const EffectTarget& target, int fd);

}  // namespace vx::ctl
