// SPDX-License-Identifier: GPL-3.0-or-later
#include "mixer/TMixerControls.h"

#include "mixer/TAudioMixer.h"

#include <algorithm>

using namespace vx::mixerapi;

namespace {
// No real line has more; a count beyond it is a broken answer, and the line then has no controls.
constexpr uint32_t kMaxControls = 1024;
}  // namespace

TMixerControls::TMixerControls(TAudioMixer* Mixer, const MIXERLINE& Line)
    : block_(std::make_unique<MIXERCONTROL[]>(std::min(Line.cControls, kMaxControls))) {
    if (Line.cControls > kMaxControls) {
        return;
    }
    MIXERLINECONTROLS request;
    request.cbStruct = sizeof(MIXERLINECONTROLS);
    request.dwLineID = Line.dwLineID;
    request.cControls = Line.cControls;
    request.cbmxctrl = sizeof(MIXERCONTROL);
    request.pamxctrl = block_.get();
    if (Mixer->Api().getLineControls(Mixer->Handle(), &request, MIXER_GETLINECONTROLSF_ALL) ==
        MMSYSERR_NOERROR) {
        for (uint32_t i = 0; i < Line.cControls; ++i) {
            list_.Add(&block_[i]);
        }
    }
}
