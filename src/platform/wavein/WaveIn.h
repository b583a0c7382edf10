// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QObject;

// The wave input layer: the capture operations of a sound device, each answering 0 or a numeric code.
// A device borrows the caller's headers while they are queued and returns each filled one through the
// done notice, which is posted onto the thread of the callback target in the order the device filled them.
// A device that fails while it records (unplugged, its sound server gone) says so once through the same
// notice, after the buffers it filled before; it records nothing more and gives the rest back at reset.
// A device may also hand each filled buffer over on its own capture thread first (setFilledHook), so that
// the samples reach their consumer while the callback target's thread is busy. A consumer that takes the
// samples there gets the header queued again at once, without a done notice: capture then never waits
// for the callback target's thread. Otherwise the done notice follows.
// Thread contract: every operation is called on the thread that owns the callback target.
namespace vx::wavein {

// Result codes.
constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_ERROR = 1;
constexpr uint32_t MMSYSERR_BADDEVICEID = 2;
constexpr uint32_t MMSYSERR_ALLOCATED = 4;
constexpr uint32_t MMSYSERR_INVALHANDLE = 5;
constexpr uint32_t MMSYSERR_NODRIVER = 6;
constexpr uint32_t MMSYSERR_NOMEM = 7;
constexpr uint32_t MMSYSERR_INVALFLAG = 10;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;
constexpr uint32_t WAVERR_BADFORMAT = 32;
constexpr uint32_t WAVERR_STILLPLAYING = 33;
constexpr uint32_t WAVERR_UNPREPARED = 34;
constexpr uint32_t WAVERR_SYNC = 35;

// Device numbers and open flags.
constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;
constexpr uint32_t WAVE_MAPPED = 0x0004;
constexpr uint32_t CALLBACK_WINDOW = 0x00010000;

// Header flags.
constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

// One capture buffer as the device sees it.
struct WAVEHDR {
    uint8_t* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesRecorded = 0;
    uintptr_t dwUser = 0;
    uint32_t dwFlags = 0;
    uint32_t dwLoops = 0;
    WAVEHDR* lpNext = nullptr;
    uintptr_t reserved = 0;
};

// An open device; what it is belongs to the backend.
class WaveInHandle {
public:
    virtual ~WaveInHandle() = default;
};
using HWAVEIN = WaveInHandle*;

// The done notice: runs on the callback target's thread, with a returned header and 0, or, once, when the
// device has failed for good, with no header and the code of the failure.
using DoneNotice = std::function<void(WAVEHDR* header, uint32_t error)>;
// The hand-over: runs on the thread that filled the header (a test's for the simulated device), before
// the header's done notice is posted; the bytes may be read during the call only. It must not wait for
// the owner's thread: reset() waits for a hand-over under way. True: the samples were taken, and the
// device queues the header again itself (at the back, emptied) and posts no done notice for it.
using FilledHook = std::function<bool(const WAVEHDR& header)>;

class WaveIn {
public:
    virtual ~WaveIn() = default;

    virtual uint32_t open(HWAVEIN* handle, uint32_t deviceId, const TAudioFormat& format,
                          QObject* callbackTarget, DoneNotice notice, uint32_t flags) = 0;
    virtual uint32_t prepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t headerSize) = 0;
    virtual uint32_t addBuffer(HWAVEIN handle, WAVEHDR* header, uint32_t headerSize) = 0;
    virtual uint32_t start(HWAVEIN handle) = 0;
    virtual uint32_t unprepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t headerSize) = 0;
    // Stops capture and returns every queued buffer (with what it holds so far) through the notice.
    virtual uint32_t reset(HWAVEIN handle) = 0;
    // Fails with WAVERR_STILLPLAYING while buffers are queued.
    virtual uint32_t close(HWAVEIN handle) = 0;
    // Sets the hand-over of an open device (before start); an empty hook removes it.
    virtual uint32_t setFilledHook(HWAVEIN handle, FilledHook hook) = 0;
    // What a status reader shows as the capture device: the name it was chosen by ("alsa:hw:1").
    virtual QString deviceName() const { return QStringLiteral("simulated"); }
    // Why the last open failed, in the system's words ("No such device"); empty after one that worked.
    virtual QString openFailure() const { return {}; }
};

// Builds a backend from a device name: "alsa:NAME" (ALSA PCM NAME), "tone" or "tone:HZ" (a sine of HZ,
// default 440; "tone:0" is a silent source). Returns null and sets *error for anything else.
std::shared_ptr<WaveIn> createWaveIn(const QString& device, QString* error = nullptr);

}  // namespace vx::wavein
