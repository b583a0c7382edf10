// SPDX-License-Identifier: GPL-3.0-or-later
// PCM to PCM: sample width, channel count and rate (linear interpolation). The last input frame and the
// position between frames carry over, so consecutive conversions join without a step.
#include "platform/acm/Codecs.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vx::acm {

namespace {

class PcmConverter : public CodecStream {
public:
    PcmConverter(const TAudioFormat& s, const TAudioFormat& d)
        : inBits_(s.bitsPerSample()),
          outBits_(d.bitsPerSample()),
          inCh_(s.channels()),
          outCh_(d.channels()),
          inRate_(s.samplesPerSec()),
          outRate_(d.samplesPerSec()),
          step_(double(s.samplesPerSec()) / double(d.samplesPerSec())),
          prev_(s.channels(), 0.0) {}

    uint32_t outputBound(uint32_t inputBytes) const override {
        const uint64_t frames = inputBytes / (inCh_ * inBits_ / 8);
        const uint64_t outFrames = (frames * outRate_ + inRate_ - 1) / inRate_ + 2;
        return uint32_t(outFrames * outCh_ * outBits_ / 8);
    }

    uint32_t convert(const uint8_t* src, uint32_t srcLength, uint32_t* srcUsed, uint8_t* dst,
                     uint32_t dstLength, uint32_t* dstUsed, uint32_t) override {
        const uint32_t inFrame = inCh_ * inBits_ / 8;
        const uint32_t outFrame = outCh_ * outBits_ / 8;
        const int64_t n = srcLength / inFrame;
        uint8_t* out = dst;
        uint8_t* const end = dst + dstLength - dstLength % outFrame;
        // pos_ counts input frames from the start of this block; -1 is the last frame of the previous one.
        while (n > 0 && pos_ <= double(n - 1)) {
            if (out == end) {
                return MMSYSERR_INVALPARAM;
            }
            const auto i = int64_t(std::floor(pos_));
            const double frac = pos_ - double(i);
            double v[2] = {0.0, 0.0};
            for (uint32_t c = 0; c < inCh_ && c < 2; ++c) {
                const double a = i < 0 ? prev_[c] : sample(src, i, c);
                const double b = frac > 0.0 ? sample(src, i + 1, c) : a;
                v[c] = a + (b - a) * frac;
            }
            for (uint32_t c = 0; c < outCh_; ++c) {
                double x;
                if (inCh_ == outCh_) {
                    x = v[c];
                } else if (outCh_ == 1) {
                    x = (v[0] + v[1]) / 2.0;
                } else {
                    x = v[0];
                }
                put(out, x);
                out += outBits_ / 8;
            }
            pos_ += step_;
        }
        if (n > 0) {
            pos_ -= double(n);
            for (uint32_t c = 0; c < inCh_; ++c) {
                prev_[c] = sample(src, n - 1, c);
            }
        }
        *srcUsed = uint32_t(n) * inFrame;
        *dstUsed = uint32_t(out - dst);
        return MMSYSERR_NOERROR;
    }

private:
    // Samples as -1..1.
    double sample(const uint8_t* src, int64_t frame, uint32_t c) const {
        const uint8_t* p = src + (frame * inCh_ + c) * (inBits_ / 8);
        if (inBits_ == 8) {
            return (double(*p) - 128.0) / 128.0;
        }
        return double(int16_t(uint16_t(p[0] | (p[1] << 8)))) / 32768.0;
    }
    void put(uint8_t* p, double x) const {
        x = std::clamp(x, -1.0, 1.0);
        if (outBits_ == 8) {
            *p = uint8_t(std::clamp<long>(std::lround(x * 128.0 + 128.0), 0, 255));
        } else {
            const auto s = int16_t(std::clamp<long>(std::lround(x * 32768.0), -32768, 32767));
            p[0] = uint8_t(uint16_t(s) & 0xFF);
            p[1] = uint8_t(uint16_t(s) >> 8);
        }
    }

    uint32_t inBits_, outBits_, inCh_, outCh_;
    uint64_t inRate_, outRate_;
    double step_;
    double pos_ = 0.0;
    std::vector<double> prev_;
};

bool plainPcm(const TAudioFormat& f) {
    return f.formatTag() == WAVE_FORMAT_PCM && (f.bitsPerSample() == 8 || f.bitsPerSample() == 16) &&
           (f.channels() == 1 || f.channels() == 2) && f.samplesPerSec() >= 1000 &&
           f.samplesPerSec() <= 192000 && f.blockAlign() == f.channels() * f.bitsPerSample() / 8;
}

}  // namespace

uint32_t openPcmConverter(const TAudioFormat& source, const TAudioFormat& dest,
                          std::unique_ptr<CodecStream>* out) {
    if (!plainPcm(source) || !plainPcm(dest)) {
        return ACMERR_NOTPOSSIBLE;
    }
    *out = std::make_unique<PcmConverter>(source, dest);
    return MMSYSERR_NOERROR;
}

}  // namespace vx::acm
