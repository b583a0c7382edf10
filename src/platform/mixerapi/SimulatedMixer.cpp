// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mixerapi/SimulatedMixer.h"

#include "platform/Posting.h"

#include <algorithm>

namespace vx::mixerapi {

std::shared_ptr<SimulatedMixer> SimulatedMixer::soundCard() {
    DeviceTree tree;
    setName(tree.caps.szPname, QStringLiteral("Simulated Sound Card"));
    TreeLine playback = makeLine(QStringLiteral("Wiedergabe"), MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2);
    playback.controls = {
        makeControl(MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0, QStringLiteral("Volume")),
        makeControl(MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, 0, QStringLiteral("Mute"))};
    TreeLine recording = makeLine(QStringLiteral("Aufnahme"), MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 2);
    for (const char* name : {"Mikrofon", "Line-In", "Stereo Mix"}) {
        TreeLine source = makeLine(QString::fromLatin1(name), MIXERLINE_COMPONENTTYPE_SRC_ANALOG, 2);
        source.controls = {makeControl(MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0, QStringLiteral("Volume"))};
        recording.sources.push_back(source);
    }
    recording.controls = {makeControl(MIXERCONTROL_CONTROLTYPE_VOLUME, 0, 0, QStringLiteral("Volume")),
                          makeControl(MIXERCONTROL_CONTROLTYPE_MUX,
                                      MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE, 3,
                                      QStringLiteral("Source"))};
    tree.destinations = {playback, recording};
    auto mixer = std::make_shared<SimulatedMixer>();
    mixer->addDevice(tree);
    mixer->values(0, mixer->controlId(0, 1, -1, 1))[0] = 1;
    return mixer;
}

int SimulatedMixer::addDevice(DeviceTree tree) {
    numberTree(tree);
    Device d;
    auto addValues = [&d](const TreeLine& l) {
        for (const MIXERCONTROL& c : l.controls) {
            const uint32_t channels = (c.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : l.line.cChannels;
            const uint32_t items = (c.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? c.cMultipleItems : 1;
            d.values[c.dwControlID].assign(std::size_t(std::max(1u, channels) * std::max(1u, items)), 0);
        }
    };
    for (const TreeLine& dest : tree.destinations) {
        addValues(dest);
        for (const TreeLine& src : dest.sources) {
            addValues(src);
        }
    }
    d.tree = std::move(tree);
    devices_.push_back(std::move(d));
    return int(devices_.size()) - 1;
}

uint32_t SimulatedMixer::controlId(int deviceId, int dest, int source, int index) const {
    const TreeLine& d = device(deviceId).destinations.at(std::size_t(dest));
    const TreeLine& l = source < 0 ? d : d.sources.at(std::size_t(source));
    return l.controls.at(std::size_t(index)).dwControlID;
}

std::vector<uint32_t>& SimulatedMixer::values(int deviceId, uint32_t controlId) {
    return devices_.at(std::size_t(deviceId)).values.at(controlId);
}

void SimulatedMixer::setResult(const std::string& op, uint32_t code, int okCalls) {
    results_[op] = Result{code, okCalls};
}

void SimulatedMixer::clearResults() {
    results_.clear();
    lineFailures_.clear();
    controlsFailures_.clear();
    detailFailures_.clear();
}

void SimulatedMixer::failLine(int dest, int source, uint32_t code) {
    lineFailures_[lineKey(dest, source)] = code;
}

void SimulatedMixer::failControls(int dest, int source, uint32_t code) {
    controlsFailures_[lineKey(dest, source)] = code;
}

void SimulatedMixer::failDetails(uint32_t controlId, uint32_t code) {
    detailFailures_[controlId] = code;
}

void SimulatedMixer::notify(uint32_t message, uint32_t id) {
    if (open_ != 0 && target_ && notice_) {
        postTo(target_, [notice = notice_, message, h = open_, id] { notice(message, h, id); });
    }
}

uint32_t SimulatedMixer::check(const std::string& op, HMIXER mixer) {
    calls.push_back(op);
    if (op != "open" && op != "caps" && (mixer == 0 || mixer != open_)) {
        return MMSYSERR_INVALHANDLE;
    }
    const auto it = results_.find(op);
    if (it != results_.end()) {
        if (it->second.okCalls > 0) {
            --it->second.okCalls;
        } else {
            return it->second.code;
        }
    }
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedMixer::open(HMIXER* mixer, uint32_t deviceId, QObject* callbackTarget, MixerNotice notice,
                              uint32_t flags) {
    if (const uint32_t r = check("open", 0)) {
        return r;
    }
    if (mixer == nullptr || (flags != 0 && flags != CALLBACK_WINDOW)) {
        return MMSYSERR_INVALPARAM;
    }
    if (deviceId >= devices_.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    open_ = nextHandle_++;
    openedDevice = deviceId;
    target_ = callbackTarget;
    notice_ = std::move(notice);
    ++opens;
    *mixer = open_;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedMixer::close(HMIXER mixer) {
    if (const uint32_t r = check("close", mixer)) {
        return r;
    }
    open_ = 0;
    target_ = nullptr;
    notice_ = nullptr;
    ++closes;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedMixer::getDevCaps(uint32_t deviceId, MIXERCAPS* caps, uint32_t capsSize) {
    if (const uint32_t r = check("caps", 0)) {
        return r;
    }
    if (deviceId >= devices_.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    return answerDevCaps(devices_[deviceId].tree, caps, capsSize);
}

uint32_t SimulatedMixer::getLineInfo(HMIXER mixer, MIXERLINE* line, uint32_t flags) {
    if (const uint32_t r = check("lineinfo", mixer)) {
        return r;
    }
    if (line != nullptr) {
        const int source = flags == MIXER_GETLINEINFOF_SOURCE ? int(line->dwSource) : -1;
        const auto it = lineFailures_.find(lineKey(int(line->dwDestination), source));
        if (it != lineFailures_.end()) {
            return it->second;
        }
    }
    return answerLineInfo(devices_[openedDevice].tree, line, flags);
}

uint32_t SimulatedMixer::getLineControls(HMIXER mixer, MIXERLINECONTROLS* controls, uint32_t flags) {
    if (const uint32_t r = check("linecontrols", mixer)) {
        return r;
    }
    if (controls != nullptr) {
        const uint32_t s = controls->dwLineID >> 16;
        const auto it = controlsFailures_.find(lineKey(int(controls->dwLineID & 0xFFFF), int(s) - 1));
        if (it != controlsFailures_.end()) {
            return it->second;
        }
    }
    return answerLineControls(devices_[openedDevice].tree, controls, flags);
}

uint32_t SimulatedMixer::getControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    if (const uint32_t r = check("getdetails", mixer)) {
        return r;
    }
    Device& d = devices_[openedDevice];
    const DetailRequest request = checkDetails(d.tree, details, flags, MIXER_GETCONTROLDETAILSF_VALUE);
    if (request.code != MMSYSERR_NOERROR) {
        return request.code;
    }
    [[maybe_unused]] const auto& [code, place, channels, items] = request;
    if (const auto it = detailFailures_.find(details->dwControlID); it != detailFailures_.end()) {
        return it->second;
    }
    // Asked for fewer channels than the control has: the first ones.
    const std::vector<uint32_t>& stored = d.values.at(details->dwControlID);
    auto* out = static_cast<uint32_t*>(details->paDetails);
    std::copy_n(stored.begin(), std::size_t(channels * items), out);
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedMixer::setControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) {
    if (const uint32_t r = check("setdetails", mixer)) {
        return r;
    }
    Device& d = devices_[openedDevice];
    const DetailRequest request = checkDetails(d.tree, details, flags, MIXER_SETCONTROLDETAILSF_VALUE);
    if (request.code != MMSYSERR_NOERROR) {
        return request.code;
    }
    [[maybe_unused]] const auto& [code, place, channels, items] = request;
    if (const auto it = detailFailures_.find(details->dwControlID); it != detailFailures_.end()) {
        return it->second;
    }
    const auto* in = static_cast<const uint32_t*>(details->paDetails);
    writes.push_back(Write{details->dwControlID, std::vector<uint32_t>(in, in + channels * items)});
    // One channel given for a control of several sets them all alike.
    std::vector<uint32_t>& stored = d.values.at(details->dwControlID);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        stored[i] = in[i % (channels * items)];
    }
    return MMSYSERR_NOERROR;
}

}  // namespace vx::mixerapi
