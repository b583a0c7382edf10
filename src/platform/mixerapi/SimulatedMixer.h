// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/mixerapi/MixerTree.h"

#include <QPointer>

#include <map>
#include <string>
#include <vector>

// A mixer for tests: any tree of lines and controls, values kept per control, and any operation told to
// answer a code, generally or for one line or control. Change notices are posted like a device's.
namespace vx::mixerapi {

class SimulatedMixer : public MixerApi {
public:
    // A sound card as the station expects one: destination 0 "Wiedergabe" (volume, mute), destination 1
    // "Aufnahme" (volume and a multiplexer over its sources, the first selected), sources "Mikrofon",
    // "Line-In" and "Stereo Mix" (a volume each).
    static std::shared_ptr<SimulatedMixer> soundCard();

    // Adds a device; the tree is numbered (numberTree) and every control's values start at 0. Returns
    // the device number.
    int addDevice(DeviceTree tree);
    const DeviceTree& device(int deviceId) const { return devices_.at(std::size_t(deviceId)).tree; }
    // The ID of control `index` of destination `dest` (source -1) or of its source `source`.
    uint32_t controlId(int deviceId, int dest, int source, int index) const;
    // A control's values: channels (1 if uniform, else the line's) x items (1 for value controls),
    // channel by channel.
    std::vector<uint32_t>& values(int deviceId, uint32_t controlId);

    // Operation names: "open", "close", "caps", "lineinfo", "linecontrols", "getdetails", "setdetails".
    // After `okCalls` further successful calls the operation answers `code` until cleared.
    void setResult(const std::string& op, uint32_t code, int okCalls = 0);
    void clearResults();
    // Line info for destination `dest` (source -1) or its source answers `code`.
    void failLine(int dest, int source, uint32_t code);
    // The controls of that line answer `code`.
    void failControls(int dest, int source, uint32_t code);
    // Detail reads and writes of one control answer `code`.
    void failDetails(uint32_t controlId, uint32_t code);

    // Posts a change notice of the open device, as the device would after a change.
    void notify(uint32_t message, uint32_t id);

    uint32_t getNumDevs() override { return uint32_t(devices_.size()); }
    uint32_t open(HMIXER* mixer, uint32_t deviceId, QObject* callbackTarget, MixerNotice notice,
                  uint32_t flags) override;
    uint32_t close(HMIXER mixer) override;
    uint32_t getDevCaps(uint32_t deviceId, MIXERCAPS* caps, uint32_t capsSize) override;
    uint32_t getLineInfo(HMIXER mixer, MIXERLINE* line, uint32_t flags) override;
    uint32_t getLineControls(HMIXER mixer, MIXERLINECONTROLS* controls, uint32_t flags) override;
    uint32_t getControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) override;
    uint32_t setControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) override;

    // What the layer saw.
    std::vector<std::string> calls;
    struct Write {
        uint32_t controlId;
        std::vector<uint32_t> values;  // as handed over
    };
    std::vector<Write> writes;
    int opens = 0;
    int closes = 0;
    uint32_t openedDevice = 0;

private:
    struct Device {
        DeviceTree tree;
        std::map<uint32_t, std::vector<uint32_t>> values;
    };
    struct Result {
        uint32_t code;
        int okCalls;
    };
    uint32_t check(const std::string& op, HMIXER mixer);
    static uint64_t lineKey(int dest, int source) {
        return (uint64_t(uint32_t(dest)) << 32) | uint32_t(source);
    }

    std::vector<Device> devices_;
    std::map<std::string, Result> results_;
    std::map<uint64_t, uint32_t> lineFailures_;
    std::map<uint64_t, uint32_t> controlsFailures_;
    std::map<uint32_t, uint32_t> detailFailures_;
    HMIXER open_ = 0;
    HMIXER nextHandle_ = 1;
    QPointer<QObject> target_;
    MixerNotice notice_;
};

}  // namespace vx::mixerapi
