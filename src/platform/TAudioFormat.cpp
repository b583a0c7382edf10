// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TAudioFormat.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 192000;
constexpr uint16_t kMaxChannels = 8;
constexpr uint16_t kMaxBits = 32;
// Below this no codec carries audio (the leanest speech codecs need a few hundred bytes per second).
constexpr uint32_t kMinCompressedBytesPerSec = 100;
constexpr int kHeaderSize = 18;

// PCM, IEEE float and the extensible header: samples stored as they are, so the fields must agree.
bool uncompressed(uint16_t tag) {
    return tag == 0x0001 || tag == 0x0003 || tag == 0xFFFE;
}

std::string number(uint64_t v) {
    return std::to_string(v);
}

}  // namespace

TAudioFormat TAudioFormat::fromBytes(const char* data) {
    TAudioFormat f;
    std::memcpy(f.bytes_.data(), data, kSize);
    return f;
}

TAudioFormat TAudioFormat::fromBytes(const QByteArray& data) {
    TAudioFormat f;
    std::memcpy(f.bytes_.data(), data.constData(), std::min<std::size_t>(kSize, data.size()));
    return f;
}

uint16_t TAudioFormat::get16(int o) const {
    return uint16_t(bytes_[o] | (bytes_[o + 1] << 8));
}

uint32_t TAudioFormat::get32(int o) const {
    return uint32_t(bytes_[o]) | (uint32_t(bytes_[o + 1]) << 8) | (uint32_t(bytes_[o + 2]) << 16) |
           (uint32_t(bytes_[o + 3]) << 24);
}

void TAudioFormat::set16(int o, uint16_t v) {
    bytes_[o] = uint8_t(v);
    bytes_[o + 1] = uint8_t(v >> 8);
}

void TAudioFormat::set32(int o, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        bytes_[o + i] = uint8_t(v >> (8 * i));
    }
}

std::string TAudioFormat::problem() const {
    if (formatTag() == 0) {
        return "it names no codec (format tag 0)";
    }
    if (channels() < 1 || channels() > kMaxChannels) {
        return number(channels()) + " channels are not 1 to " + number(kMaxChannels);
    }
    if (samplesPerSec() < kMinRate || samplesPerSec() > kMaxRate) {
        return number(samplesPerSec()) + " samples per second are not " + number(kMinRate) + " to " +
               number(kMaxRate);
    }
    if (bitsPerSample() > kMaxBits) {
        return number(bitsPerSample()) + " bits per sample are more than " + number(kMaxBits);
    }
    if (uncompressed(formatTag())) {
        if (bitsPerSample() == 0 || bitsPerSample() % 8 != 0) {
            return number(bitsPerSample()) + " bits per sample are no whole number of bytes";
        }
        const uint32_t block = uint32_t(channels()) * bitsPerSample() / 8;
        if (blockAlign() != block) {
            return "a block alignment of " + number(blockAlign()) + " does not agree with " +
                   number(channels()) + " channels of " + number(bitsPerSample()) + " bits";
        }
        if (uint64_t(avgBytesPerSec()) != uint64_t(samplesPerSec()) * block) {
            return number(avgBytesPerSec()) + " bytes per second do not agree with " +
                   number(samplesPerSec()) + " samples per second and a block alignment of " +
                   number(blockAlign());
        }
        return {};
    }
    // Compressed: never more data than the same sound as 32-bit samples, blocks within one second.
    const uint64_t most = uint64_t(samplesPerSec()) * channels() * 4;
    if (avgBytesPerSec() < kMinCompressedBytesPerSec || avgBytesPerSec() > most) {
        return number(avgBytesPerSec()) + " bytes per second are not " + number(kMinCompressedBytesPerSec) +
               " to " + number(most);
    }
    if (blockAlign() < 1 || blockAlign() > avgBytesPerSec()) {
        return "a block alignment of " + number(blockAlign()) + " does not fit " + number(avgBytesPerSec()) +
               " bytes per second";
    }
    if (extraSize() > kSize - kHeaderSize) {
        return number(extraSize()) + " codec bytes do not fit the record";
    }
    return {};
}

QByteArray TAudioFormat::toBytes() const {
    return QByteArray(reinterpret_cast<const char*>(bytes_.data()), kSize);
}

TAudioFormat defaultInputFormat() {
    TAudioFormat f;
    f.setFormatTag(1);
    f.setChannels(1);
    f.setSamplesPerSec(11025);
    f.setAvgBytesPerSec(22050);
    f.setBlockAlign(2);
    f.setBitsPerSample(16);
    f.setExtraSize(129);
    return f;
}

TAudioFormat defaultOutputFormat() {
    TAudioFormat f;
    f.setFormatTag(0x0055);
    f.setChannels(1);
    f.setSamplesPerSec(11025);
    f.setAvgBytesPerSec(2250);
    f.setBlockAlign(1);
    f.setBitsPerSample(0);
    f.setExtraSize(12);
    f.set16(18, 1);     // MPEGLAYER3_ID_MPEG
    f.set32(20, 2);     // MPEGLAYER3_FLAG_PADDING_OFF
    f.set16(24, 468);   // block size
    f.set16(26, 4);     // frames per block
    f.set16(28, 1393);  // codec delay
    return f;
}
