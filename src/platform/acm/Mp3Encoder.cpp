// SPDX-License-Identifier: GPL-3.0-or-later
// MPEG Layer-3 encoding through LAME. One LAME encoder lives as long as the stream, so consecutive
// conversions continue one stream: nothing is flushed between them and the bit reservoir carries over.
#include "platform/acm/Codecs.h"

#include <lame/lame.h>

#include <algorithm>
#include <cmath>

namespace vx::acm {

namespace {

class Mp3Encoder : public CodecStream {
public:
    Mp3Encoder(lame_global_flags* lame, const TAudioFormat& source, const TAudioFormat& dest)
        : lame_(lame),
          inChannels_(source.channels()),
          blockAlign_(source.blockAlign()),
          inRate_(source.samplesPerSec()),
          outRate_(dest.samplesPerSec()),
          duplicate_(source.channels() == 1 && dest.channels() == 2) {}
    ~Mp3Encoder() override { lame_close(lame_); }

    uint32_t outputBound(uint32_t inputBytes) const override {
        // LAME's own worst case: 1.25 bytes per sample plus 7200, on the resampled count, plus a flush.
        const uint64_t frames = inputBytes / blockAlign_;
        const uint64_t outFrames = (frames * outRate_ + inRate_ - 1) / inRate_ + 1152;
        return uint32_t(outFrames * 5 / 4 + 7200 + 7200);
    }

    uint32_t convert(const uint8_t* src, uint32_t srcLength, uint32_t* srcUsed, uint8_t* dst,
                     uint32_t dstLength, uint32_t* dstUsed, uint32_t flags) override {
        const uint32_t frames = srcLength / blockAlign_;
        const auto* pcm = reinterpret_cast<const short*>(src);
        int n = 0;
        if (frames > 0) {
            if (inChannels_ == 2) {
                n = lame_encode_buffer_interleaved(lame_, const_cast<short*>(pcm), int(frames), dst,
                                                   int(dstLength));
            } else {
                n = lame_encode_buffer(lame_, pcm, duplicate_ ? pcm : nullptr, int(frames), dst,
                                       int(dstLength));
            }
        }
        if (n < 0) {
            return n == -1 ? MMSYSERR_INVALPARAM : ACMERR_NOTPOSSIBLE;  // -1: output too small
        }
        if ((flags & ACM_STREAMCONVERTF_END) != 0) {
            const int tail = lame_encode_flush_nogap(lame_, dst + n, int(dstLength) - n);
            if (tail < 0) {
                return MMSYSERR_INVALPARAM;
            }
            n += tail;
        }
        *srcUsed = frames * blockAlign_;
        *dstUsed = uint32_t(n);
        return MMSYSERR_NOERROR;
    }

private:
    lame_global_flags* lame_;
    uint32_t inChannels_;
    uint32_t blockAlign_;
    uint64_t inRate_;
    uint64_t outRate_;
    bool duplicate_;
};

}  // namespace

uint32_t openMp3Encoder(const TAudioFormat& source, const TAudioFormat& dest,
                        std::unique_ptr<CodecStream>* out) {
    const uint32_t outRate = dest.samplesPerSec();
    if (source.formatTag() != WAVE_FORMAT_PCM || source.bitsPerSample() != 16 || source.channels() < 1 ||
        source.channels() > 2 || source.blockAlign() != source.channels() * 2 ||
        source.samplesPerSec() < 1000 || source.samplesPerSec() > 192000 || dest.channels() < 1 ||
        dest.channels() > 2 || mp3BitRates(outRate).empty()) {
        return ACMERR_NOTPOSSIBLE;
    }
    // The data rate decides the bit rate; one that is no standard rate is met on average.
    const double kbpsExact = dest.avgBytesPerSec() * 8.0 / 1000.0;
    const int kbps = int(std::lround(kbpsExact));
    if (kbps < 8 || kbps > 320) {
        return ACMERR_NOTPOSSIBLE;
    }
    const std::vector<uint32_t> standard = mp3BitRates(outRate);
    const bool cbr = double(kbps) == kbpsExact &&
                     std::find(standard.begin(), standard.end(), uint32_t(kbps)) != standard.end();

    lame_global_flags* lame = lame_init();
    if (lame == nullptr) {
        return MMSYSERR_NOMEM;
    }
    const bool duplicate = source.channels() == 1 && dest.channels() == 2;
    lame_set_num_channels(lame, duplicate ? 2 : source.channels());
    lame_set_in_samplerate(lame, int(source.samplesPerSec()));
    lame_set_out_samplerate(lame, int(outRate));
    lame_set_mode(lame, dest.channels() == 1 ? MONO : JOINT_STEREO);
    lame_set_quality(lame, 5);
    lame_set_bWriteVbrTag(lame, 0);  // a stream, not a file: no header frame to patch later
    if (cbr) {
        lame_set_VBR(lame, vbr_off);
        lame_set_brate(lame, kbps);
    } else {
        lame_set_VBR(lame, vbr_abr);
        lame_set_VBR_mean_bitrate_kbps(lame, kbps);
    }
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return ACMERR_NOTPOSSIBLE;
    }
    *out = std::make_unique<Mp3Encoder>(lame, source, dest);
    return MMSYSERR_NOERROR;
}

}  // namespace vx::acm
