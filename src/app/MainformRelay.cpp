// SPDX-License-Identifier: GPL-3.0-or-later
// The relays' states for the user: the window's tooltip and the dialog of the context menu, which also
// edits the targets of "Icecast.txt".
#include "app/TMainform.h"
#include "ui/IcecastRelayDialog.h"

#include <QAction>

namespace {

// The window's words for a state, shown in the dialog and the tooltip.
QString stateCaption(const IcecastRelay::Status& status, uint64_t dropped) {
    QString text;
    switch (status.state) {
        case IcecastRelay::State::Stopped:
            text = QStringLiteral("gestoppt");
            break;
        case IcecastRelay::State::Connecting:
            text = QStringLiteral("verbindet ...");
            break;
        case IcecastRelay::State::OnAir:
            text = QStringLiteral("auf Sendung");
            break;
        case IcecastRelay::State::Error:
            text = QStringLiteral("Fehler (neuer Versuch folgt)");
            break;
    }
    if (!status.reason.isEmpty()) {
        text += QStringLiteral(": ") + status.reason;
    }
    if (dropped > 0) {
        text += QStringLiteral(" [%1 Blöcke verworfen]").arg(dropped);
    }
    return text;
}

}  // namespace

void TMainform::buildRelays() {
    auto* action = new QAction(QStringLiteral("Icecast-Relays ..."), this);
    action->setObjectName(QStringLiteral("IcecastRelaysAction"));
    connect(action, &QAction::triggered, this, [this] { RelayDialogShow(); });
    addAction(action);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    showRelayStates();
}

void TMainform::showRelayStates() {
    const std::shared_ptr<const StationStatus> status = station_->status();
    QStringList tip{QStringLiteral("Icecast-Relays (rechte Maustaste):")};
    std::vector<IcecastRelayDialog::Row> commandLine;
    std::vector<QString> fileStates;
    for (const StationStatus::Relay& relay : status->relays) {
        const QString caption = stateCaption(relay.status, relay.droppedBlocks);
        tip << relay.target.displayName() + QStringLiteral(": ") + caption;
        if (relay.fromCommandLine) {
            commandLine.push_back({relay.target.displayName(), caption});
        } else {
            fileStates.push_back(caption);
        }
    }
    if (status->relays.empty()) {
        tip.clear();
    }
    // Dead air shows here rather than in a box: the layout stays as it is, and nobody must click it away.
    if (const QDateTime since = status->deadAirSince; since.isValid()) {
        tip.prepend(QStringLiteral("Dead air since %1 (input below %2 dBFS)")
                        .arg(since.toLocalTime().toString(QStringLiteral("HH:mm:ss")))
                        .arg(status->silenceThresholdDb));
    }
    setToolTip(tip.join(QLatin1Char('\n')));
    if (relayDialog_ && !status->relaysPending) {
        relayDialog_->setStates(commandLine, fileStates);
    }
}

void TMainform::RelayDialogShow() {
    if (!relayDialog_) {
        relayDialog_ = new IcecastRelayDialog(this);
        relayDialog_->setAttribute(Qt::WA_DeleteOnClose);
        relayDialog_->setFileTargets(station_->status()->relayFileTargets);
        relayDialog_->OnSave = [this](const std::vector<IcecastTarget>& targets) -> QString {
            const auto saved = station_->saveRelayTargets(targets);
            if (!saved) {
                return QString::fromStdString(saved.error().message());
            }
            if (relayDialog_) {
                relayDialog_->setNote(
                    *saved == Station::RelayTargetsTakeEffect::Now
                        ? QStringLiteral("Gespeichert.")
                        : QStringLiteral("Gespeichert; gilt ab dem nächsten Start der Übertragung."));
            }
            return QString();
        };
        showRelayStates();
    }
    relayDialog_->show();
    relayDialog_->raise();
}
