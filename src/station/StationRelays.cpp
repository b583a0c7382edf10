// SPDX-License-Identifier: GPL-3.0-or-later
// The relay of the stream to Icecast servers: the relays built from their targets, the broadcast's start
// and stop steps for them, and their states.
#include "audio/TACMConvertor.h"
#include "platform/ErrorLine.h"
#include "settings/SettingsStore.h"
#include "station/Playback.h"
#include "station/RelayBoard.h"
#include "station/Station.h"

namespace {

constexpr uint16_t kMpegLayer3 = 0x0055;

}  // namespace

void Station::buildRelays() {
    RelayBoard& board = road_->relayBoard();
    for (const QString& url : env_.icecastTargets) {
        try {
            board.commandLine.push_back(IcecastTarget::parse(url));
        } catch (const EIcecastTarget& e) {
            startupMessages_ << QString::fromUtf8(e.what());
        }
    }
    QStringList problems;
    board.fromFile = SettingsStore(ProgramDir()).loadRelayTargets(problems);
    if (!problems.isEmpty()) {
        startupMessages_ << QStringLiteral("Skipped in the Icecast targets:\n") +
                                problems.join(QLatin1Char('\n'));
    }
    road_->applyRelayTargets();
}

void Station::RelayStart() {
    const TAudioFormat format = mode_.load().playback ? Player->format() : road_->codec().FormatOut;
    IcecastRelay::StreamInfo info;
    info.name = settings_.radioName;
    info.description = settings_.extRadioName;
    info.title = settings_.infoText;
    info.mpegLayer3 = format.formatTag() == kMpegLayer3;
    info.sampleRate = format.samplesPerSec();
    info.channels = format.channels();
    info.bytesPerSecond = format.avgBytesPerSec();
    road_->startRelays(info);
}

vx::Result<Station::RelayTargetsTakeEffect> Station::saveRelayTargets(
    const std::vector<IcecastTarget>& targets) {
    try {
        SettingsStore(ProgramDir()).saveRelayTargets(targets);
    } catch (const EInOutError& e) {
        return vx::Error(vx::Error::Kind::Refused, vx::Error::Step::Write, e.what(), e.file());
    }
    road_->relayBoard().pending = targets;
    auto effect = RelayTargetsTakeEffect::AtNextStart;
    // The relays are read by every block's run: they change only while no block can be under way.
    if (state() == StationState::Stopped && !road_->codec().Active() && !mode_.load().playback) {
        road_->applyRelayTargets();
        effect = RelayTargetsTakeEffect::Now;
    }
    publishStatus();
    return effect;
}
