#include "audio/TAudioFormat.h"

#include <algorithm>
#include <cstring>

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
