// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/acm/Codecs.h"

#include <algorithm>

namespace vx::acm {

namespace {

const uint32_t kPcmRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

QString rateText(uint32_t rate) {
    // Written the way the dialog shows rates: kHz with three decimals and a point ("11.025 kHz").
    return QStringLiteral("%1.%2 kHz").arg(rate / 1000).arg(rate % 1000, 3, 10, QLatin1Char('0'));
}

QString channelText(uint16_t channels) {
    return channels == 1   ? QStringLiteral("Mono")
           : channels == 2 ? QStringLiteral("Stereo")
                           : QString::number(channels) + QStringLiteral(" Channels");
}

}  // namespace

TAudioFormat pcmFormat(uint32_t rate, uint16_t bits, uint16_t channels) {
    TAudioFormat f;
    f.setFormatTag(WAVE_FORMAT_PCM);
    f.setChannels(channels);
    f.setSamplesPerSec(rate);
    f.setBlockAlign(uint16_t(channels * bits / 8));
    f.setAvgBytesPerSec(rate * channels * bits / 8);
    f.setBitsPerSample(bits);
    return f;
}

std::vector<uint32_t> mp3BitRates(uint32_t rate) {
    switch (rate) {
        case 32000:
        case 44100:
        case 48000:
            return {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
        case 16000:
        case 22050:
        case 24000:
            return {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
        case 8000:
        case 11025:
        case 12000:
            return {8, 16, 24, 32, 40, 48, 56, 64};
        default:
            return {};
    }
}

TAudioFormat mp3Format(uint32_t rate, uint16_t channels, uint32_t kbps) {
    TAudioFormat f;
    f.setFormatTag(WAVE_FORMAT_MPEGLAYER3);
    f.setChannels(channels);
    f.setSamplesPerSec(rate);
    f.setAvgBytesPerSec(kbps * 1000 / 8);
    f.setBlockAlign(1);
    f.setBitsPerSample(0);
    f.setExtraSize(12);
    // MPEGLAYER3WAVEFORMAT: ID, flags, block size (one frame without padding), frames per block, delay.
    const uint32_t samplesPerFrame = rate >= 32000 ? 1152 : 576;
    const uint32_t frameBytes = samplesPerFrame / 8 * kbps * 1000 / rate;
    f.set16(18, 1);
    f.set32(20, 2);
    f.set16(24, uint16_t(frameBytes));
    f.set16(26, 1);
    f.set16(28, 1393);
    return f;
}

std::vector<FormatChoice> offeredFormats() {
    std::vector<FormatChoice> out;
    for (uint32_t rate : kPcmRates) {
        for (uint16_t bits : {uint16_t(8), uint16_t(16)}) {
            for (uint16_t ch : {uint16_t(1), uint16_t(2)}) {
                const TAudioFormat f = pcmFormat(rate, bits, ch);
                out.push_back({codecName(f.formatTag()), describeFormat(f), f});
            }
        }
    }
    for (uint32_t rate : kPcmRates) {
        std::vector<uint32_t> rates = mp3BitRates(rate);
        if (rate == 11025) {
            rates.push_back(18);  // the station's own default
            std::sort(rates.begin(), rates.end());
        }
        for (uint16_t ch : {uint16_t(1), uint16_t(2)}) {
            for (uint32_t kbps : rates) {
                TAudioFormat f = mp3Format(rate, ch, kbps);
                if (rate == 11025 && ch == 1 && kbps == 18) {
                    f = defaultOutputFormat();
                }
                out.push_back({codecName(f.formatTag()), describeFormat(f), f});
            }
        }
    }
    return out;
}

QString codecName(uint16_t tag) {
    switch (tag) {
        case WAVE_FORMAT_PCM:
            return QStringLiteral("PCM");
        case WAVE_FORMAT_GSM610:
            return QStringLiteral("GSM 6.10");
        case WAVE_FORMAT_MPEGLAYER3:
            return QStringLiteral("MPEG Layer-3");
        default:
            return QStringLiteral("Format 0x%1").arg(tag, 4, 16, QLatin1Char('0'));
    }
}

QString describeFormat(const TAudioFormat& f) {
    if (f.formatTag() == WAVE_FORMAT_PCM) {
        return QStringLiteral("%1, %2 Bit, %3")
            .arg(rateText(f.samplesPerSec()))
            .arg(f.bitsPerSample())
            .arg(channelText(f.channels()));
    }
    return QStringLiteral("%1, %2, %3 kBit/s")
        .arg(rateText(f.samplesPerSec()), channelText(f.channels()))
        .arg(f.avgBytesPerSec() * 8 / 1000);
}

}  // namespace vx::acm
