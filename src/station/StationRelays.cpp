// SPDX-License-Identifier: GPL-3.0-or-later
// The relay of the stream to Icecast servers: the relays built from their targets, the broadcast's start
// and stop steps for them, and their states.
#include "audio/TACMConvertor.h"
#include "platform/ErrorLine.h"
#include "platform/Posting.h"
#include "settings/SettingsStore.h"
#include "station/Playback.h"
#include "station/RelayBoard.h"
#include "station/Station.h"

namespace {

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

}  // namespace

void Station::buildRelays() {
    RelayStates = std::make_shared<RelayBoard>();
    for (const QString& url : env_.icecastTargets) {
        try {
            RelayStates->commandLine.push_back(IcecastTarget::parse(url));
        } catch (const EIcecastTarget& e) {
            startupMessages_ << QString::fromUtf8(e.what());
        }
    }
    QStringList problems;
    RelayStates->fromFile = SettingsStore(ProgramDir()).loadRelayTargets(problems);
    if (!problems.isEmpty()) {
        startupMessages_ << QStringLiteral("Skipped in the Icecast targets:\n") +
                                problems.join(QLatin1Char('\n'));
    }
    applyRelayTargets();
}

void Station::applyRelayTargets() {
    RelayBoard& board = *RelayStates;
    if (board.pending) {
        board.fromFile = *board.pending;
        board.pending.reset();
    }
    Relays.clear();
    board.entries.clear();
    const uint64_t generation = ++board.generation;
    std::vector<IcecastTarget> targets = board.commandLine;
    targets.insert(targets.end(), board.fromFile.begin(), board.fromFile.end());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        auto relay = std::make_unique<IcecastRelay>(targets[i]);
        // The posted call carries 16 bytes, which std::function keeps inline; the state itself is read
        // on the main thread.
        relay->OnStatus = [this, key = (generation << 32) | i](const IcecastRelay::Status&) {
            vx::postTo(this, [this, key] { relayStatusChanged(uint32_t(key >> 32), uint32_t(key)); });
        };
        board.entries.push_back({relay.get(), {}, 0});
        Relays.push_back(std::move(relay));
    }
    emit relaysChanged();
}

void Station::relayStatusChanged(uint32_t generation, uint32_t index) {
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
    emit relaysChanged();
}

void Station::RelayStart() {
    const TAudioFormat format = mode_.load().playback ? Player->format() : ACMC->FormatOut;
    IcecastRelay::StreamInfo info;
    info.name = settings_.radioName;
    info.description = settings_.extRadioName;
    info.title = settings_.infoText;
    info.mpegLayer3 = format.formatTag() == kMpegLayer3;
    info.sampleRate = format.samplesPerSec();
    info.channels = format.channels();
    info.bytesPerSecond = format.avgBytesPerSec();
    for (const auto& relay : Relays) {
        relay->start(info);
    }
}

void Station::RelayStop() {
    for (const auto& relay : Relays) {
        relay->stop();
    }
    // A run that did not end for the stop still walks Relays: new targets wait for the next stop.
    if (RelayStates->pending && Thread->State() == tsIdle) {
        applyRelayTargets();
    }
}

QString Station::saveRelayTargets(const std::vector<IcecastTarget>& targets, bool& appliedNow) {
    appliedNow = false;
    try {
        SettingsStore(ProgramDir()).saveRelayTargets(targets);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    RelayStates->pending = targets;
    // Relays is read by every block's run: it changes only while no block can be under way.
    if (state() == StationState::Stopped && !ACMC->Active() && !mode_.load().playback) {
        applyRelayTargets();
        appliedNow = true;
    }
    publishStatus();
    return {};
}
