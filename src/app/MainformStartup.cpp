// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and closing of the window, and the error report.
#include "app/TMainform.h"
#include "platform/ScopeGuard.h"
#include "ui/ListenerListModel.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

void TMainform::FormCreate(QObject* /*Sender*/) {
    // The controls show the recording source however far start-up came.
    const vx::ScopeGuard shown([this] { showRecordingSource(); });
    startupAborted_ = !station_->startUp([this] {
        showRecordingSource();
        applyLanguageTexts();
    });
}

void TMainform::applyLanguageTexts() {
    Connectrbtn->setText(Msg(0));
    Disconnectrbtn->setText(Msg(1));
    Label3->setText(Msg(2));
    GroupBox1->setTitle(Msg(3));
    Label6->setText(Msg(4));
    GroupBox4->setTitle(Msg(5));
    Label9->setText(Msg(6));
    Label14->setText(Msg(7));
    GroupBox7->setTitle(Msg(8));
    Label17->setText(Msg(9));
    AktInfo->setText(Msg(10));
    Update->setText(Msg(11));
    Label18->setText(Msg(12));
    GroupBox5->setTitle(Msg(13));
    Label12->setText(Msg(14));
    Label13->setText(Msg(15));
    Label1->setText(Msg(16));
    Label10->setText(Msg(17));
    Label11->setText(Msg(18));
    GroupBox6->setTitle(Msg(19));
    Label15->setText(Msg(20));
    Beschr->setText(Msg(21));
    Label8->setText(Msg(22));
    Label4->setText(Msg(23));
    Label5->setText(Msg(24));
    InpForm->setText(Msg(25));
    OutpForm->setText(Msg(26));
    Label7->setText(Msg(27));
    ClientslistRows->setHeaderLabels(Msg(41), Msg(42));
    Mp3Aufz->setText(Msg(43));
    Label19->setText(Msg(44));
    Label20->setText(Msg(45));
    AutoDetectBtn->setText(Msg(46));
    LautstOptionsspeichern->setText(Msg(47));
}

void TMainform::FormClose(QObject* /*Sender*/) {
    station_->close();
}

void TMainform::closeEvent(QCloseEvent* event) {
    // A playback runs beneath this event, in its waits: it ends first, then the window closes.
    if (station_->AfterPlayback([this] { close(); })) {
        event->ignore();
        return;
    }
    bool closed = false;
    Guarded(this, [&] {
        FormClose(this);
        closed = true;
    });
    if (closed) {
        event->accept();
    } else {
        event->ignore();  // the settings were not written: the window stays open
    }
}

void TMainform::AppException(QObject* /*Sender*/, const std::exception& E) {
    station_->AppException(E);
}
