// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mixer/TPointerList.h"
#include "platform/mixerapi/MixerApi.h"

#include <memory>

class TAudioMixer;

// The controls of one line, in the device's order, read once when the tree is built. A line whose
// controls cannot be read has none.
class TMixerControls {
public:
    TMixerControls(TAudioMixer* Mixer, const vx::mixerapi::MIXERLINE& Line);
    TMixerControls(const TMixerControls&) = delete;
    TMixerControls& operator=(const TMixerControls&) = delete;

    int Count() const { return list_.Count(); }
    // Throws EListError for an index outside the list.
    const vx::mixerapi::MIXERCONTROL& Items(int Index) const {
        return *static_cast<const vx::mixerapi::MIXERCONTROL*>(list_.Items(Index));
    }

private:
    std::unique_ptr<vx::mixerapi::MIXERCONTROL[]> block_;
    TPointerList list_;
};
