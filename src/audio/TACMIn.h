// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"
#include "platform/ThreadSafety.h"
#include "platform/wavein/WaveIn.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class TACMIn;

class EACMIn : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised once per filled buffer. Data is a copy that lives only during the call.
using TBufferFullEvent = std::function<void(TACMIn* Sender, const void* Data, int Size)>;
// Raised once when the device fails while it records (unplugged, its sound server gone). The capture
// has been closed by then, so the handler may open it again.
using TCaptureErrorEvent = std::function<void(TACMIn* Sender, const EACMIn& E)>;
// Buffers queued at open; 2..64 by design, not checked by the setter.
using TACMBufferCount = uint8_t;

// Records from a wave input device in NumBuffers rotating buffers of BufferSize bytes. With
// OnBlockCaptured set, every filled buffer goes to it on the device's capture thread (the block's road,
// which must not wait for the owner's thread) and is queued again there at once; a copy then reaches
// OnBufferFull on the owner's thread as a notice, so a busy owner's thread never starves the capture.
// Without it, each filled buffer reaches OnBufferFull as the device's done notice and is queued again
// on the owner's thread. A device that fails while it records closes the capture and raises OnError (without
// a handler the error goes to the event loop's error report). Thread contract: owner's thread only, except
// OnBlockCaptured; OnBufferFull and OnError run on the owner's thread, from the event loop. The events are
// set before Open.
class TACMIn {
public:
    // The capture device is the caller's choice (main() or a test); without one this throws
    // std::invalid_argument.
    explicit TACMIn(std::shared_ptr<vx::wavein::WaveIn> device);
    ~TACMIn();
    TACMIn(const TACMIn&) = delete;
    TACMIn& operator=(const TACMIn&) = delete;

    void Open(TAudioFormat Format);
    void Close();

    bool Active() const { return active_; }
    int BufferSize() const { return bufferSize_; }
    void SetBufferSize(int v);
    TACMBufferCount NumBuffers() const { return numBuffers_; }
    void SetNumBuffers(TACMBufferCount v);
    const TAudioFormat& Format() const { return format_; }

    // Runs on the capture thread for every filled buffer of the current opening, one at a time, before
    // OnBufferFull's notice is posted. Must not throw nor wait for the owner's thread.
    TBufferFullEvent OnBlockCaptured;
    TBufferFullEvent OnBufferFull;
    TCaptureErrorEvent OnError;

    // No block reaches OnBlockCaptured any more once this returns (a hand-over under way has finished);
    // the next Open hands blocks over again. Close does it first.
    void StopDelivery();

    // The message for a failed step; empty for code 0.
    static std::string ErrorText(const char* step, uint32_t code);

private:
    struct Buffer {
        vx::wavein::WAVEHDR header;
        std::unique_ptr<uint8_t[]> data;
    };

    void check(const char* step, uint32_t code) const;
    void addBuffer();
    void bufferDone(uint64_t opening, vx::wavein::WAVEHDR* h, uint32_t error);
    void deviceFailed(uint64_t opening, uint32_t code);
    void release(vx::wavein::WAVEHDR* h);
    Buffer* find(vx::wavein::WAVEHDR* h);
    void abandonOpen();
    // True when the block was taken: the device queues the buffer again itself.
    bool handOver(uint64_t opening, const vx::wavein::WAVEHDR& h);
    void blockNoticed(uint64_t opening, const std::vector<uint8_t>& copy, int size);

    bool active_ = false;
    std::vector<std::unique_ptr<Buffer>> buffers_;  // allocation order
    int bufferSize_ = 8192;
    TAudioFormat format_;
    TACMBufferCount numBuffers_ = 4;
    vx::wavein::HWAVEIN handle_ = nullptr;
    // Receives the device's notices on the owner's thread; notices still queued for it die with it.
    std::unique_ptr<QObject> notifier_;
    std::shared_ptr<vx::wavein::WaveIn> device_;
    // Each Open gets a new number; a notice of an earlier opening is ignored even if a header of the
    // new opening happens to live at the same address.
    uint64_t opening_ = 0;
    bool destroying_ = false;
    // Held by the capture thread while it hands a block over, so that the stop can wait for it.
    vx::Mutex deliveryMutex_;
    uint64_t deliveringOpening_ GUARDED_BY(deliveryMutex_) = 0;  // 0: none is handed over
};
