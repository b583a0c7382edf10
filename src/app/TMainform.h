// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/Station.h"
#include "ui/IcecastRelayDialog.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <exception>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeView;
class ListenerListModel;
class TLogGraph;
class TSlider;

// The station's window: a view of the Station it owns. It owns every control under the names of the
// window layout; its handlers check what the window owns (message boxes, dialogs) and call the station,
// and what the station reports arrives as signals.
// Thread contract: window thread.
class TMainform : public QWidget {
    Q_OBJECT

public:
    explicit TMainform(const StationEnvironment& env, QWidget* parent = nullptr);
    ~TMainform() override;

    Station& station() { return *station_; }

    // True when start-up decided that the program ends at once (no "Server.ini").
    bool StartupAborted() const { return startupAborted_; }

    // --- Start-up and settings -------------------------------------------------------------------------
    void FormCreate(QObject* Sender);
    void FormClose(QObject* Sender);  // throws when the settings cannot be written
    void AppException(QObject* Sender, const std::exception& E);
    QString ReplaceStr(const QString& Search, const QString& Replace, const QString& Source) {
        return station_->ReplaceStr(Search, Replace, Source);
    }
    QString Msg(int n) const { return station_->Msg(n); }
    QString ProgramDir() const { return env_.dataDir; }
    // Runs a handler; an error that escapes it ends in the error report.
    template <class F>
    void Guarded(QObject* /*sender*/, F&& handler) {
        station_->Guarded(std::forward<F>(handler));
    }

    // --- Controls (window layout) -----------------------------------------------------------------------
    QPushButton* Connectrbtn = nullptr;
    QPushButton* Disconnectrbtn = nullptr;
    QCheckBox* Mp3Aufz = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Hoerer = nullptr;
    QTreeView* Clientslist = nullptr;
    ListenerListModel* ClientslistRows = nullptr;  // the rows Clientslist shows
    QLabel* Label16 = nullptr;
    TLogGraph* Stats = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Refreshedit = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Bytesvandorixclient = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Errorsvandorixclient = nullptr;
    QPushButton* InpForm = nullptr;
    QPushButton* OutpForm = nullptr;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label6 = nullptr;
    QSpinBox* VandorixClientport = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QLabel* Label9 = nullptr;
    QLineEdit* ServerName = nullptr;
    QLabel* Label14 = nullptr;
    QLineEdit* RadioName = nullptr;
    QLineEdit* ExtRadioname = nullptr;
    QGroupBox* GroupBox7 = nullptr;
    QLabel* Label17 = nullptr;
    QLineEdit* AktInfo = nullptr;
    QPushButton* Update = nullptr;
    QLabel* Label18 = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    QLabel* Label12 = nullptr;
    QLineEdit* EMail = nullptr;
    QLabel* Label13 = nullptr;
    QLineEdit* Passwort1 = nullptr;
    QLineEdit* Passwort2 = nullptr;
    QPushButton* AnmeldeBtn = nullptr;
    QPushButton* AbmeldeBtn = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLineEdit* ServerDB = nullptr;
    QGroupBox* GroupBox6 = nullptr;
    QLabel* Label15 = nullptr;
    QLineEdit* Upload = nullptr;
    QCheckBox* Beschr = nullptr;

    QLabel* Label7 = nullptr;
    QProgressBar* Auslastung = nullptr;
    QLabel* Label19 = nullptr;
    QComboBox* AudioQuelle = nullptr;
    QLabel* Label20 = nullptr;
    TSlider* AudioLautst = nullptr;
    QPushButton* AutoDetectBtn = nullptr;
    QCheckBox* LautstOptionsspeichern = nullptr;
    QPushButton* RecordtoFileBtn = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QCheckBox* Loop = nullptr;
    QPushButton* Button3 = nullptr;

    // --- Handlers: each checks what the window owns and calls the station ------------------------------
    void ConnectrbtnClick(QObject* Sender);
    void DisconnectrbtnClick(QObject* Sender);
    void InpFormClick(QObject* Sender);
    void OutpFormClick(QObject* Sender);
    void BeschrChange(QObject* Sender);
    void BeschrExit(QObject* Sender);
    void UpdateClick(QObject* Sender);
    void AnmeldeBtnClick(QObject* Sender);
    void AbmeldeBtnClick(QObject* Sender);
    void RecordtoFileBtnClick(QObject* Sender);
    void Button1Click(QObject* Sender);  // "Start": creates the recording file, then blocks go to it
    void Button2Click(QObject* Sender);  // "Stop"
    void Button3Click(QObject* Sender);  // "PlayfromFile"; returns when the playback has ended
    // What "RecordtoFile" and "PlayfromFile" do once their dialog has given a file (--record, --play).
    void RecordtoFile(const QString& FileName) { station_->RecordtoFile(FileName); }
    void PlayfromFile(const QString& FileName) { station_->PlayfromFile(FileName); }

    // --- Recording source and volume (MainformMixer.cpp) ---------------------------------------------------
    void AudioQuelleChange(QObject* Sender);
    void AudioLautstChange(QObject* Sender);
    void AutoDetectBtnClick(QObject* Sender);
    void LautstOptionsspeichernClick(QObject* Sender);  // throws when "LautstOptions.ini" cannot be written

    // The relays' targets and states for the user, a dialog reached through the window's context menu.
    void RelayDialogShow();
    IcecastRelayDialog* relayDialog() const { return relayDialog_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void bindSettings();
    void bindStation();
    void bindHandlers();
    void showSettings();
    void showState(StationState state);
    void showListeners();
    void showLineLoad(int maximum, int position);
    void showRelayStates();
    void applyLanguageTexts();
    // Start-up steps [1-16]: recording sources [1-4] (false without a recording destination) and the
    // stored choice of source and volume [5-16].
    // The list, the slider and the box as start-up left the recording source (the station's choice).
    void showRecordingSource();
    // AutoDetectBtnClick's steps: [1-7] a recording input that switches on by itself is the source;
    // [8-32] the passes over its sources, true when one was chosen.
    bool chooseRecordingInputItself();
    bool choosePlayedSource();
    void buildMixer();
    void buildRelays();
    // The only access to the volume slider: its position, and a change of its range, position or
    // enabled state (what is not given stays).
    struct VolumeSliderChange {
        std::optional<int> maximum = std::nullopt;
        std::optional<int> position = std::nullopt;
        std::optional<bool> enabled = std::nullopt;
    };
    int volumePosition() const;
    void setVolumeSlider(const VolumeSliderChange& change);
    void trace(const char* name) { station_->trace(name); }
    void step(int n) { station_->step(n); }

    StationEnvironment env_;
    std::unique_ptr<Station> station_;
    QPointer<IcecastRelayDialog> relayDialog_;
    bool startupAborted_ = false;
};
