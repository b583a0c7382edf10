// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mixer/TMixerDestinations.h"
#include "platform/Result.h"
#include "platform/mixerapi/MixerApi.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

class TAudioMixer;

// A line's volume and on/off state as its controls give them; -1 means "none", which is also what a line
// without the control, or with it disabled, reads.
struct TLineVolume {
    int32_t Left = -1;
    int32_t Right = -1;
    int32_t Mute = -1;
    bool VolDisabled = true;
    bool MuteDisabled = true;
};

// Sender, the device handle of the notice and the changed line's or control's ID.
using TMixerChange = std::function<void(TAudioMixer* Sender, int32_t MixerH, int32_t ID)>;

// One mixer device as a tree of destinations, their connections and every line's controls, with the
// volume and on/off state of a line read and written through them. The tree is read when a device opens
// and not refreshed; values come from the device at every call. The component raises no error of its
// own: a device that does not open leaves it closed, an unreadable line or control list is left out or
// empty, and an unreadable value reads -1. Only an index outside a list raises EListError.
// Thread contract: the thread that creates it, which must run an event loop for the change events.
class TAudioMixer {
public:
    explicit TAudioMixer(std::shared_ptr<vx::mixerapi::MixerApi> api);
    ~TAudioMixer();
    TAudioMixer(const TAudioMixer&) = delete;
    TAudioMixer& operator=(const TAudioMixer&) = delete;

    // -1 while no device is open. Every assignment closes the open device and opens the given one
    // (bounded to the last device) with a tree built afresh; without any device it is ignored.
    int32_t MixerID() const { return mixerId_; }
    void SetMixerID(int32_t Value);

    // The open device's tree; null while none is open.
    TMixerDestinations* Destinations() const { return destinations_.get(); }
    uint32_t DeviceCount() const { return deviceCount_; }
    const vx::mixerapi::MIXERCAPS& DeviceCaps() const { return caps_; }

    // ConnIndex -1 is destination DestIndex itself, 0 or more that connection of it. Fails Unavailable
    // while no device is open.
    vx::Result<TLineVolume> GetVolume(int32_t DestIndex, int32_t ConnIndex);
    bool SetVolume(int32_t DestIndex, int32_t ConnIndex, int32_t Left, int32_t Right, int32_t Mute);

    TMixerChange OnLineChange;
    TMixerChange OnControlChange;

    // For the tree's classes, which ask the device for their part.
    vx::mixerapi::MixerApi& Api() const { return *api_; }
    vx::mixerapi::HMIXER Handle() const { return handle_; }

private:
    struct Details;
    void closeDevice();
    void notice(uint32_t message, vx::mixerapi::HMIXER mixer, uint32_t id);
    // Fills the request for a control of a line with that many channels; false when it needs more
    // entries than a request carries.
    bool prepareDetails(const vx::mixerapi::MIXERCONTROL& control, uint32_t lineChannels, Details& d);
    bool readDetails(const vx::mixerapi::MIXERCONTROL& control, uint32_t lineChannels, Details& d);
    uint32_t writeDetails(Details& d);

    std::shared_ptr<vx::mixerapi::MixerApi> api_;
    // Receives the device's change notices on this thread; queued notices die with it.
    std::unique_ptr<QObject> notificationWindow_;
    std::unique_ptr<TMixerDestinations> destinations_;
    uint32_t deviceCount_ = 0;
    vx::mixerapi::HMIXER handle_ = 0;
    int32_t mixerId_ = -1;
    vx::mixerapi::MIXERCAPS caps_;
};
