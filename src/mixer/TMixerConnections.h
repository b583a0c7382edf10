// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mixer/TMixerConnection.h"
#include "mixer/TPointerList.h"

class TAudioMixer;

// The source lines of one destination that the device could describe, in its order; a source that
// cannot be read is left out and the later ones move up.
class TMixerConnections {
public:
    TMixerConnections(TAudioMixer* Mixer, const vx::mixerapi::MIXERLINE& Destination);
    TMixerConnections(const TMixerConnections&) = delete;
    TMixerConnections& operator=(const TMixerConnections&) = delete;

    int Count() const { return list_.Count(); }
    // Throws EListError for an index outside the list.
    TMixerConnection& Items(int Index) const { return *static_cast<TMixerConnection*>(list_.Items(Index)); }

private:
    TAudioMixer* mixer_;
    TPointerList list_{[](void* item) { delete static_cast<TMixerConnection*>(item); }};
};
