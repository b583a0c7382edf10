// SPDX-License-Identifier: GPL-3.0-or-later
// Real encoding: one-second blocks of a tone through TACMConvertor and LAME, the concatenated output
// decoded with libmpg123. A codec that restarted or flushed per block would add a gap (and a frame of
// padding) at every block boundary; the length and the level across the boundaries catch that.
#include "audio/TACMConvertor.h"
#include "platform/acm/Codecs.h"
#include "platform/acm/PlatformAcm.h"
#include "support/SignalTools.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct EncodeCase {
    const char* name;
    TAudioFormat in;
    TAudioFormat out;
    double lowestRate;  // relative to the format's data rate: ABR spends less on a plain tone
    double highestRate;
};

QByteArray encodeSeconds(TACMConvertor& acmc, int seconds, double hz) {
    const TAudioFormat in = acmc.FormatIn;
    QByteArray mp3;
    for (int i = 0; i < seconds; ++i) {
        const QByteArray block = vxtest::sine16(in.samplesPerSec(), in.channels(), hz, in.samplesPerSec(),
                                                uint64_t(i) * in.samplesPerSec());
        EXPECT_EQ(block.size(), acmc.InputBufferSize());
        std::memcpy(acmc.BufferIn(), block.constData(), std::size_t(block.size()));
        const int n = acmc.Convert();
        EXPECT_GE(n, 0);
        EXPECT_LE(uint32_t(n), acmc.OutputBufferSize());
        mp3.append(reinterpret_cast<const char*>(acmc.BufferOut()), n);
    }
    return mp3;
}

}  // namespace

TEST(Mp3Encoding, ConsecutiveBlocksDecodeToOneContinuousToneOfTheRightLength) {
    const EncodeCase cases[] = {
        {"default 11025 Hz mono 18 kbit/s", defaultInputFormat(), defaultOutputFormat(), 0.5, 1.1},
        {"44.1 kHz stereo 128 kbit/s", vx::acm::pcmFormat(44100, 16, 2), vx::acm::mp3Format(44100, 2, 128),
         0.98, 1.02},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TACMConvertor acmc(std::make_shared<vx::acm::PlatformAcm>());
        acmc.FormatIn = c.in;
        acmc.FormatOut = c.out;
        acmc.SetInputBufferSize(int(c.in.avgBytesPerSec()));
        acmc.SetActive(true);
        const int seconds = 10;
        const QByteArray mp3 = encodeSeconds(acmc, seconds, 440.0);
        acmc.SetActive(false);

        // The data rate of the format is met (on average for a non-standard rate).
        const double perSecond = double(mp3.size()) / seconds;
        EXPECT_GE(perSecond, c.lowestRate * c.out.avgBytesPerSec());
        EXPECT_LE(perSecond, c.highestRate * c.out.avgBytesPerSec());

        const vxtest::Decoded d = vxtest::decodeMp3(mp3);
        ASSERT_TRUE(d.ok);
        ASSERT_EQ(d.rate, long(c.out.samplesPerSec()));
        ASSERT_EQ(d.channels, int(c.out.channels()));
        const long rate = d.rate;
        const long frameSamples = rate >= 32000 ? 1152 : 576;
        // The encoder's latency: LAME's delay (576), the decoder's (529) and LAME's look-ahead, which
        // holds back up to one more frame until further input arrives.
        const long delay = 576 + 529 + frameSamples;
        const long expected = long(seconds) * rate;
        const long got = long(d.frameCount());
        EXPECT_LE(std::abs(got - expected), frameSamples + delay) << "decoded " << got << " of " << expected;

        for (int ch = 0; ch < d.channels; ++ch) {
            EXPECT_NEAR(
                vxtest::frequency(d.samples, d.channels, ch, rate, std::size_t(rate), std::size_t(9 * rate)),
                440.0, 1.0);
            // No dip anywhere in the steady part, block boundaries included.
            double lowest = 1.0;
            for (long at = rate / 2; at + 256 < 9 * rate + rate / 2; at += 128) {
                lowest = std::min(
                    lowest, vxtest::rms(d.samples, d.channels, ch, std::size_t(at), std::size_t(at + 256)));
            }
            EXPECT_GT(lowest, 0.5 / std::sqrt(2.0) * 0.7) << "channel " << ch;
        }
    }
}

TEST(Mp3Encoding, ReopenedStreamStartsAFreshValidStream) {
    TACMConvertor acmc(std::make_shared<vx::acm::PlatformAcm>());
    acmc.FormatIn = defaultInputFormat();
    acmc.FormatOut = defaultOutputFormat();
    acmc.SetInputBufferSize(22050);
    acmc.SetActive(true);
    const QByteArray first = encodeSeconds(acmc, 3, 440.0);
    acmc.SetActive(false);
    acmc.SetActive(true);
    const QByteArray second = encodeSeconds(acmc, 3, 440.0);
    acmc.SetActive(false);
    // Same input from a fresh encoder: the same bytes.
    EXPECT_EQ(first, second);
    const vxtest::Decoded d = vxtest::decodeMp3(second);
    ASSERT_TRUE(d.ok);
    EXPECT_GT(d.frameCount(), 2u * 11025);
}
