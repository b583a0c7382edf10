// The stored choice of recording source and volume, applied to the sound server without a window.
#include "platform/IoError.h"
#include "settings/SettingsStore.h"
#include "station/Station.h"

namespace {
constexpr int kRecording = 1;  // the destination the station records from
}  // namespace

void Station::applyStoredRecordingSource() {
    const TMixerDestinations* destinations = AudioMixer->Destinations();
    if (destinations == nullptr || destinations->Count() < 2) {
        emit message(Msg(50));
        return;
    }
    const SettingsStore store(ProgramDir());
    const SettingsRead<VolumeChoice> stored = store.loadVolumeChoice();
    throwIfUnreadable(stored, store.path(SettingsStore::kVolumeFile));
    // Item 0 leaves the sound server alone, item 1 is the recording input itself, the others its sources;
    // a choice the server no longer offers is left as the window would leave it.
    const int sources = destinations->Items(kRecording).Connections().Count();
    if (stored.result != SettingsRead<VolumeChoice>::Result::Read || stored.value.item <= 0 ||
        stored.value.item >= sources + 2) {
        return;
    }
    const int32_t connection = stored.value.item - 2;
    const int32_t volume = stored.value.volume;
    // Both channels alike, and the line switched on: for a source, that makes it the one recorded.
    AudioMixer->SetVolume(kRecording, connection, volume, volume, 1);
}

const TMixerDestinations* Station::recordingLines() const {
    return AudioMixer->Destinations();
}

void Station::recordingVolume(int32_t connection, int32_t& left, int32_t& right, int32_t& mute) {
    bool volumeDisabled = false;
    bool muteDisabled = false;
    AudioMixer->GetVolume(kRecording, connection, left, right, mute, volumeDisabled, muteDisabled);
}

void Station::setRecordingVolume(int32_t connection, int32_t volume) {
    AudioMixer->SetVolume(kRecording, connection, volume, volume, 1);
}
