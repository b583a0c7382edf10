// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/mixerapi/MixerApi.h"

#include <QString>

#include <memory>

// The desktop's sound server (PulseAudio, or PipeWire through its PulseAudio service) as one mixer
// device. Destination 0 is the playback: the server's default output with its volume and mute.
// Destination 1, "Aufnahme", is the recording input: its volume is the default source's, its connections
// are the server's sources (monitors of the outputs included) under their descriptions with a volume
// each, and its multiplexer selects the default source. Mixer volumes 0..65535 are the server's 0..100 %.
// A source that carries what an output plays is of kind "wave out"; the one of the default output
// targets WAVE_MAPPER. The sources are those of the moment the device is opened.
// Without a reachable server there is no device. Every round trip to the server is bounded by the
// timeout, so a server that hangs costs a caller at most that long.
// Thread contract: as the layer's; the server's events arrive on libpulse's own thread and are posted.
namespace vx::mixerapi {

class PulseMixer : public MixerApi {
public:
    // server: where the sound server listens ("unix:/run/user/1000/pulse/native", ...); empty: where
    // libpulse looks itself (PULSE_SERVER, the session's server).
    explicit PulseMixer(const QString& server = {}, int timeoutMs = 3000);
    ~PulseMixer() override;
    PulseMixer(const PulseMixer&) = delete;
    PulseMixer& operator=(const PulseMixer&) = delete;

    uint32_t getNumDevs() override;
    uint32_t open(HMIXER* mixer, uint32_t deviceId, QObject* callbackTarget, MixerNotice notice,
                  uint32_t flags) override;
    uint32_t close(HMIXER mixer) override;
    uint32_t getDevCaps(uint32_t deviceId, MIXERCAPS* caps, uint32_t capsSize) override;
    uint32_t getLineInfo(HMIXER mixer, MIXERLINE* line, uint32_t flags) override;
    uint32_t getLineControls(HMIXER mixer, MIXERLINECONTROLS* controls, uint32_t flags) override;
    uint32_t getControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) override;
    uint32_t setControlDetails(HMIXER mixer, MIXERCONTROLDETAILS* details, uint32_t flags) override;

    // The recording destination's name.
    static QString recordingName();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace vx::mixerapi
