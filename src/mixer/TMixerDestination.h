// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mixer/TMixerConnections.h"
#include "mixer/TMixerControls.h"

#include <memory>

class TAudioMixer;

// One destination line: its own controls and the source lines feeding it.
class TMixerDestination {
public:
    TMixerDestination(TAudioMixer* Mixer, const vx::mixerapi::MIXERLINE& Line);
    ~TMixerDestination();
    TMixerDestination(const TMixerDestination&) = delete;
    TMixerDestination& operator=(const TMixerDestination&) = delete;

    TAudioMixer* Mixer() const { return mixer_; }
    const vx::mixerapi::MIXERLINE& Line() const { return line_; }
    const TMixerControls& Controls() const { return *controls_; }
    const TMixerConnections& Connections() const { return *connections_; }

private:
    TAudioMixer* mixer_;
    vx::mixerapi::MIXERLINE line_;
    std::unique_ptr<TMixerConnections> connections_;
    std::unique_ptr<TMixerControls> controls_;
};
