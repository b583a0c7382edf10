// SPDX-License-Identifier: GPL-3.0-or-later
// The station's codec layer: which pairs it converts, PCM conversion across blocks, suggestion, the
// offered formats.
#include "platform/acm/Codecs.h"
#include "platform/acm/PlatformAcm.h"
#include "support/SignalTools.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vx::acm;

namespace {

TAudioFormat gsm() {
    TAudioFormat f;
    f.setFormatTag(WAVE_FORMAT_GSM610);
    f.setChannels(1);
    f.setSamplesPerSec(8000);
    f.setAvgBytesPerSec(1625);
    f.setBlockAlign(65);
    return f;
}

}  // namespace

TEST(CodecLayer, PairsWithoutACodecAreNotPossible) {
    struct Case {
        const char* name;
        TAudioFormat source;
        TAudioFormat dest;
    };
    TAudioFormat mp3At7000 = mp3Format(44100, 1, 64);
    mp3At7000.setSamplesPerSec(7000);
    TAudioFormat tooFast = mp3Format(44100, 2, 128);
    tooFast.setAvgBytesPerSec(1000000);
    const Case cases[] = {
        {"MP3 to PCM", defaultOutputFormat(), pcmFormat(11025, 16, 1)},
        {"8-bit PCM to MP3", pcmFormat(11025, 8, 1), defaultOutputFormat()},
        {"PCM to GSM", pcmFormat(8000, 16, 1), gsm()},
        {"MP3 at no MPEG rate", pcmFormat(11025, 16, 1), mp3At7000},
        {"MP3 beyond 320 kbit/s", pcmFormat(44100, 16, 2), tooFast},
        {"PCM of 12 bits",
         [] {
             TAudioFormat f = pcmFormat(8000, 16, 1);
             f.setBitsPerSample(12);
             return f;
         }(),
         pcmFormat(8000, 16, 1)},
    };
    PlatformAcm acm;
    for (const auto& c : cases) {
        HACMSTREAM s = nullptr;
        EXPECT_EQ(acm.streamOpen(&s, c.source, c.dest, ACM_STREAMOPENF_NONREALTIME), ACMERR_NOTPOSSIBLE)
            << c.name;
        EXPECT_EQ(s, nullptr);
    }
}

TEST(CodecLayer, OperationsOnAClosedOrUnknownStreamAnswerInvalidHandle) {
    PlatformAcm acm;
    HACMSTREAM s = nullptr;
    ASSERT_EQ(acm.streamOpen(&s, pcmFormat(8000, 16, 1), pcmFormat(8000, 8, 1), 0), 0u);
    uint32_t out = 0;
    ASSERT_EQ(acm.streamClose(s, 0), 0u);
    EXPECT_EQ(acm.streamSize(s, 100, &out, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acm.streamReset(s, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acm.streamClose(s, 0), MMSYSERR_INVALHANDLE);
}

TEST(CodecLayer, ConvertingNeedsAPreparedHeaderAndCloseWaitsForTheUnprepare) {
    PlatformAcm acm;
    HACMSTREAM s = nullptr;
    ASSERT_EQ(acm.streamOpen(&s, pcmFormat(8000, 16, 1), pcmFormat(8000, 8, 1), 0), 0u);
    std::vector<uint8_t> in(100), out(100);
    ACMSTREAMHEADER h;
    h.cbStruct = sizeof h;
    h.pbSrc = in.data();
    h.cbSrcLength = 100;
    h.pbDst = out.data();
    h.cbDstLength = 100;
    EXPECT_EQ(acm.streamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), ACMERR_UNPREPARED);
    ASSERT_EQ(acm.streamPrepareHeader(s, &h, 0), 0u);
    EXPECT_EQ(acm.streamClose(s, 0), ACMERR_BUSY);
    EXPECT_EQ(acm.streamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
    EXPECT_EQ(h.cbDstLengthUsed, 50u);
    ASSERT_EQ(acm.streamUnprepareHeader(s, &h, 0), 0u);
    EXPECT_EQ(acm.streamClose(s, 0), 0u);
}

// Rate, width and channel changes, block after block: the output is one continuous tone of the
// expected length, with no step at the block joins.
TEST(CodecLayer, PcmConversionContinuesAcrossBlocks) {
    struct Case {
        TAudioFormat in;
        TAudioFormat out;
    };
    const Case cases[] = {
        {pcmFormat(11025, 16, 1), pcmFormat(22050, 16, 1)},
        {pcmFormat(44100, 16, 2), pcmFormat(11025, 16, 1)},
        {pcmFormat(8000, 16, 1), pcmFormat(48000, 16, 2)},
        {pcmFormat(22050, 16, 2), pcmFormat(22050, 8, 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describeFormat(c.in).toStdString() + " -> " + describeFormat(c.out).toStdString());
        PlatformAcm acm;
        HACMSTREAM s = nullptr;
        ASSERT_EQ(acm.streamOpen(&s, c.in, c.out, 0), 0u);
        const uint32_t blockFrames = c.in.samplesPerSec() / 10;
        const uint32_t inBytes = blockFrames * c.in.blockAlign();
        uint32_t bound = 0;
        ASSERT_EQ(acm.streamSize(s, inBytes, &bound, 0), 0u);
        std::vector<uint8_t> out(bound);
        QByteArray all;
        for (int b = 0; b < 20; ++b) {
            QByteArray in = vxtest::sine16(c.in.samplesPerSec(), c.in.channels(), 300.0, blockFrames,
                                           uint64_t(b) * blockFrames);
            ACMSTREAMHEADER h;
            h.cbStruct = sizeof h;
            h.pbSrc = reinterpret_cast<uint8_t*>(in.data());
            h.cbSrcLength = inBytes;
            h.pbDst = out.data();
            h.cbDstLength = bound;
            ASSERT_EQ(acm.streamPrepareHeader(s, &h, 0), 0u);
            ASSERT_EQ(acm.streamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), 0u);
            ASSERT_EQ(h.cbSrcLengthUsed, inBytes);
            all.append(reinterpret_cast<const char*>(out.data()), h.cbDstLengthUsed);
            ASSERT_EQ(acm.streamUnprepareHeader(s, &h, 0), 0u);
        }
        ASSERT_EQ(acm.streamClose(s, 0), 0u);
        const uint32_t outFrame = c.out.blockAlign();
        const long frames = long(all.size() / outFrame);
        // The last input frame is interpolated towards the next block, so up to one input frame's worth
        // of output is still to come.
        const double ratio = double(c.out.samplesPerSec()) / c.in.samplesPerSec();
        EXPECT_NEAR(double(frames), 20.0 * blockFrames * ratio, std::ceil(ratio) + 1.0);
        // Widen 8-bit output for the analysis.
        std::vector<int16_t> s16;
        if (c.out.bitsPerSample() == 8) {
            for (char ch : all) {
                s16.push_back(int16_t((int(uint8_t(ch)) - 128) * 256));
            }
        } else {
            s16 = vxtest::samples16(all);
        }
        const int channels = c.out.channels();
        const long rate = long(c.out.samplesPerSec());
        for (int ch = 0; ch < channels; ++ch) {
            EXPECT_NEAR(vxtest::frequency(s16, channels, ch, rate, 0, std::size_t(frames)), 300.0, 1.0);
            // Largest jump between neighbours stays that of a smooth 300 Hz sine.
            int jump = 0;
            for (long i = 1; i < frames; ++i) {
                jump = std::max(jump, std::abs(s16[i * channels + ch] - s16[(i - 1) * channels + ch]));
            }
            const double slope = 0.5 * 32767.0 * 2.0 * 3.14159265 * 300.0 /
                                 double(std::min<uint32_t>(c.in.samplesPerSec(), rate));
            EXPECT_LT(jump, slope * 1.2 + 600.0) << "channel " << ch;
        }
    }
}

TEST(CodecLayer, SuggestsSixteenBitPcmOfTheSameRateAndChannelsForMp3) {
    PlatformAcm acm;
    TAudioFormat dest;
    std::memset(dest.data(), 0x77, TAudioFormat::kSize);
    ASSERT_EQ(acm.formatSuggest(mp3Format(44100, 2, 128), dest.data(), TAudioFormat::kSize, 0), 0u);
    EXPECT_EQ(dest, pcmFormat(44100, 16, 2));
    ASSERT_EQ(acm.formatSuggest(defaultOutputFormat(), dest.data(), TAudioFormat::kSize, 0), 0u);
    EXPECT_EQ(dest, pcmFormat(11025, 16, 1));
    EXPECT_EQ(acm.formatSuggest(gsm(), dest.data(), TAudioFormat::kSize, 0), ACMERR_NOTPOSSIBLE);
}

TEST(CodecLayer, OfferedFormatsCanAllBeOpenedAndIncludeTheStationDefault) {
    const std::vector<FormatChoice> offered = offeredFormats();
    int pcm = 0;
    int mp3 = 0;
    bool hasDefault = false;
    PlatformAcm acm;
    for (const auto& c : offered) {
        HACMSTREAM s = nullptr;
        if (c.format.formatTag() == WAVE_FORMAT_PCM) {
            ++pcm;
            EXPECT_EQ(acm.streamOpen(&s, pcmFormat(22050, 16, 2), c.format, 0), 0u)
                << c.attributes.toStdString();
        } else {
            ++mp3;
            EXPECT_EQ(acm.streamOpen(&s, pcmFormat(c.format.samplesPerSec(), 16, 1), c.format, 0), 0u)
                << c.attributes.toStdString();
        }
        if (s != nullptr) {
            acm.streamClose(s, 0);
        }
        hasDefault = hasDefault || (c.format == defaultOutputFormat() &&
                                    c.attributes == QStringLiteral("11.025 kHz, Mono, 18 kBit/s"));
    }
    EXPECT_EQ(pcm, 9 * 2 * 2);
    EXPECT_GT(mp3, 100);
    EXPECT_TRUE(hasDefault);
}

TEST(CodecLayer, ChoiceWithoutAChooserIsCancelledAndTouchesNothing) {
    PlatformAcm acm;
    TAudioFormat work = defaultOutputFormat();
    ACMFORMATCHOOSE fc;
    fc.cbStruct = 232;
    fc.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    fc.pwfx = work.data();
    fc.cbwfx = TAudioFormat::kSize;
    EXPECT_EQ(acm.formatChoose(&fc), ACMERR_CANCELED);
    EXPECT_EQ(work, defaultOutputFormat());
}

TEST(CodecLayer, ChooserStartsOnTheGivenFormatAndItsAnswerIsCopied) {
    TAudioFormat seen;
    PlatformAcm acm([&](const TAudioFormat& current, const std::vector<FormatChoice>&) {
        seen = current;
        return std::optional<TAudioFormat>(pcmFormat(8000, 8, 1));
    });
    TAudioFormat work = defaultOutputFormat();
    ACMFORMATCHOOSE fc;
    fc.fdwStyle = ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT;
    fc.pwfx = work.data();
    fc.cbwfx = TAudioFormat::kSize;
    EXPECT_EQ(acm.formatChoose(&fc), 0u);
    EXPECT_EQ(seen, defaultOutputFormat());
    EXPECT_EQ(work, pcmFormat(8000, 8, 1));
}
