// SPDX-License-Identifier: GPL-3.0-or-later
// The recording source and its volume: the stored choice in "LautstOptions.ini", applied at start-up by
// whichever front end runs, and the volume commands of the window's controls.
#include "platform/Ansi.h"
#include "platform/IoError.h"
#include "settings/SettingsStore.h"
#include "station/Station.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kOwnSettings = 0;  // "Eigene Einstellungen": the mixer is left alone
constexpr int kRecording = 1;    // the destination the station records from
constexpr int32_t kVolumeMax = 65535;

QString lineName(const vx::mixerapi::MIXERLINE& line) {
    return vx::fromAnsi(QByteArray(line.szName, qsizetype(strnlen(line.szName, sizeof line.szName))));
}

}  // namespace

void Station::restoreRecordingSource() {
    StationStatus::RecordingSource source;
    step(1);
    const TMixerDestinations* destinations = AudioMixer->Destinations();
    if (destinations == nullptr || destinations->Count() < 2) {
        recordingSource_ = source;
        publishStatus();
        emit message(Msg(50));
        return;
    }
    source.available = true;
    step(2);
    const TMixerDestination& recording = destinations->Items(kRecording);
    source.lines.append(lineName(recording.Line()));
    step(3);
    const TMixerConnections& connections = recording.Connections();
    for (int k = 0; k < connections.Count(); ++k) {
        step(4);
        source.lines.append(lineName(connections.Items(k).Line()));
    }
    // Shown before the file is read: a file that cannot be read leaves the list with nothing chosen.
    source.item = -1;
    recordingSource_ = source;
    publishStatus();

    step(5);
    const SettingsStore store(ProgramDir());
    const vx::Result<VolumeChoice> stored = store.loadVolumeChoice();
    // The store has opened, read and closed the file in one go; the steps name the operation that failed.
    step(6);
    step(7);
    step(8);
    throwIfUnreadable(stored, [this] { step(9); });
    // A short file, or a choice the list does not have (another sound server, a source gone), is not
    // applied: the station starts as without a file and leaves the file as it is. One that is applied is
    // left as it is too: it already says what the controls show.
    const int items = int(source.lines.size()) + 1;  // "own settings" first
    if (stored && stored->item >= 0 && stored->item < items) {
        source.item = stored->item;
        source.volume = std::clamp<int32_t>(stored->volume, 0, kVolumeMax);
        source.kept = true;
        if (source.item > kOwnSettings) {
            step(10);
            setRecordingVolume(source.item - 2, source.volume);
        }
        step(14);
    } else {
        step(16);
        source.item = kOwnSettings;
    }
    recordingSource_ = source;
    publishStatus();
}

const TMixerDestinations* Station::recordingLines() const {
    return AudioMixer->Destinations();
}

TLineVolume Station::recordingVolume(int32_t connection) {
    return AudioMixer->GetVolume(kRecording, connection).valueOr({});
}

void Station::setRecordingVolume(int32_t connection, int32_t volume) {
    AudioMixer->SetVolume(kRecording, connection, volume, volume, 1);
}
