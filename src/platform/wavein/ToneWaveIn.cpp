// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wavein/ToneWaveIn.h"

#include "platform/ThreadSafety.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <numbers>

namespace vx::wavein {

namespace {

class ToneSource : public CaptureSource {
public:
    ToneSource(const TAudioFormat& f, double frequency)
        : rate_(f.samplesPerSec()),
          channels_(f.channels()),
          bits_(f.bitsPerSample()),
          stepCos_(std::cos(2.0 * std::numbers::pi * frequency / double(f.samplesPerSec()))),
          stepSin_(std::sin(2.0 * std::numbers::pi * frequency / double(f.samplesPerSec()))) {}

    void begin() override {
        start_ = std::chrono::steady_clock::now();
        produced_ = 0;
        vx::MutexLock lock(mutex_);
        interrupted_ = false;
    }

    void interrupt() override {
        {
            vx::MutexLock lock(mutex_);
            interrupted_ = true;
        }
        wake_.notify_all();
    }

    int read(uint8_t* dst, uint32_t bytes, const std::atomic<bool>& stop) override {
        uint64_t due = dueFrames();
        const uint64_t wanted = produced_ + bytes / frameBytes();
        if (due < wanted) {
            // The buffer is handed on only when full, so the frames are made when all are due: one
            // wake-up per buffer. A reset interrupts the wait.
            const auto full = start_ + std::chrono::microseconds(wanted * 1000000 / rate_ + 1);
            {
                vx::MutexLock lock(mutex_);
                while (!interrupted_ && lock.waitUntil(wake_, full)) {
                }
            }
            due = dueFrames();
            if (due <= produced_ || stop.load()) {
                return 0;
            }
        }
        const uint64_t frames = std::min<uint64_t>(due - produced_, bytes / frameBytes());
        // The phase turns as a unit vector, one rotation per frame: a sine per sample cost the station
        // more than its encoder. Set back to unit length once per read, it cannot drift.
        for (uint64_t i = 0; i < frames; ++i) {
            const double v = 0.5 * sin_;
            const double nextCos = cos_ * stepCos_ - sin_ * stepSin_;
            sin_ = cos_ * stepSin_ + sin_ * stepCos_;
            cos_ = nextCos;
            for (uint32_t c = 0; c < channels_; ++c) {
                if (bits_ == 8) {
                    *dst++ = uint8_t(std::lrint(128.0 + v * 127.0));
                } else {
                    const auto s = int16_t(std::lrint(v * 32767.0));
                    *dst++ = uint8_t(uint16_t(s) & 0xFF);
                    *dst++ = uint8_t(uint16_t(s) >> 8);
                }
            }
        }
        const double length = std::sqrt(cos_ * cos_ + sin_ * sin_);
        cos_ /= length;
        sin_ /= length;
        produced_ += frames;
        return int(frames * frameBytes());
    }

    uint32_t frameBytes() const override { return channels_ * bits_ / 8; }

private:
    uint64_t dueFrames() const {
        const auto elapsed = std::chrono::steady_clock::now() - start_;
        return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()) * rate_ /
               1000000;
    }

    uint64_t rate_;
    uint32_t channels_;
    uint32_t bits_;
    double stepCos_;
    double stepSin_;
    double cos_ = 1.0;
    double sin_ = 0.0;
    std::chrono::steady_clock::time_point start_;
    uint64_t produced_ = 0;
    vx::Mutex mutex_;
    std::condition_variable wake_;
    bool interrupted_ GUARDED_BY(mutex_) = false;
};

}  // namespace

uint32_t ToneWaveIn::openSource(const TAudioFormat& f, std::unique_ptr<CaptureSource>* source) {
    if (f.formatTag() != 1 || (f.bitsPerSample() != 8 && f.bitsPerSample() != 16) || f.channels() == 0 ||
        f.samplesPerSec() == 0 || f.blockAlign() != f.channels() * f.bitsPerSample() / 8) {
        return WAVERR_BADFORMAT;
    }
    *source = std::make_unique<ToneSource>(f, frequency_);
    return MMSYSERR_NOERROR;
}

}  // namespace vx::wavein
