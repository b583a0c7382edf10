// SPDX-License-Identifier: GPL-3.0-or-later
#include "mixer/TMixerConnections.h"

#include "mixer/TAudioMixer.h"

using namespace vx::mixerapi;

TMixerConnections::TMixerConnections(TAudioMixer* Mixer, const MIXERLINE& Destination) : mixer_(Mixer) {
    for (uint32_t s = 0; s < Destination.cConnections; ++s) {
        MIXERLINE line;
        line.cbStruct = sizeof(MIXERLINE);
        line.dwDestination = Destination.dwDestination;
        line.dwSource = s;
        if (mixer_->Api().getLineInfo(mixer_->Handle(), &line, MIXER_GETLINEINFOF_SOURCE) ==
            MMSYSERR_NOERROR) {
            list_.Add(new TMixerConnection(mixer_, line));
        }
    }
}
