// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mixer/TMixerDestination.h"
#include "mixer/TPointerList.h"

class TAudioMixer;

// The destinations of the open device that it could describe, in its order; a destination that cannot
// be read is left out and the later ones move up.
class TMixerDestinations {
public:
    explicit TMixerDestinations(TAudioMixer* Mixer);
    TMixerDestinations(const TMixerDestinations&) = delete;
    TMixerDestinations& operator=(const TMixerDestinations&) = delete;

    int Count() const { return list_.Count(); }
    // Throws EListError for an index outside the list.
    TMixerDestination& Items(int Index) const { return *static_cast<TMixerDestination*>(list_.Items(Index)); }

private:
    TPointerList list_{[](void* item) { delete static_cast<TMixerDestination*>(item); }};
};
