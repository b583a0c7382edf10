// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/wavein/ThreadedWaveIn.h"

#include <QString>

// Capture from an ALSA PCM. PCM formats of 8, 16, 24 (packed) or 32 bits open the PCM directly; any
// other format tag is a format this layer cannot record (WAVERR_BADFORMAT).
namespace vx::wavein {

class AlsaWaveIn : public ThreadedWaveIn {
public:
    // pcmName: the ALSA PCM ("default", "hw:0", ...). configFile: when set, the PCM is looked up in that
    // configuration file alone instead of the system's.
    explicit AlsaWaveIn(QString pcmName, QString configFile = {});
    ~AlsaWaveIn() override;

    // The code an ALSA error number (negative) stands for.
    static uint32_t codeFor(int alsaError);
    QString deviceName() const override { return QStringLiteral("alsa:") + pcmName_; }
    QString openFailure() const override { return openFailure_; }

protected:
    uint32_t openSource(const TAudioFormat& format, std::unique_ptr<CaptureSource>* source) override;

private:
    QString pcmName_;
    QString openFailure_;  // opened and read on the thread that opens
    QString configFile_;
};

}  // namespace vx::wavein
