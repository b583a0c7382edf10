// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mixerapi/MixerTree.h"

#include "platform/Ansi.h"

#include <cstring>

namespace vx::mixerapi {

void setName(char* field, int capacity, const QString& text) {
    const QByteArray bytes = toAnsi(text).left(capacity - 1);
    std::memset(field, 0, std::size_t(capacity));
    std::memcpy(field, bytes.constData(), std::size_t(bytes.size()));
}

TreeLine makeLine(const QString& name, uint32_t componentType, uint32_t channels) {
    TreeLine l;
    l.line.cbStruct = sizeof(MIXERLINE);
    l.line.dwComponentType = componentType;
    l.line.cChannels = channels;
    setName(l.line.szName, name);
    setName(l.line.szShortName, name);
    return l;
}

MIXERCONTROL makeControl(uint32_t type, uint32_t flags, uint32_t items, const QString& name) {
    MIXERCONTROL c;
    c.cbStruct = sizeof(MIXERCONTROL);
    c.dwControlType = type;
    c.fdwControl = flags;
    c.cMultipleItems = items;
    c.Bounds.lMaximum = type == MIXERCONTROL_CONTROLTYPE_VOLUME ? 65535 : 1;
    c.Metrics.cSteps = type == MIXERCONTROL_CONTROLTYPE_VOLUME ? 65536 : 0;
    setName(c.szName, name);
    setName(c.szShortName, name);
    return c;
}

void numberTree(DeviceTree& tree) {
    uint32_t nextControl = 1;
    auto numberControls = [&](TreeLine& l) {
        l.line.cControls = uint32_t(l.controls.size());
        for (MIXERCONTROL& c : l.controls) {
            c.dwControlID = nextControl++;
        }
    };
    tree.caps.cDestinations = uint32_t(tree.destinations.size());
    for (uint32_t d = 0; d < tree.destinations.size(); ++d) {
        TreeLine& dest = tree.destinations[d];
        dest.line.dwDestination = d;
        dest.line.dwSource = 0;
        dest.line.dwLineID = d;
        dest.line.cConnections = uint32_t(dest.sources.size());
        numberControls(dest);
        for (uint32_t s = 0; s < dest.sources.size(); ++s) {
            TreeLine& src = dest.sources[s];
            src.line.dwDestination = d;
            src.line.dwSource = s;
            src.line.dwLineID = ((s + 1) << 16) | d;
            src.line.cConnections = 0;
            numberControls(src);
        }
    }
}

uint32_t answerDevCaps(const DeviceTree& tree, MIXERCAPS* caps, uint32_t capsSize) {
    if (caps == nullptr || capsSize < sizeof(MIXERCAPS)) {
        return MMSYSERR_INVALPARAM;
    }
    *caps = tree.caps;
    return MMSYSERR_NOERROR;
}

uint32_t answerLineInfo(const DeviceTree& tree, MIXERLINE* line, uint32_t flags) {
    if (line == nullptr || line->cbStruct != sizeof(MIXERLINE)) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != MIXER_GETLINEINFOF_DESTINATION && flags != MIXER_GETLINEINFOF_SOURCE) {
        return MMSYSERR_NOTSUPPORTED;
    }
    if (line->dwDestination >= tree.destinations.size()) {
        return MMSYSERR_INVALPARAM;
    }
    const TreeLine& dest = tree.destinations[line->dwDestination];
    if (flags == MIXER_GETLINEINFOF_DESTINATION) {
        *line = dest.line;
        return MMSYSERR_NOERROR;
    }
    if (line->dwSource >= dest.sources.size()) {
        return MMSYSERR_INVALPARAM;
    }
    *line = dest.sources[line->dwSource].line;
    return MMSYSERR_NOERROR;
}

namespace {

const TreeLine* findLine(const DeviceTree& tree, uint32_t lineId) {
    const uint32_t d = lineId & 0xFFFF;
    const uint32_t s = lineId >> 16;
    if (d >= tree.destinations.size()) {
        return nullptr;
    }
    const TreeLine& dest = tree.destinations[d];
    if (s == 0) {
        return &dest;
    }
    return s - 1 < dest.sources.size() ? &dest.sources[s - 1] : nullptr;
}

}  // namespace

uint32_t answerLineControls(const DeviceTree& tree, MIXERLINECONTROLS* controls, uint32_t flags) {
    if (controls == nullptr || controls->cbStruct != sizeof(MIXERLINECONTROLS) ||
        controls->cbmxctrl != sizeof(MIXERCONTROL)) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != MIXER_GETLINECONTROLSF_ALL) {
        return MMSYSERR_NOTSUPPORTED;
    }
    const TreeLine* line = findLine(tree, controls->dwLineID);
    if (line == nullptr) {
        return MIXERR_INVALLINE;
    }
    if (controls->cControls != line->controls.size() || (controls->cControls > 0 && !controls->pamxctrl)) {
        return MMSYSERR_INVALPARAM;
    }
    for (std::size_t i = 0; i < line->controls.size(); ++i) {
        controls->pamxctrl[i] = line->controls[i];
    }
    return MMSYSERR_NOERROR;
}

std::optional<ControlPlace> findControl(const DeviceTree& tree, uint32_t controlId) {
    for (std::size_t d = 0; d < tree.destinations.size(); ++d) {
        const TreeLine& dest = tree.destinations[d];
        for (const MIXERCONTROL& c : dest.controls) {
            if (c.dwControlID == controlId) {
                return ControlPlace{&dest, &c, int(d), -1};
            }
        }
        for (std::size_t s = 0; s < dest.sources.size(); ++s) {
            for (const MIXERCONTROL& c : dest.sources[s].controls) {
                if (c.dwControlID == controlId) {
                    return ControlPlace{&dest.sources[s], &c, int(d), int(s)};
                }
            }
        }
    }
    return std::nullopt;
}

DetailRequest checkDetails(const DeviceTree& tree, const MIXERCONTROLDETAILS* details, uint32_t flags,
                           uint32_t wantedFlags) {
    const auto refused = [](uint32_t code) {
        DetailRequest request;
        request.code = code;
        return request;
    };
    if (details == nullptr || details->cbStruct != sizeof(MIXERCONTROLDETAILS) || details->cbDetails != 4 ||
        details->paDetails == nullptr) {
        return refused(MMSYSERR_INVALPARAM);
    }
    const std::optional<ControlPlace> found = findControl(tree, details->dwControlID);
    if (!found) {
        return refused(MIXERR_INVALCONTROL);
    }
    const MIXERCONTROL& c = *found->control;
    const uint32_t lineChannels =
        (c.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : found->line->line.cChannels;
    if (details->cChannels != 1 && details->cChannels != lineChannels) {
        return refused(MMSYSERR_INVALPARAM);
    }
    const bool multiple = (c.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) != 0;
    if (details->cMultipleItems != (multiple ? c.cMultipleItems : 0)) {
        return refused(MMSYSERR_INVALPARAM);
    }
    if (flags != wantedFlags) {
        return refused(MMSYSERR_NOTSUPPORTED);
    }
    return {MMSYSERR_NOERROR, *found, details->cChannels, multiple ? c.cMultipleItems : 1};
}

}  // namespace vx::mixerapi
