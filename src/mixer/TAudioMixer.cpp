// SPDX-License-Identifier: GPL-3.0-or-later
#include "mixer/TAudioMixer.h"

#include <algorithm>
#include <stdexcept>

using namespace vx::mixerapi;

namespace {

// Every detail request goes through a buffer of this many entries; a request that needs more (a list of
// more items, or a line of more channels) is not made.
constexpr uint32_t kMaxEntries = 31;

bool hasFlag(const MIXERCONTROL& c, uint32_t flag) {
    return (c.fdwControl & flag) != 0;
}

bool isValueControl(const MIXERCONTROL& c) {
    return (c.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME ||
            c.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE) &&
           !hasFlag(c, MIXERCONTROL_CONTROLF_MULTIPLE);
}

// Multiplexers and mixers: a list of entries, each selecting one source.
bool isListControl(const MIXERCONTROL& c) {
    return (c.dwControlType & MIXERCONTROL_CONTROLTYPE_MUX) == MIXERCONTROL_CONTROLTYPE_MUX;
}

}  // namespace

struct TAudioMixer::Details {
    MIXERCONTROLDETAILS request;
    uint32_t values[kMaxEntries] = {};
    uint32_t entries = 0;
};

TAudioMixer::TAudioMixer(std::shared_ptr<MixerApi> api)
    : api_(std::move(api)), notificationWindow_(std::make_unique<QObject>()) {
    if (!api_) {
        throw std::invalid_argument("TAudioMixer needs a mixer layer; none was given");
    }
    deviceCount_ = api_->getNumDevs();
    mixerId_ = -1;
    SetMixerID(0);
}

TAudioMixer::~TAudioMixer() {
    closeDevice();
    notificationWindow_.reset();
}

void TAudioMixer::closeDevice() {
    if (mixerId_ >= 0) {
        api_->close(handle_);
        handle_ = 0;
        mixerId_ = -1;
    }
    destinations_.reset();
}

void TAudioMixer::SetMixerID(int32_t Value) {
    if (deviceCount_ == 0) {
        return;
    }
    if (Value >= 0 && uint32_t(Value) >= deviceCount_) {
        Value = int32_t(deviceCount_ - 1);
    }
    closeDevice();
    if (Value < 0) {
        return;
    }
    HMIXER handle = 0;
    if (api_->open(
            &handle, uint32_t(Value), notificationWindow_.get(),
            [this](uint32_t message, HMIXER mixer, uint32_t id) { notice(message, mixer, id); },
            CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        return;
    }
    handle_ = handle;
    mixerId_ = Value;
    caps_ = MIXERCAPS();
    api_->getDevCaps(uint32_t(Value), &caps_, sizeof caps_);
    destinations_ = std::make_unique<TMixerDestinations>(this);
}

void TAudioMixer::notice(uint32_t message, HMIXER mixer, uint32_t id) {
    if (message == MM_MIXM_LINE_CHANGE && OnLineChange) {
        OnLineChange(this, int32_t(mixer), int32_t(id));
    } else if (message == MM_MIXM_CONTROL_CHANGE && OnControlChange) {
        OnControlChange(this, int32_t(mixer), int32_t(id));
    }
}

bool TAudioMixer::prepareDetails(const MIXERCONTROL& control, uint32_t lineChannels, Details& d) {
    d.request = MIXERCONTROLDETAILS();
    d.request.cbStruct = sizeof(MIXERCONTROLDETAILS);
    d.request.dwControlID = control.dwControlID;
    d.request.cChannels = hasFlag(control, MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : lineChannels;
    d.request.cMultipleItems = isListControl(control) && hasFlag(control, MIXERCONTROL_CONTROLF_MULTIPLE)
                                   ? control.cMultipleItems
                                   : 0;
    d.request.cbDetails = sizeof(uint32_t);
    d.request.paDetails = d.values;
    d.entries = d.request.cChannels * std::max<uint32_t>(1, d.request.cMultipleItems);
    std::fill(std::begin(d.values), std::end(d.values), 0u);
    return d.request.cChannels <= kMaxEntries && d.request.cMultipleItems <= kMaxEntries &&
           d.entries <= kMaxEntries;
}

bool TAudioMixer::readDetails(const MIXERCONTROL& control, uint32_t lineChannels, Details& d) {
    return prepareDetails(control, lineChannels, d) &&
           api_->getControlDetails(handle_, &d.request, MIXER_GETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

uint32_t TAudioMixer::writeDetails(Details& d) {
    return api_->setControlDetails(handle_, &d.request, MIXER_SETCONTROLDETAILSF_VALUE);
}

vx::Result<TLineVolume> TAudioMixer::GetVolume(int32_t DestIndex, int32_t ConnIndex) {
    if (!destinations_) {
        return vx::Error(vx::Error::Kind::Unavailable, vx::Error::Step::Query, "no mixer device is open");
    }
    TLineVolume v{.VolDisabled = false, .MuteDisabled = false};
    const TMixerDestination& dest = destinations_->Items(DestIndex);
    const bool ofDestination = ConnIndex == -1;
    const TMixerConnection* conn = ofDestination ? nullptr : &dest.Connections().Items(ConnIndex);
    const MIXERLINE& line = ofDestination ? dest.Line() : conn->Line();
    const TMixerControls& controls = ofDestination ? dest.Controls() : conn->Controls();

    Details d;
    for (int i = 0; i < controls.Count() && (v.Left == -1 || v.Mute == -1); ++i) {
        const MIXERCONTROL& c = controls.Items(i);
        if (!isValueControl(c) || !readDetails(c, line.cChannels, d)) {
            continue;
        }
        const bool disabled = hasFlag(c, MIXERCONTROL_CONTROLF_DISABLED);
        if (c.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME && v.Left == -1) {
            v.VolDisabled = disabled;
            if (!disabled) {
                v.Left = int32_t(d.values[0]);
                if (d.request.cChannels > 1) {
                    v.Right = int32_t(d.values[1]);
                }
            }
        } else if (c.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE && v.Mute == -1) {
            v.MuteDisabled = disabled;
            if (!disabled) {
                v.Mute = d.values[0] != 0 ? 1 : 0;
            }
        }
    }

    // A source without a mute control is on while its entry in the destination's list is selected. A list
    // without an entry at the source's position says nothing of it: the buffer there holds no value the
    // device gave.
    if (v.Mute == -1 && !ofDestination) {
        for (int i = 0; i < dest.Controls().Count() && v.Mute == -1; ++i) {
            const MIXERCONTROL& c = dest.Controls().Items(i);
            if (isListControl(c) && readDetails(c, dest.Line().cChannels, d) &&
                uint32_t(ConnIndex) < d.entries) {
                v.Mute = int32_t(d.values[ConnIndex]);
            }
        }
    }
    if (v.Left == -1) {
        v.VolDisabled = true;
    }
    if (v.Mute == -1) {
        v.MuteDisabled = true;
    }
    return v;
}

bool TAudioMixer::SetVolume(int32_t DestIndex, int32_t ConnIndex, int32_t Left, int32_t Right, int32_t Mute) {
    if (!destinations_) {
        return false;
    }
    const TMixerDestination& dest = destinations_->Items(DestIndex);
    const bool ofDestination = ConnIndex == -1;
    const TMixerConnection* conn = ofDestination ? nullptr : &dest.Connections().Items(ConnIndex);
    const MIXERLINE& line = ofDestination ? dest.Line() : conn->Line();
    const TMixerControls& controls = ofDestination ? dest.Controls() : conn->Controls();

    bool volumeDone = Left == -1;
    bool muteDone = Mute == -1;
    Details d;
    for (int i = 0; i < controls.Count() && (!volumeDone || !muteDone); ++i) {
        const MIXERCONTROL& c = controls.Items(i);
        if (!isValueControl(c)) {
            continue;
        }
        if (c.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME && !volumeDone) {
            volumeDone = true;
            // Every channel beyond the second takes Left as well: a surround line's other channels
            // would otherwise be turned down to nothing.
            if (prepareDetails(c, line.cChannels, d)) {
                std::fill(std::begin(d.values), std::end(d.values), uint32_t(Left));
                d.values[1] = uint32_t(Right == -1 ? Left : Right);
                writeDetails(d);
            }
        } else if (c.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE && !muteDone) {
            muteDone = true;
            if (prepareDetails(c, line.cChannels, d)) {  // a mute per channel: all of them alike
                std::fill(std::begin(d.values), std::end(d.values), uint32_t(Mute));
                writeDetails(d);
            }
        }
    }

    // A source without a mute control is switched through its entry in the destination's first list; a
    // multiplexer selects that entry alone. A list without an entry at the source's position is left as
    // it is: writing it would only clear a multiplexer's selection.
    if (!muteDone && !ofDestination) {
        for (int i = 0; i < dest.Controls().Count(); ++i) {
            const MIXERCONTROL& c = dest.Controls().Items(i);
            if (!isListControl(c)) {
                continue;
            }
            if (prepareDetails(c, dest.Line().cChannels, d) && uint32_t(ConnIndex) < d.entries) {
                api_->getControlDetails(handle_, &d.request, MIXER_GETCONTROLDETAILSF_VALUE);
                if (c.dwControlType == MIXERCONTROL_CONTROLTYPE_MUX) {
                    std::fill(std::begin(d.values), std::end(d.values), 0u);
                }
                d.values[ConnIndex] = uint32_t(Mute);
                writeDetails(d);
            }
            break;
        }
    }
    return true;
}
