// SPDX-License-Identifier: GPL-3.0-or-later
// The window as a view of the station: the edits go into the station's settings, and what the station
// reports reaches the controls.
#include "app/FocusLeaveWatcher.h"
#include "app/TMainform.h"
#include "ui/ListenerListModel.h"
#include "ui/TLogGraph.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

namespace {

const QString kApplicationTitle = QString::fromLatin1(vx::kStationTitle);

}  // namespace

void TMainform::bindSettings() {
    auto text = [this](QLineEdit* edit, QString StationSettings::*field) {
        connect(edit, &QLineEdit::textChanged, this, [this, field](const QString& value) {
            station_->editSettings([&](StationSettings& s) { s.*field = value; });
        });
    };
    text(ServerName, &StationSettings::serverName);
    text(RadioName, &StationSettings::radioName);
    text(ExtRadioname, &StationSettings::extRadioName);
    text(AktInfo, &StationSettings::infoText);
    text(EMail, &StationSettings::email);
    text(Passwort1, &StationSettings::password);
    text(Passwort2, &StationSettings::passwordConfirm);
    text(ServerDB, &StationSettings::directoryUrl);
    auto check = [this](QCheckBox* box, bool StationSettings::*field) {
        connect(box, &QCheckBox::toggled, this, [this, field](bool value) {
            station_->editSettings([&](StationSettings& s) { s.*field = value; });
        });
    };
    check(Beschr, &StationSettings::limitListeners);
    check(Mp3Aufz, &StationSettings::mp3Copy);
    check(Loop, &StationSettings::loop);
    connect(VandorixClientport, &QSpinBox::valueChanged, this,
            [this](int port) { station_->editSettings([&](StationSettings& s) { s.port = port; }); });
    // "Upload" also recomputes the limit, in its change event.
    connect(Upload, &QLineEdit::textChanged, this,
            [this] { Guarded(Upload, [this] { BeschrChange(Upload); }); });
    new FocusLeaveWatcher(Upload, [this] { Guarded(Upload, [this] { BeschrExit(Upload); }); });
    // The controls start from the station's defaults.
    showSettings();
}

void TMainform::showSettings() {
    // Each control's change event writes the value back; the settings stay as they are meanwhile.
    const StationSettings s = station_->settings();
    VandorixClientport->setValue(s.port);
    ServerName->setText(s.serverName);
    RadioName->setText(s.radioName);
    ExtRadioname->setText(s.extRadioName);
    AktInfo->setText(s.infoText);
    EMail->setText(s.email);
    Passwort1->setText(s.password);
    Passwort2->setText(s.passwordConfirm);
    ServerDB->setText(s.directoryUrl);
    Upload->setText(s.upload);
    Beschr->setChecked(s.limitListeners);
    Mp3Aufz->setChecked(s.mp3Copy);
    Loop->setChecked(s.loop);
}

void TMainform::bindStation() {
    Station& st = *station_;
    connect(&st, &Station::message, this,
            [this](const QString& text) { env_.dialogs->showMessage(kApplicationTitle, text); });
    connect(&st, &Station::errorReport, this, [this](const QString& what, const QString& name, int num) {
        env_.dialogs->showMessage(kApplicationTitle, Station::reportText(what, name, num));
    });
    connect(&st, &Station::stateChanged, this, [this](StationState state) { showState(state); });
    connect(&st, &Station::blockShown, this,
            [this](int bytes) { Bytesvandorixclient->setText(QString::number(bytes)); });
    connect(&st, &Station::refreshShown, this,
            [this](uint32_t ms) { Refreshedit->setText(QString::number(ms)); });
    connect(&st, &Station::errorsShown, this,
            [this](uint32_t errors) { Errorsvandorixclient->setText(QString::number(errors)); });
    connect(&st, &Station::lineLoadShown, this,
            [this](int maximum, int position) { showLineLoad(maximum, position); });
    connect(&st, &Station::listenersChanged, this, [this] { showListeners(); });
    // Rows the view lost, or a count that disagrees with them, are shown anew at the next tick.
    connect(&st, &Station::listenersChecked, this, [this] {
        if (ClientslistRows->rowCount() != station_->status()->listenerCount() ||
            Hoerer->text() != QString::number(ClientslistRows->rowCount())) {
            showListeners();
        }
    });
    connect(&st, &Station::limitChanged, this, [this](int maxUser) {
        Beschr->setText(station_->ReplaceStr(QStringLiteral("{User}"), QString::number(maxUser), Msg(21)));
    });
    connect(&st, &Station::statsSample, this, [this](int maximum, int listeners) {
        Stats->setValueMax(maximum);
        Stats->AddValue(listeners);
    });
    connect(&st, &Station::relaysChanged, this, [this] { showRelayStates(); });
    connect(&st, &Station::deadAirChanged, this, [this] { showRelayStates(); });
    connect(&st, &Station::settingsLoaded, this, [this] { showSettings(); });
}

void TMainform::showState(StationState state) {
    // The start and stop buttons and the twelve settings controls follow the broadcast.
    const bool locked = settingsLocked(state);
    QWidget* const settings[] = {VandorixClientport, RadioName,  ExtRadioname, EMail,  Passwort1, Passwort2,
                                 AnmeldeBtn,         AbmeldeBtn, Upload,       Beschr, InpForm,   OutpForm};
    Connectrbtn->setEnabled(!locked);
    Disconnectrbtn->setEnabled(locked);
    for (QWidget* w : settings) {
        w->setEnabled(!locked);
    }
    // One playback at a time: a second one would run inside the first one's waits.
    Button3->setEnabled(state != StationState::Playing);
}

void TMainform::showListeners() {
    const ListenerSnapshot rows = station_->status()->clients;
    std::vector<ListenerListModel::Row> shown;
    shown.reserve(rows->size());
    for (const ListenerRow& row : *rows) {
        shown.push_back({row.id, row.address, row.program});
    }
    ClientslistRows->update(std::move(shown));
    Hoerer->setText(QString::number(rows->size()));
}

void TMainform::showLineLoad(int maximum, int position) {
    if (maximum < 0) {
        Auslastung->setValue(position);
        return;
    }
    if (maximum == 0) {
        // No capacity at all: the bar shows full.
        Auslastung->setRange(0, 1);
        Auslastung->setValue(1);
        return;
    }
    Auslastung->setRange(0, maximum);
    Auslastung->setValue(position);
}
