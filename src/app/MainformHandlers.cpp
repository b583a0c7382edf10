// SPDX-License-Identifier: GPL-3.0-or-later
// The window's handlers: each checks what the window owns (message boxes, dialogs) and calls the station.
#include "app/TMainform.h"
#include "audio/TACMConvertor.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString kApplicationTitle = QString::fromLatin1(vx::kStationTitle);
const QString kRecordingFilter = QStringLiteral("KTV Datei (*.ktv)");

}  // namespace

void TMainform::bindHandlers() {
    auto click = [this](QPushButton* button, void (TMainform::*handler)(QObject*)) {
        connect(button, &QPushButton::clicked, this,
                [this, button, handler] { Guarded(button, [&] { (this->*handler)(button); }); });
    };
    click(Connectrbtn, &TMainform::ConnectrbtnClick);
    click(Disconnectrbtn, &TMainform::DisconnectrbtnClick);
    click(InpForm, &TMainform::InpFormClick);
    click(OutpForm, &TMainform::OutpFormClick);
    click(Update, &TMainform::UpdateClick);
    click(AnmeldeBtn, &TMainform::AnmeldeBtnClick);
    click(AbmeldeBtn, &TMainform::AbmeldeBtnClick);
    click(RecordtoFileBtn, &TMainform::RecordtoFileBtnClick);
    click(Button1, &TMainform::Button1Click);
    click(Button2, &TMainform::Button2Click);
    click(Button3, &TMainform::Button3Click);
}

void TMainform::ConnectrbtnClick(QObject* /*Sender*/) {
    station_->Start();
}

void TMainform::DisconnectrbtnClick(QObject* /*Sender*/) {
    station_->Stop();
}

void TMainform::InpFormClick(QObject* /*Sender*/) {
    trace("InpFormClick");
    if (station_->chooseFormatIn()) {
        step(4);
        env_.dialogs->showMessage(kApplicationTitle, Msg(35));
    }
}

void TMainform::OutpFormClick(QObject* /*Sender*/) {
    trace("OutpFormClick");
    if (station_->chooseFormatOut()) {
        step(4);
        env_.dialogs->showMessage(kApplicationTitle, Msg(35));
    }
}

void TMainform::BeschrChange(QObject* /*Sender*/) {
    station_->editSettings([this](StationSettings& s) { s.upload = Upload->text(); });
    station_->uploadChanged();
}

void TMainform::BeschrExit(QObject* /*Sender*/) {
    trace("BeschrExit");
    step(2);
    if (station_->status()->codecOpen) {
        step(3);
        env_.dialogs->showMessage(kApplicationTitle, Msg(35));
    }
}

void TMainform::UpdateClick(QObject* /*Sender*/) {
    trace("UpdateClick");
    step(2);
    Update->setEnabled(false);
    station_->UpdateInfo();
    step(5);
    Update->setEnabled(true);
}

void TMainform::AnmeldeBtnClick(QObject* /*Sender*/) {
    station_->Register();
}

void TMainform::AbmeldeBtnClick(QObject* /*Sender*/) {
    station_->Unregister();
}

void TMainform::RecordtoFileBtnClick(QObject* /*Sender*/) {
    trace("RecordtoFileBtnClick");
    step(1);
    const QString name = env_.dialogs->getSaveFileName(QStringLiteral("Speichern unter ..."),
                                                       kRecordingFilter, QStringLiteral(".ktv"));
    if (name.isEmpty()) {
        return;
    }
    station_->RecordtoFile(name);
}

void TMainform::Button1Click(QObject* /*Sender*/) {
    station_->StartRecording();
}

void TMainform::Button2Click(QObject* /*Sender*/) {
    station_->StopRecording();
}

void TMainform::Button3Click(QObject* /*Sender*/) {
    trace("Button3Click");
    step(1);
    const QString name = env_.dialogs->getOpenFileName(QStringLiteral("Öffnen ..."), kRecordingFilter);
    if (name.isEmpty()) {
        return;
    }
    station_->PlayfromFile(name);
}
