// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/wavein/ThreadedWaveIn.h"

// A test-signal device: a sine of a fixed frequency in the opened PCM format (8 or 16 bits, any channel
// count and rate), delivered at the pace of real time, so the station can broadcast without a sound card.
namespace vx::wavein {

class ToneWaveIn : public ThreadedWaveIn {
public:
    explicit ToneWaveIn(double frequencyHz = 440.0) : frequency_(frequencyHz) {}
    double frequency() const { return frequency_; }
    QString deviceName() const override { return QStringLiteral("tone:") + QString::number(frequency_); }

protected:
    uint32_t openSource(const TAudioFormat& format, std::unique_ptr<CaptureSource>* source) override;

private:
    double frequency_;
};

}  // namespace vx::wavein
