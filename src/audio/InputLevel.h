// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"

// How loud one captured block is, in dB relative to full scale: the largest sample (peak) and the root
// mean square of all samples (a full-scale square wave reads 0 dBFS, a full-scale sine -3 dBFS).
// Digital silence and anything quieter than kFloorDbfs read kFloorDbfs, so the values stay finite for
// JSON and for graphs.
struct InputLevel {
    static constexpr double kFloorDbfs = -120.0;
    double peakDbfs = kFloorDbfs;
    double rmsDbfs = kFloorDbfs;

    // PCM of 8 (unsigned), 16, 24 (packed) or 32 bits, or 32-bit IEEE float, all channels together.
    // A format it cannot read, or no whole sample, gives the floor.
    static InputLevel measure(const TAudioFormat& format, const void* data, int size);
};
