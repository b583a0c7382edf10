// SPDX-License-Identifier: GPL-3.0-or-later
#include "mixer/TMixerDestinations.h"

#include "mixer/TAudioMixer.h"

using namespace vx::mixerapi;

TMixerDestinations::TMixerDestinations(TAudioMixer* Mixer) {
    for (uint32_t d = 0; d < Mixer->DeviceCaps().cDestinations; ++d) {
        MIXERLINE line;
        line.cbStruct = sizeof(MIXERLINE);
        line.dwDestination = d;
        if (Mixer->Api().getLineInfo(Mixer->Handle(), &line, MIXER_GETLINEINFOF_DESTINATION) ==
            MMSYSERR_NOERROR) {
            list_.Add(new TMixerDestination(Mixer, line));
        }
    }
}
