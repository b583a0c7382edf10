// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/mixerapi/MixerApi.h"

#include <QString>

#include <optional>
#include <vector>

// The structure of one mixer device as a backend describes it, and the answers to the structural
// queries (capabilities, line info, line controls) that every backend gives alike. Values are the
// backend's own business.
namespace vx::mixerapi {

struct TreeLine {
    MIXERLINE line;  // name, kind, target and channel count; numbered by numberTree
    std::vector<MIXERCONTROL> controls;
    std::vector<TreeLine> sources;  // only on destinations
};

struct DeviceTree {
    MIXERCAPS caps;  // cDestinations follows the list
    std::vector<TreeLine> destinations;
};

// Copies text into a name field in Windows-1252, cut to the field and NUL-terminated.
void setName(char* field, int capacity, const QString& text);
template <int N>
void setName(char (&field)[N], const QString& text) {
    setName(field, N, text);
}

TreeLine makeLine(const QString& name, uint32_t componentType, uint32_t channels);
MIXERCONTROL makeControl(uint32_t type, uint32_t flags, uint32_t items, const QString& name);

// Gives every line its indices, ID and counts and every control its ID: destination d has line ID d,
// its source s has ((s + 1) << 16) | d; controls are numbered from 1 in the order destination's controls,
// then its sources' controls, destination by destination.
void numberTree(DeviceTree& tree);

uint32_t answerDevCaps(const DeviceTree& tree, MIXERCAPS* caps, uint32_t capsSize);
uint32_t answerLineInfo(const DeviceTree& tree, MIXERLINE* line, uint32_t flags);
uint32_t answerLineControls(const DeviceTree& tree, MIXERLINECONTROLS* controls, uint32_t flags);

// A control and the line it belongs to.
struct ControlPlace {
    const TreeLine* line = nullptr;
    const MIXERCONTROL* control = nullptr;
    int destination = 0;
    int source = -1;  // -1: the destination itself
};
std::optional<ControlPlace> findControl(const DeviceTree& tree, uint32_t controlId);

// A detail request checked against its control: code 0, or why it is refused. On success the request
// holds channels x items entries (items 1 for a value control).
struct DetailRequest {
    uint32_t code = MMSYSERR_NOERROR;
    ControlPlace place;
    uint32_t channels = 0;
    uint32_t items = 0;
};
// Checks a detail request against its control, then its flags against the one flag the call supports
// (wantedFlags). A request may ask for one channel of a control that has several.
DetailRequest checkDetails(const DeviceTree& tree, const MIXERCONTROLDETAILS* details, uint32_t flags,
                           uint32_t wantedFlags);

}  // namespace vx::mixerapi
