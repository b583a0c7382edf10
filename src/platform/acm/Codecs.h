// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"
#include "platform/acm/Acm.h"

#include <memory>
#include <vector>

// The codecs behind the platform codec layer, and the formats it offers.
namespace vx::acm {

// One open conversion. Keeps its state from one conversion to the next.
class CodecStream {
public:
    virtual ~CodecStream() = default;
    // The most output `inputBytes` of input can produce in one conversion.
    virtual uint32_t outputBound(uint32_t inputBytes) const = 0;
    // Converts whole source blocks; answers 0 or a code.
    virtual uint32_t convert(const uint8_t* src, uint32_t srcLength, uint32_t* srcUsed, uint8_t* dst,
                             uint32_t dstLength, uint32_t* dstUsed, uint32_t flags) = 0;
};

// 16-bit PCM to MPEG Layer-3 through LAME. ACMERR_NOTPOSSIBLE when LAME cannot make that format.
uint32_t openMp3Encoder(const TAudioFormat& source, const TAudioFormat& dest,
                        std::unique_ptr<CodecStream>* out);
// PCM to PCM: sample rate, channels, 8/16 bits.
uint32_t openPcmConverter(const TAudioFormat& source, const TAudioFormat& dest,
                          std::unique_ptr<CodecStream>* out);

// Format records as the layer offers them.
TAudioFormat pcmFormat(uint32_t rate, uint16_t bits, uint16_t channels);
TAudioFormat mp3Format(uint32_t rate, uint16_t channels, uint32_t kbps);
// Standard MPEG Layer-3 bit rates for a sample rate; empty when the rate is no MPEG rate.
std::vector<uint32_t> mp3BitRates(uint32_t rate);
// Every format the choice offers: PCM, then MPEG Layer-3.
std::vector<FormatChoice> offeredFormats();
// "11.025 kHz, Mono, 18 kBit/s" and "PCM".
QString describeFormat(const TAudioFormat& f);
QString codecName(uint16_t tag);

}  // namespace vx::acm
