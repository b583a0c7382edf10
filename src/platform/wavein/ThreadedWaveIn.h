// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/HandleTable.h"
#include "platform/wavein/WaveIn.h"

#include <atomic>
#include <memory>

// The part the real devices share: a capture thread per open device fills the queued headers front to
// back and posts each full one; reset and close stop that thread. A backend supplies the source of samples.
// A source that fails ends the thread with one failure notice; the headers stay queued until reset.
namespace vx::wavein {

// Where the samples come from. Used by the capture thread only (open and close on the caller's thread).
class CaptureSource {
public:
    virtual ~CaptureSource() = default;
    // Called once before the first read and again after every reset.
    virtual void begin() {}
    // Reads up to `bytes` (whole frames) into dst; returns the bytes read (0 when nothing was ready yet:
    // it waits a little itself and should return soon when `stop` is set) or, when the source has failed
    // for good, the negated code of the failure.
    virtual int read(uint8_t* dst, uint32_t bytes, const std::atomic<bool>& stop) = 0;
    // Stops the device after a reset, discarding whatever it buffered.
    virtual void halt() {}
    // Called from another thread once `stop` is set: a read that waits wakes and returns.
    virtual void interrupt() {}
    virtual uint32_t frameBytes() const = 0;
};

class ThreadedWaveIn : public WaveIn {
public:
    ThreadedWaveIn();
    ~ThreadedWaveIn() override;

    uint32_t open(HWAVEIN* handle, uint32_t deviceId, const TAudioFormat& format, QObject* callbackTarget,
                  DoneNotice notice, uint32_t flags) override;
    uint32_t prepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t headerSize) override;
    uint32_t addBuffer(HWAVEIN handle, WAVEHDR* header, uint32_t headerSize) override;
    uint32_t start(HWAVEIN handle) override;
    uint32_t unprepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t headerSize) override;
    uint32_t reset(HWAVEIN handle) override;
    uint32_t close(HWAVEIN handle) override;
    uint32_t setFilledHook(HWAVEIN handle, FilledHook hook) override;

protected:
    // Opens the source for a format, or answers a code.
    virtual uint32_t openSource(const TAudioFormat& format, std::unique_ptr<CaptureSource>* source) = 0;

private:
    class Stream;

    // Owner's thread only, like every operation; a stream's destruction stops its capture thread.
    HandleTable<WaveInHandle, Stream> streams_;
};

}  // namespace vx::wavein
