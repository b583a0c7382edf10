// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/InputLevel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint16_t kPcm = 1;
constexpr uint16_t kFloat = 3;
constexpr uint16_t kExtensible = 0xFFFE;

double toDbfs(double ratio) {
    return ratio > 0.0 ? std::max(20.0 * std::log10(ratio), InputLevel::kFloorDbfs) : InputLevel::kFloorDbfs;
}

// Each sample as a fraction of full scale.
template <class Read>
InputLevel measureSamples(const uint8_t* bytes, std::size_t count, std::size_t width, Read read) {
    double peak = 0.0;
    double squares = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double v = std::fabs(read(bytes + i * width));
        peak = std::max(peak, v);
        squares += v * v;
    }
    InputLevel level;
    if (count > 0) {
        level.peakDbfs = toDbfs(std::min(peak, 1.0));
        level.rmsDbfs = toDbfs(std::min(std::sqrt(squares / double(count)), 1.0));
    }
    return level;
}

int32_t signedLittleEndian(const uint8_t* p, std::size_t width) {
    uint32_t v = 0;
    for (std::size_t i = 0; i < width; ++i) {
        v |= uint32_t(p[i]) << (8 * i);
    }
    // Sign-extends from the sample's top bit.
    const unsigned shift = unsigned(32 - 8 * width);
    return int32_t(v << shift) >> shift;
}

}  // namespace

InputLevel InputLevel::measure(const TAudioFormat& format, const void* data, int size) {
    const uint16_t tag = format.formatTag();
    const std::size_t bits = format.bitsPerSample();
    if (data == nullptr || size <= 0 || (tag != kPcm && tag != kFloat && tag != kExtensible) ||
        bits % 8 != 0 || bits < 8 || bits > 32) {
        return {};
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    const std::size_t width = bits / 8;
    const std::size_t count = std::size_t(size) / width;
    if (tag == kFloat) {
        if (width != 4) {
            return {};
        }
        return measureSamples(bytes, count, width, [](const uint8_t* p) {
            float f = 0.0F;
            std::memcpy(&f, p, sizeof f);  // little-endian host, as the capture layer assumes
            return std::isfinite(f) ? double(f) : 1.0;
        });
    }
    if (width == 1) {
        return measureSamples(bytes, count, width, [](const uint8_t* p) { return (int(*p) - 128) / 128.0; });
    }
    const double fullScale = double(uint32_t(1) << (8 * width - 1));
    return measureSamples(bytes, count, width, [width, fullScale](const uint8_t* p) {
        return signedLittleEndian(p, width) / fullScale;
    });
}
