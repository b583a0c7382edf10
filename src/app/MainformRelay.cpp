// The relay of the stream to Icecast servers: building the relays from their targets, the broadcast's
// start and stop steps for them, the info text as their title, and their states for the user.
#include "app/RelayBoard.h"
#include "audio/TACMConvertor.h"
#include "platform/ErrorLine.h"
#include "platform/Posting.h"
#include "settings/SettingsStore.h"
#include "ui/UserDialogs.h"

#include <QAction>
#include <QLineEdit>

#include <algorithm>

namespace {

const QString kApplicationTitle = QString::fromLatin1(vx::kStationTitle);
constexpr uint16_t kMpegLayer3 = 0x0055;

QString stateText(const IcecastRelay::Status& status) {
    switch (status.state) {
        case IcecastRelay::State::Stopped:
            return QStringLiteral("stopped");
        case IcecastRelay::State::Connecting:
            return QStringLiteral("connecting");
        case IcecastRelay::State::OnAir:
            return status.reason.isEmpty() ? QStringLiteral("on air")
                                           : QStringLiteral("on air; ") + status.reason;
        case IcecastRelay::State::Error:
            return QStringLiteral("error: ") + status.reason;
    }
    return {};
}

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

std::vector<IcecastRelay*> icecastRelays(const std::vector<std::unique_ptr<BlockDestination>>& relays) {
    std::vector<IcecastRelay*> found;
    for (const auto& relay : relays) {
        if (auto* icecast = dynamic_cast<IcecastRelay*>(relay.get())) {
            found.push_back(icecast);
        }
    }
    return found;
}

}  // namespace

void TMainform::buildRelays() {
    RelayStates = std::make_shared<RelayBoard>();
    for (const QString& url : env_.icecastTargets) {
        try {
            RelayStates->commandLine.push_back(IcecastTarget::parse(url));
        } catch (const EIcecastTarget& e) {
            env_.dialogs->showMessage(kApplicationTitle, QString::fromUtf8(e.what()));
        }
    }
    QStringList problems;
    RelayStates->fromFile = SettingsStore(ProgramDir()).loadRelayTargets(problems);
    if (!problems.isEmpty()) {
        env_.dialogs->showMessage(kApplicationTitle, QStringLiteral("Skipped in the Icecast targets:\n") +
                                                         problems.join(QLatin1Char('\n')));
    }
    applyRelayTargets();

    auto* action = new QAction(QStringLiteral("Icecast-Relays ..."), this);
    action->setObjectName(QStringLiteral("IcecastRelaysAction"));
    connect(action, &QAction::triggered, this, [this] { RelayDialogShow(); });
    addAction(action);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TMainform::applyRelayTargets() {
    RelayBoard& board = *RelayStates;
    if (board.pending) {
        board.fromFile = *board.pending;
        board.pending.reset();
    }
    std::erase_if(Relays,
                  [](const auto& relay) { return dynamic_cast<IcecastRelay*>(relay.get()) != nullptr; });
    board.entries.clear();
    const uint64_t generation = ++board.generation;
    std::vector<IcecastTarget> targets = board.commandLine;
    targets.insert(targets.end(), board.fromFile.begin(), board.fromFile.end());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        auto relay = std::make_unique<IcecastRelay>(targets[i]);
        // The posted call carries 16 bytes, which std::function keeps inline; the state itself is read
        // on the window thread.
        relay->OnStatus = [this, key = (generation << 32) | i](const IcecastRelay::Status&) {
            vx::postTo(this, [this, key] { relayStatusChanged(uint32_t(key >> 32), uint32_t(key)); });
        };
        board.entries.push_back({relay.get(), {}, 0});
        Relays.push_back(std::move(relay));
    }
    showRelayStates();
}

void TMainform::relayStatusChanged(uint32_t generation, uint32_t index) {
    RelayBoard& board = *RelayStates;
    if (generation != uint32_t(board.generation) || index >= board.entries.size()) {
        return;
    }
    RelayBoard::Entry& entry = board.entries[index];
    const IcecastRelay::Status status = entry.relay->status();
    if (status == entry.status) {
        return;  // shown already: a change that came and went before its notice was handled
    }
    entry.status = status;
    ++entry.reports;
    // One line per change, for a station without a window; the target never shows its password.
    vx::writeErrorLine(
        QStringLiteral("Icecast relay %1: %2").arg(entry.relay->target().displayName(), stateText(status)));
    showRelayStates();
}

void TMainform::showRelayStates() {
    RelayBoard& board = *RelayStates;
    QStringList tip{QStringLiteral("Icecast-Relays (rechte Maustaste):")};
    std::vector<IcecastRelayDialog::Row> commandLine;
    std::vector<QString> fileStates;
    for (std::size_t i = 0; i < board.entries.size(); ++i) {
        const RelayBoard::Entry& entry = board.entries[i];
        const QString caption = stateCaption(entry.status, entry.relay->droppedBlocks());
        tip << entry.relay->target().displayName() + QStringLiteral(": ") + caption;
        if (i < board.commandLine.size()) {
            commandLine.push_back({entry.relay->target().displayName(), caption});
        } else {
            fileStates.push_back(caption);
        }
    }
    setToolTip(board.entries.empty() ? QString() : tip.join(QLatin1Char('\n')));
    if (board.dialog && !board.pending) {
        board.dialog->setStates(commandLine, fileStates);
    }
}

void TMainform::RelayStart() {
    const TAudioFormat format = Playing ? PlaybackFormat : ACMC->FormatOut;
    IcecastRelay::StreamInfo info;
    info.name = RadioName->text();
    info.description = ExtRadioname->text();
    info.title = AktInfo->text();
    info.mpegLayer3 = format.formatTag() == kMpegLayer3;
    info.sampleRate = format.samplesPerSec();
    info.channels = format.channels();
    info.bytesPerSecond = format.avgBytesPerSec();
    for (IcecastRelay* relay : icecastRelays(Relays)) {
        relay->start(info);
    }
}

void TMainform::RelayStop() {
    for (IcecastRelay* relay : icecastRelays(Relays)) {
        relay->stop();
    }
    if (RelayStates->pending) {
        applyRelayTargets();
    }
}

void TMainform::RelayUpdateInfo() {
    for (IcecastRelay* relay : icecastRelays(Relays)) {
        relay->setTitle(AktInfo->text());
    }
}

void TMainform::RelayDialogShow() {
    RelayBoard& board = *RelayStates;
    if (!board.dialog) {
        board.dialog = new IcecastRelayDialog(this);
        board.dialog->setAttribute(Qt::WA_DeleteOnClose);
        board.dialog->setFileTargets(board.pending ? *board.pending : board.fromFile);
        board.dialog->OnSave = [this](const std::vector<IcecastTarget>& targets) -> QString {
            try {
                SettingsStore(ProgramDir()).saveRelayTargets(targets);
            } catch (const std::exception& e) {
                return QString::fromUtf8(e.what());
            }
            RelayStates->pending = targets;
            // Relays is read by every block's run: it changes only while no block can be under way.
            if (!ServerVandorixClient->Active() && !ACMC->Active() && !Playing) {
                applyRelayTargets();
                RelayStates->dialog->setNote(QStringLiteral("Gespeichert."));
            } else {
                RelayStates->dialog->setNote(
                    QStringLiteral("Gespeichert; gilt ab dem nächsten Start der Übertragung."));
            }
            return {};
        };
        showRelayStates();
    }
    board.dialog->show();
    board.dialog->raise();
}
