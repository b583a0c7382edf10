// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <mpg123.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

// Test signals and their analysis: sine generation, MP3 decoding through libmpg123, frequency and level.
namespace vxtest {

// 16-bit little-endian interleaved sine, `frames` frames starting at frame `offset` (so consecutive calls
// continue the same wave).
inline QByteArray sine16(uint32_t rate, int channels, double hz, uint64_t frames, uint64_t offset = 0,
                         double amplitude = 0.5) {
    QByteArray out(qsizetype(frames * channels * 2), '\0');
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    for (uint64_t i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2.0 * std::numbers::pi * hz * double(offset + i) / rate);
        const auto s = uint16_t(int16_t(std::lround(v * 32767.0)));
        for (int c = 0; c < channels; ++c) {
            *p++ = uint8_t(s & 0xFF);
            *p++ = uint8_t(s >> 8);
        }
    }
    return out;
}

inline std::vector<int16_t> samples16(const QByteArray& bytes) {
    std::vector<int16_t> out(std::size_t(bytes.size() / 2));
    std::memcpy(out.data(), bytes.constData(), out.size() * 2);
    return out;
}

struct Decoded {
    long rate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
    int frames = 0;                // MPEG frames decoded
    bool ok = false;
    std::size_t frameCount() const { return channels > 0 ? samples.size() / std::size_t(channels) : 0; }
};

inline Decoded decodeMp3(const QByteArray& mp3) {
    Decoded d;
    mpg123_init();
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (h == nullptr) {
        return d;
    }
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L}) {
        mpg123_format(h, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    mpg123_open_feed(h);
    mpg123_feed(h, reinterpret_cast<const unsigned char*>(mp3.constData()), std::size_t(mp3.size()));
    std::vector<unsigned char> buf(1 << 16);
    d.ok = true;
    for (;;) {
        std::size_t done = 0;
        const int r = mpg123_read(h, buf.data(), buf.size(), &done);
        const std::size_t n = done / 2;
        if (n > 0) {
            const std::size_t at = d.samples.size();
            d.samples.resize(at + n);
            std::memcpy(d.samples.data() + at, buf.data(), n * 2);
        }
        if (r == MPG123_NEW_FORMAT) {
            int enc = 0;
            mpg123_getformat(h, &d.rate, &d.channels, &enc);
            continue;
        }
        if (r == MPG123_NEED_MORE || r == MPG123_DONE) {
            break;
        }
        if (r != MPG123_OK) {
            d.ok = false;
            break;
        }
    }
    off_t frameNumber = mpg123_tellframe(h);
    d.frames = int(frameNumber);
    mpg123_delete(h);
    return d;
}

// Frequency of one channel from the rising zero crossings between frame `from` and `to`.
inline double frequency(const std::vector<int16_t>& s, int channels, int channel, long rate, std::size_t from,
                        std::size_t to) {
    long first = -1;
    long last = -1;
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        const int a = s[(i - 1) * channels + channel];
        const int b = s[i * channels + channel];
        if (a < 0 && b >= 0) {
            if (first < 0) {
                first = long(i);
            } else {
                ++crossings;
            }
            last = long(i);
        }
    }
    return crossings > 0 ? double(crossings) * rate / double(last - first) : 0.0;
}

// Root mean square of one channel over [from, to), as a fraction of full scale.
inline double rms(const std::vector<int16_t>& s, int channels, int channel, std::size_t from,
                  std::size_t to) {
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) {
        const double v = s[i * channels + channel] / 32768.0;
        sum += v * v;
    }
    return to > from ? std::sqrt(sum / double(to - from)) : 0.0;
}

}  // namespace vxtest
