// The recording source and its volume: the source list, the volume slider, the detection of the source
// that carries what the computer plays, and the stored choice in "LautstOptions.ini".
#include "app/TMainform.h"
#include "mixer/EListError.h"
#include "platform/Ansi.h"
#include "platform/IoError.h"
#include "settings/SettingsStore.h"
#include "ui/TSlider.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include <cstring>

using namespace vx::mixerapi;

namespace {

const QString kCaption = QString::fromLatin1(vx::kStationTitle);
constexpr int kOwnSettings = 0;  // "Eigene Einstellungen": the mixer is left alone
constexpr int kRecording = 1;    // the destination the station records from
constexpr int kVolumeMax = 65535;

QString lineName(const MIXERLINE& line) {
    return vx::fromAnsi(QByteArray(line.szName, qsizetype(strnlen(line.szName, sizeof line.szName))));
}

// The source that carries what the default output plays (the sound server's monitor of it).
bool isDefaultOutputMonitor(const MIXERLINE& line) {
    return line.dwComponentType == MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT &&
           line.Target.dwType == MIXERLINE_TARGETTYPE_WAVEOUT && line.Target.dwDeviceID == WAVE_MAPPER;
}

}  // namespace

void TMainform::buildMixer() {
    // A list selection made from code raises no change event (the handlers call each other where they
    // must); a slider position set from code does.
    connect(AudioQuelle, &QComboBox::activated, this,
            [this] { Guarded(AudioQuelle, [this] { AudioQuelleChange(AudioQuelle); }); });
    AudioLautst->OnChange = [this](TSlider*) {
        Guarded(AudioLautst, [this] { AudioLautstChange(AudioLautst); });
    };
    connect(AutoDetectBtn, &QPushButton::clicked, this,
            [this] { Guarded(AutoDetectBtn, [this] { AutoDetectBtnClick(AutoDetectBtn); }); });
    connect(LautstOptionsspeichern, &QCheckBox::clicked, this, [this] {
        Guarded(LautstOptionsspeichern, [this] { LautstOptionsspeichernClick(LautstOptionsspeichern); });
    });
}

int TMainform::volumePosition() const {
    return AudioLautst->Value();
}

// A position from code is clamped into the range and, when it changes, raises the change event.
void TMainform::setVolumeSlider(const VolumeSliderChange& change) {
    if (change.maximum) {
        AudioLautst->setMaxValue(*change.maximum);
    }
    if (change.position) {
        AudioLautst->setValue(*change.position);
    }
    if (change.enabled) {
        AudioLautst->setEnabled(*change.enabled);
    }
}

void TMainform::RestoreRecordingSource() {
    if (fillRecordingSources()) {
        restoreVolumeChoice();
    }
}

bool TMainform::fillRecordingSources() {
    step(1);
    AudioQuelle->clear();
    AudioQuelle->addItem(QStringLiteral("Eigene Einstellungen"));
    AudioQuelle->setCurrentIndex(-1);  // nothing is chosen until the stored choice or the default is
    const TMixerDestinations* destinations = station_->recordingLines();
    if (destinations == nullptr || destinations->Count() < 2) {
        AudioQuelle->setEnabled(false);
        setVolumeSlider({.enabled = false});
        AutoDetectBtn->setEnabled(false);
        LautstOptionsspeichern->setEnabled(false);
        env_.dialogs->showMessage(kCaption, Msg(50));
        return false;
    }
    step(2);
    const TMixerDestination& recording = destinations->Items(kRecording);
    AudioQuelle->addItem(lineName(recording.Line()));
    step(3);
    const TMixerConnections& connections = recording.Connections();
    for (int k = 0; k < connections.Count(); ++k) {
        step(4);
        AudioQuelle->addItem(lineName(connections.Items(k).Line()));
    }
    return true;
}

void TMainform::restoreVolumeChoice() {
    using Result = SettingsRead<VolumeChoice>::Result;
    step(5);
    const SettingsStore store(ProgramDir());
    const SettingsRead<VolumeChoice> stored = store.loadVolumeChoice();
    // The store has opened, read and closed the file in one go; the steps name the operation that failed.
    step(6);
    step(7);
    step(8);
    throwIfUnreadable(stored, store.path(SettingsStore::kVolumeFile), [this] { step(9); });
    // A short file or a choice the list no longer has (another sound server, a source gone) is not
    // applied: the station starts as without a file and leaves the file as it is.
    if (stored.result == Result::Read && stored.value.item < AudioQuelle->count()) {
        if (stored.value.item >= 0) {
            step(10);
            AudioQuelle->setCurrentIndex(stored.value.item);
            step(11);
            AudioQuelleChange(AudioQuelle);  // the box is still off: this removes the file ...
            step(12);
            setVolumeSlider({.position = stored.value.volume});
            step(13);
            AudioLautstChange(AudioLautst);
        }
        step(14);
        step(15);
        LautstOptionsspeichern->setChecked(true);
        LautstOptionsspeichernClick(LautstOptionsspeichern);  // ... and this writes it again as shown
        return;
    }
    step(16);
    AudioQuelle->setCurrentIndex(kOwnSettings);
    setVolumeSlider({.position = 0, .enabled = false});
}

void TMainform::AudioQuelleChange(QObject* /*Sender*/) {
    trace("AudioQuelleChange");
    const int item = AudioQuelle->currentIndex();
    if (item <= kOwnSettings) {
        step(2);
        setVolumeSlider({.maximum = kVolumeMax, .position = 0, .enabled = false});
    } else {
        step(3);
        const int32_t connection = item - 2;
        int32_t left = -1;
        int32_t right = -1;
        int32_t mute = -1;
        station_->recordingVolume(connection, left, right, mute);
        setVolumeSlider({.maximum = kVolumeMax, .position = left});
        // Both channels alike, and the line switched on: for a source, that makes it the one recorded.
        station_->setRecordingVolume(connection, left);
        setVolumeSlider({.enabled = true});
    }
    step(4);
    LautstOptionsspeichernClick(AudioQuelle);
}

void TMainform::AudioLautstChange(QObject* /*Sender*/) {
    trace("AudioLautstChange");
    const int item = AudioQuelle->currentIndex();
    if (item <= kOwnSettings) {
        return;
    }
    const int32_t volume = volumePosition();
    station_->setRecordingVolume(item - 2, volume);
}

void TMainform::AutoDetectBtnClick(QObject* /*Sender*/) {
    trace("AutoDetectBtnClick");
    if (chooseRecordingInputItself() || choosePlayedSource()) {
        return;
    }
    step(29);
    env_.dialogs->showMessage(kCaption, Msg(49));
}

bool TMainform::chooseRecordingInputItself() {
    int32_t left = -1;
    int32_t right = -1;
    int32_t mute = -1;
    station_->recordingVolume(-1, left, right, mute);
    step(2);
    station_->setRecordingVolume(-1, left);
    step(3);
    station_->recordingVolume(-1, left, right, mute);
    step(4);
    if (mute != 1) {
        return false;
    }
    step(5);
    env_.dialogs->showMessage(kCaption, Msg(48));
    step(6);
    AudioQuelle->setCurrentIndex(1);
    step(7);
    AudioQuelleChange(AutoDetectBtn);
    return true;
}

bool TMainform::choosePlayedSource() {
    if (station_->recordingLines() == nullptr) {
        throw EListError(kRecording);
    }
    const TMixerConnections& connections = station_->recordingLines()->Items(kRecording).Connections();
    auto choose = [&](int k, int messageStep, int changeStep) {
        step(messageStep);
        env_.dialogs->showMessage(kCaption, Msg(48));
        AudioQuelle->setCurrentIndex(k + 2);
        step(changeStep);
        AudioQuelleChange(AutoDetectBtn);
        return true;
    };
    auto nameIs = [&](int k, const char* name) {
        return QByteArrayView(connections.Items(k).Line().szName) == name;
    };

    step(8);
    for (int k = 0; k < connections.Count(); ++k) {
        step(9);
        step(10);
        if (nameIs(k, "\"What U Hear\"")) {
            return choose(k, 11, 12);
        }
        step(13);
        if (nameIs(k, "Stereo Mix")) {
            return choose(k, 14, 15);
        }
        if (nameIs(k, "Gesamtausgang")) {
            return choose(k, 16, 17);
        }
    }
    step(18);
    step(20);
    for (int k = 0; k < connections.Count(); ++k) {
        step(21);
        if (nameIs(k, "Mono Mix")) {
            return choose(k, 22, 23);
        }
    }
    step(24);
    step(25);
    for (int k = 0; k < connections.Count(); ++k) {
        step(26);
        if (nameIs(k, "Wave")) {
            return choose(k, 27, 28);
        }
    }
    // The names above are those of sound cards of another system; a sound server offers what the
    // computer plays as the monitor of its output.
    step(30);
    for (int k = 0; k < connections.Count(); ++k) {
        if (isDefaultOutputMonitor(connections.Items(k).Line())) {
            return choose(k, 31, 32);
        }
    }
    return false;
}

void TMainform::LautstOptionsspeichernClick(QObject* /*Sender*/) {
    trace("LautstOptionsspeichernClick");
    const SettingsStore store(ProgramDir());
    if (LautstOptionsspeichern->isChecked()) {
        step(2);
        const VolumeChoice choice{.item = AudioQuelle->currentIndex(), .volume = volumePosition()};
        store.saveVolumeChoice(choice, [this](SettingsWriteStage stage) {
            switch (stage) {
                case SettingsWriteStage::Create:
                    step(3);
                    step(4);
                    break;
                case SettingsWriteStage::Write:  // the item and the volume in one write
                    step(5);
                    step(6);
                    break;
                case SettingsWriteStage::Close:
                    step(7);
                    break;
            }
        });
    } else {
        step(8);
        step(9);
        store.removeVolumeChoice();
    }
}
