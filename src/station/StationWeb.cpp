// SPDX-License-Identifier: GPL-3.0-or-later
// The station's side of the web port: what the port reads of the station (its newest snapshot) and the
// way its listeners get into the listener port's send table.
#include "audio/ListenerDestination.h"
#include "station/Station.h"
#include "web/WebPort.h"

namespace {

// What the public may see of a snapshot: no listener address, nothing the status port keeps to loopback.
WebNow publicView(const StationStatus& status) {
    WebNow now;
    now.radioName = status.settings.radioName;
    now.extRadioName = status.settings.extRadioName;
    now.infoText = status.settings.infoText;
    now.onAir = status.onAir;
    now.listeners = status.listenerCount();
    now.listenerLimit = status.listenerLimit.value_or(-1);
    now.streamFormat = status.streamFormat;
    return now;
}

}  // namespace

void Station::buildWebPort() {
    if (env_.webListen.isEmpty()) {
        return;
    }
    WebPort::Options options;
    options.listen = env_.webListen;
    options.publicUrl = env_.publicUrl;
    options.burstBytes = env_.webBurstBytes;
    WebPort::Hooks hooks;
    hooks.now = [this] { return publicView(*status()); };
    hooks.admitsOneMore = [this] {
        QByteArray name;
        return admitsOneMore(name);
    };
    hooks.admitWithBurst = [this](const QString& firstTitle, const WebPort::Admit& admit) {
        icy::TitleBoard& titles = road_->listeners().titles();
        if (!titles.current()) {
            titles.set(firstTitle);  // after that, "Update" and "Info" change it
        }
        road_->listeners().admitWithBurst(true,
                                  [&](const QByteArray& recent) { admit(recent, titles.current().get()); });
    };
    hooks.failed = [this](const std::exception& e) { AppException(e); };
    Web = std::make_unique<WebPort>(std::move(options), std::move(hooks));
    Web->open();
}

int Station::webPort() const {
    return Web ? Web->port() : 0;
}

TServerSocket* Station::webServer() const {
    return Web ? &Web->server() : nullptr;
}

void Station::closeWebListeners() {
    if (Web) {
        Web->closeListeners();
    }
}

bool Station::anyoneConnected() const {
    return ServerVandorixClient->ConnectionCount() > 0 || (Web && Web->anyoneConnected());
}

void Station::setInfoText(const QString& text) {
    settings_.infoText = text;
    emit settingsLoaded();  // the window shows the text it sends
    UpdateInfo();
}
