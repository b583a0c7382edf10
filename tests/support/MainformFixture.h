#pragma once

#include "app/StationEnvironment.h"
#include "app/TMainform.h"
#include "platform/mixerapi/SimulatedMixer.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <memory>

namespace vxtest {

// A window on a temporary program directory that holds a "Server.ini", with recorded dialogs.
class MainformFixture {
public:
    MainformFixture() {
        writeFile(dir.path(), QStringLiteral("Server.ini"), "http://dir.example/db/\r\nsecond line\r\n");
        env.dataDir = dir.path();
        env.arguments = {QStringLiteral("vandorixserver")};
        env.dialogs = &dialogs;
        env.remoteControlPort = 0;  // tests run side by side; each window gets a port of its own
        env.mixer = mixer;          // a sound card with a recording input, whatever the machine has
    }

    TMainform& create() {
        form = std::make_unique<TMainform>(env);
        return *form;
    }

    QString path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }

    QTemporaryDir dir;
    RecordingDialogs dialogs;
    std::shared_ptr<vx::mixerapi::SimulatedMixer> mixer = vx::mixerapi::SimulatedMixer::soundCard();
    StationEnvironment env;
    std::unique_ptr<TMainform> form;
};

}  // namespace vxtest
