// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/acm/PlatformAcm.h"
#include "platform/mixerapi/SimulatedMixer.h"
#include "platform/wavein/SimulatedWaveIn.h"
#include "station/StationEnvironment.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <memory>

namespace vxtest {

// The station's own codecs (LAME, PCM), their format dialog answered by the recorded dialogs.
inline std::shared_ptr<vx::acm::Acm> stationCodecs(RecordingDialogs& dialogs) {
    return std::make_shared<vx::acm::PlatformAcm>(
        [&dialogs](const TAudioFormat& current, const std::vector<vx::acm::FormatChoice>& offered) {
            return dialogs.chooseAudioFormat(current, offered);
        });
}

// What a station is made of in a test: a temporary program directory that holds a "Server.ini", recorded
// dialogs, the station's own codecs, a simulated capture device (nothing is recorded unless the test
// fills buffers) and a simulated sound card's mixer. A test may choose other backends before it makes
// the station (or the window around it).
class StationFixture {
public:
    StationFixture() {
        writeFile(dir.path(), QStringLiteral("Server.ini"), "http://dir.example/db/\r\nsecond line\r\n");
        env.dataDir = dir.path();
        env.arguments = {QStringLiteral("vandorixserver")};
        env.dialogs = &dialogs;
        env.remoteControlPort = 0;  // tests run side by side; each station gets a port of its own
        env.mixer = mixer;          // a sound card with a recording input, whatever the machine has
        env.waveIn = capture;
        env.acm = stationCodecs(dialogs);
    }

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

    QTemporaryDir dir;
    RecordingDialogs dialogs;
    std::shared_ptr<vx::mixerapi::SimulatedMixer> mixer = vx::mixerapi::SimulatedMixer::soundCard();
    std::shared_ptr<vx::wavein::SimulatedWaveIn> capture = std::make_shared<vx::wavein::SimulatedWaveIn>();
    StationEnvironment env;
};

}  // namespace vxtest
