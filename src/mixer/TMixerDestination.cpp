// SPDX-License-Identifier: GPL-3.0-or-later
#include "mixer/TMixerDestination.h"

TMixerDestination::TMixerDestination(TAudioMixer* Mixer, const vx::mixerapi::MIXERLINE& Line)
    : mixer_(Mixer),
      line_(Line),
      connections_(std::make_unique<TMixerConnections>(Mixer, line_)),
      controls_(std::make_unique<TMixerControls>(Mixer, line_)) {}

TMixerDestination::~TMixerDestination() {
    controls_.reset();
    connections_.reset();
}
