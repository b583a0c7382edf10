// SPDX-License-Identifier: GPL-3.0-or-later
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

void TMainform::showRecordingSource() {
    const StationStatus::RecordingSource& source = station_->status()->recordingSource;
    AudioQuelle->clear();
    AudioQuelle->addItem(QStringLiteral("Eigene Einstellungen"));
    if (!source.available) {
        AudioQuelle->setEnabled(false);
        setVolumeSlider({.enabled = false});
        AutoDetectBtn->setEnabled(false);
        LautstOptionsspeichern->setEnabled(false);
        return;
    }
    AudioQuelle->addItems(source.lines);
    // Set from code, the list raises no change event; the slider's raises one, which sets the volume
    // the station has set already.
    AudioQuelle->setCurrentIndex(source.item);
    if (source.item > kOwnSettings) {
        setVolumeSlider({.maximum = kVolumeMax, .position = source.volume, .enabled = true});
    } else if (source.item == kOwnSettings) {
        if (source.kept) {
            setVolumeSlider({.maximum = kVolumeMax, .position = source.volume, .enabled = false});
        } else {
            setVolumeSlider({.position = 0, .enabled = false});
        }
    }
    LautstOptionsspeichern->setChecked(source.kept);
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
        const int32_t left = station_->recordingVolume(connection).Left;
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
    const int32_t left = station_->recordingVolume(-1).Left;
    step(2);
    station_->setRecordingVolume(-1, left);
    step(3);
    const int32_t mute = station_->recordingVolume(-1).Mute;
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
