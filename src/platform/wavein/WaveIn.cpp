// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wavein/WaveIn.h"

#include "platform/wavein/AlsaWaveIn.h"
#include "platform/wavein/ToneWaveIn.h"

namespace vx::wavein {

std::shared_ptr<WaveIn> createWaveIn(const QString& device, QString* error) {
    if (device.startsWith(QLatin1String("alsa:")) && device.size() > 5) {
        return std::make_shared<AlsaWaveIn>(device.mid(5));
    }
    if (device == QLatin1String("tone")) {
        return std::make_shared<ToneWaveIn>();
    }
    if (device.startsWith(QLatin1String("tone:"))) {
        bool ok = false;
        const double hz = device.mid(5).toDouble(&ok);
        if (ok && hz >= 0.0 && hz <= 100000.0) {
            return std::make_shared<ToneWaveIn>(hz);
        }
    }
    if (error != nullptr) {
        *error = QStringLiteral("Unknown capture device \"%1\": use alsa:NAME, tone or tone:HZ").arg(device);
    }
    return nullptr;
}

}  // namespace vx::wavein
