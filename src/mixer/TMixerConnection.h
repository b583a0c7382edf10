// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mixer/TMixerControls.h"

class TAudioMixer;

// One source line of a destination with its controls.
class TMixerConnection {
public:
    TMixerConnection(TAudioMixer* Mixer, const vx::mixerapi::MIXERLINE& Line)
        : mixer_(Mixer), line_(Line), controls_(Mixer, line_) {}
    TMixerConnection(const TMixerConnection&) = delete;
    TMixerConnection& operator=(const TMixerConnection&) = delete;

    TAudioMixer* Mixer() const { return mixer_; }
    const vx::mixerapi::MIXERLINE& Line() const { return line_; }
    const TMixerControls& Controls() const { return controls_; }

private:
    TAudioMixer* mixer_;
    vx::mixerapi::MIXERLINE line_;
    TMixerControls controls_;
};
