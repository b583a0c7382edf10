// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/MpegFrames.h"

namespace mpeg {

int frameLength(const unsigned char* p) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) {
        return 0;
    }
    const int version = (p[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (p[1] >> 1) & 3;    // 1: Layer III
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return 0;
    }
    static const int kBitrate1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kBitrate2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int kRate1[] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int kbits = mpeg1 ? kBitrate1[bitrateIndex] : kBitrate2[bitrateIndex];
    int rate = kRate1[rateIndex];
    if (version == 2) {
        rate /= 2;
    } else if (version == 0) {
        rate /= 4;
    }
    const int padding = (p[2] >> 1) & 1;
    return (mpeg1 ? 144 : 72) * kbits * 1000 / rate + padding;
}

int firstFrameStart(const char* data, int size) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    for (int i = 0; i + 4 <= size; ++i) {
        const int length = frameLength(bytes + i);
        if (length == 0) {
            continue;
        }
        const int next = i + length;
        if (next == size || (next + 4 <= size && frameLength(bytes + next) != 0)) {
            return i;
        }
    }
    return size;
}

}  // namespace mpeg
