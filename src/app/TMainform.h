#pragma once

#include "app/StationEnvironment.h"
#include "app/Trace.h"
#include "audio/FileDestination.h"
#include "audio/TAudioFormat.h"
#include "net/THTTPGet.h"
#include "net/TServerSocket.h"
#include "threads/TThreadComp.h"

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTimer;
class QTreeWidget;
class TACMConvertor;
class TLogGraph;
class TACMIn;
class ListenerDestination;

// The station's one window. It owns every control and component under the names of the window layout,
// and its handlers (one file per concern, Mainform*.cpp) carry the station's logic.
// Thread contract: window thread, except where a handler says otherwise.
class TMainform : public QWidget {
    Q_OBJECT

public:
    explicit TMainform(const StationEnvironment& env, QWidget* parent = nullptr);
    ~TMainform() override;

    // True when start-up decided that the program ends at once (no "Server.ini").
    bool StartupAborted() const { return startupAborted_; }

    // --- Start-up and settings -------------------------------------------------------------------------
    void FormCreate(QObject* Sender);
    void FormClose(QObject* Sender);  // throws when the settings cannot be written
    void AppException(QObject* Sender, const std::exception& E);
    QString ReplaceStr(const QString& Search, const QString& Replace, const QString& Source);

    // Language message n; empty when n lies beyond the list.
    QString Msg(int n) const;
    QString ProgramDir() const { return env_.dataDir; }
    // Runs a handler; an error that escapes it ends in the error report.
    template <class F>
    void Guarded(QObject* sender, F&& handler) {
        try {
            handler();
        } catch (const std::exception& e) {
            AppException(sender, e);
        }
    }

    // --- Fields of the window ---------------------------------------------------------------------------
    const QStringList* Languagelist = nullptr;
    TraceName DebugStr;
    std::atomic<int32_t> DebugNum{0};
    bool OfflineMode = false;
    int32_t MaxUser = 0;
    std::atomic<uint32_t> ErrorCount{0};
    uint32_t RefreshMs = 0;
    double LastBlockTime = 0.0;
    FileDestination Mp3File;
    std::atomic<bool> Mp3Recording{false};
    std::atomic<bool> RecordMode{false};
    std::atomic<bool> Recording{false};
    std::atomic<bool> Playing{false};

    // --- Controls (window layout) -----------------------------------------------------------------------
    QPushButton* Connectrbtn = nullptr;
    QPushButton* Disconnectrbtn = nullptr;
    QCheckBox* Mp3Aufz = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Hoerer = nullptr;
    QTreeWidget* Clientslist = nullptr;
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
    QSlider* AudioLautst = nullptr;  // stand-in until the station's own slider joins
    QPushButton* AutoDetectBtn = nullptr;
    QCheckBox* LautstOptionsspeichern = nullptr;
    QPushButton* RecordtoFileBtn = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QCheckBox* Loop = nullptr;
    QPushButton* Button3 = nullptr;

    // --- Components -------------------------------------------------------------------------------------
    QTimer* DBTimer = nullptr;
    QTimer* ConnectionTest = nullptr;
    QTimer* StatsTimer = nullptr;

    // --- Capture, codec stream and formats (MainformFormats.cpp) ----------------------------------------
    std::unique_ptr<TACMConvertor> ACMC;
    std::unique_ptr<TACMIn> ACMI;
    void InpFormClick(QObject* Sender);
    void OutpFormClick(QObject* Sender);

    // --- Listener service: sessions, handshake, info, displays (MainformListeners.cpp) ------------------
    // Inactive until the broadcast starts; port 6565 until the settings give another.
    std::unique_ptr<TServerSocket> ServerVandorixClient;
    // The formats a recorded file plays out with; the station header carries them while Playing.
    TAudioFormat PlaybackDecodeFormat;
    TAudioFormat PlaybackFormat;
    // Number of admitted listeners (sessions of kind listener). Any thread.
    int GetUseranzahl();
    void ServerVandorixClientClientConnect(TServerSocket* Sender,
                                           const std::shared_ptr<TServerClientWinSocket>& Socket);
    void ServerVandorixClientClientRead(TServerSocket* Sender,
                                        const std::shared_ptr<TServerClientWinSocket>& Socket);
    // Swallows every listener socket error; runs on the thread whose send failed.
    void ServerVandorixClientClientError(TServerSocket* Sender,
                                         const std::shared_ptr<TServerClientWinSocket>& Socket,
                                         TErrorEvent ErrorEvent, int& ErrorCode);
    void BeschrChange(QObject* Sender);
    void BeschrExit(QObject* Sender);
    void UpdateClick(QObject* Sender);
    void ConnectionTestTimer(QObject* Sender);

    // --- Directory and statistics (MainformDirectory.cpp) -----------------------------------------------
    std::unique_ptr<THTTPGet> HTTP;        // register, delete, status, off-air: waits for the answer
    std::unique_ptr<THTTPGet> HTTPHoerer;  // listener count: fire and forget
    void AnmeldeBtnClick(QObject* Sender);
    void AbmeldeBtnClick(QObject* Sender);
    void DBTimerTimer(QObject* Sender);     // status report; the broadcast start calls it once at once
    void StatsTimerTimer(QObject* Sender);  // statistics sample and listener count, also in offline mode
    // The stop's directory steps [1]-[8], under the caller's trace name: unless OfflineMode, report the
    // station off the air (message 29 or 30) and send the listener count 0.
    void DirectoryOffAir();

    // --- Worker, broadcast start and stop, distribution, remote control (MainformBroadcast.cpp, ...) ---
    // The recording file that runs append to while Recording is set; opened and closed by the recording.
    FileDestination RecordFile;
    // The admitted listeners as one destination of the block's road.
    std::unique_ptr<ListenerDestination> Listeners;
    // Streaming servers that carry the stream on; their write() only queues, so it never waits.
    std::vector<std::unique_ptr<BlockDestination>> Relays;
    // Declared after every component a run uses, so it goes first and waits for a run still under way.
    std::unique_ptr<TThreadComp> Thread;
    // Local programs start, stop and end the station here; listens from the window's creation.
    std::unique_ptr<TServerSocket> RemoteControl;
    // Line-load bar maximum in bytes per second, from Upload; read on the window thread before each run.
    std::atomic<int> LineCapacity{0};
    // The line-load bar as the last run left it: maximum in the high half, position in the low half.
    std::atomic<uint64_t> LineLoad{0};
    // Changes at every stop: a display update of a run from before it no longer applies.
    std::atomic<uint64_t> BroadcastSerial{0};
    // How "Ende" ends the process (at once, without the window's close handling).
    std::function<void()> EndProcess;

    // --- Icecast relays (MainformRelay.cpp) -------------------------------------------------------------
    // Relays of the stream to Icecast mounts: started at the end of a broadcast start, stopped once the
    // stop's worker run has ended; "Update" sends the info text as the mounts' title.
    void RelayStart();
    void RelayStop();
    void RelayUpdateInfo();
    // The relays' targets and states for the user, a dialog reached through the window's context menu.
    void RelayDialogShow();
    struct RelayBoard;  // app/RelayBoard.h
    std::shared_ptr<RelayBoard> RelayStates;

    void ConnectrbtnClick(QObject* Sender);
    void DisconnectrbtnClick(QObject* Sender);
    // OnBufferFull of ACMI, window thread.
    void ACMIBufferFull(TACMIn* Sender, const void* Data, int Size);
    // OnExecute of Thread, on the run's thread.
    void ThreadExecute(TThreadComp* Sender);
    // What the audience gets of a block (live or played from a file): every relay, then every admitted
    // listener. On the thread that carries the block.
    void SendToAudience(const char* block, int size);
    void RemoteControlClientConnect(TServerSocket* Sender,
                                    const std::shared_ptr<TServerClientWinSocket>& Socket);
    void RemoteControlClientRead(TServerSocket* Sender,
                                 const std::shared_ptr<TServerClientWinSocket>& Socket);
    // The MP3 copy's file name for a moment: the regional short date, a blank and the time with seconds,
    // with ".", ":" and "/" replaced by "-".
    QString DateTimetoFilename(const QDateTime& DateTime);
    // True for the addresses the remote control obeys: 192.168.x.x, 10.x.x.x, 172.16.x.x to
    // 172.31.x.x and exactly 127.0.0.1.
    static bool CheckLocalAddress(const QString& Address);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildLayout();
    void buildComponents();
    void bindEvents();
    // Each concern creates its components and binds their events in its own file.
    void buildAudio();
    void buildListenerService();
    void buildDirectory();
    void buildBroadcast();
    void buildRelays();
    // Replaces the relays by those of the current targets; only while no block can be under way.
    void applyRelayTargets();
    void relayStatusChanged(uint32_t generation, uint32_t index);
    void showRelayStates();
    // Hands a block to one destination. One that fails is closed, its flag cleared, one transmission
    // error counted and the failure reported once on the window thread; the block's other destinations
    // are not affected. On the thread that carries the block.
    // The line-load bar for a block of blockSize bytes to every admitted listener. Worker.
    void showLineLoad(int blockSize);
    void deliver(BlockDestination& destination, std::atomic<bool>& flag, const char* block, int size);
    // Switches the start and stop buttons and the twelve settings controls for a broadcast (or back).
    void lockSettings(bool broadcasting);
    void applyLanguageTexts();
    // Start-up steps [1-16]: recording sources and stored volume; filled in by the mixer.
    void RestoreRecordingSource();
    void trace(const char* name);
    // Register and delete: the same checks, one waiting request, a message for the answer.
    void registrationRequest(const QString& url, const QString& success, int okMessage, int failMessage);
    void step(int n) { DebugNum = n; }

    StationEnvironment env_;
    bool startupAborted_ = false;
};
