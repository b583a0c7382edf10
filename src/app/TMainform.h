#pragma once

#include "app/StationEnvironment.h"
#include "app/Trace.h"
#include "audio/FileDestination.h"
#include "mixer/TAudioMixer.h"
#include "net/THTTPGet.h"
#include "net/TServerSocket.h"
#include "platform/StationConstants.h"
#include "platform/TAudioFormat.h"
#include "platform/language/Language.h"
#include "threads/TThreadComp.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

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
class TACMConvertor;
class TLogGraph;
class TSlider;
class TACMIn;
class ListenerDestination;
struct TOptionsRecord;
class RecordingReader;

// The station's one window. It owns every control and component under the names of the window layout,
// and its handlers (one file per concern, Mainform*.cpp) carry the station's logic.
// Thread contract: window thread, except where a handler says otherwise.
class TMainform : public QWidget {
    Q_OBJECT

private:
    // The texts this window loaded, freed by its close or its end, never by another window. Declared
    // first, so it goes last: anything torn down before may still read a message.
    LanguageLibrary language_;

public:
    explicit TMainform(const StationEnvironment& env, QWidget* parent = nullptr);
    ~TMainform() override;

    // True when start-up decided that the program ends at once (no "Server.ini").
    bool StartupAborted() const { return startupAborted_; }

    // --- Start-up and settings -------------------------------------------------------------------------
    void FormCreate(QObject* Sender);
    void FormClose(QObject* Sender);  // throws when the settings cannot be written
    // SIGTERM and SIGINT: the normal close; when FormClose fails, its error is reported and the program
    // ends all the same (exit code 1), without the settings.
    void CloseOnSignal();
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
    // Refreshes the client list; first closes every listener that has taken no byte of any block for
    // StalledListenerLimitMs in a row, so that stalled peers do not hold the limited slots.
    void ConnectionTestTimer(QObject* Sender);
    int StalledListenerLimitMs = 60000;
    // The connection list's generation the client list was last compared with; a tick that finds it
    // unchanged, the rows as they were and no listener refusing has nothing to close or to show anew.
    uint64_t ListedGeneration = ~uint64_t{0};

    // --- Directory and statistics (MainformDirectory.cpp) -----------------------------------------------
    std::unique_ptr<THTTPGet> HTTP;        // register, delete, status, off-air: waits for the answer
    std::unique_ptr<THTTPGet> HTTPHoerer;  // listener count: fire and forget
    // Overall deadlines of the directory requests: a slow directory must not hold the stop, the end of
    // the program or the next report. The stop's off-air report has the shorter one.
    int DirectoryDeadlineMs = 20000;
    int OffAirDeadlineMs = 5000;
    void AnmeldeBtnClick(QObject* Sender);
    void AbmeldeBtnClick(QObject* Sender);
    void DBTimerTimer(QObject* Sender);     // status report; the broadcast start calls it once at once
    void StatsTimerTimer(QObject* Sender);  // statistics sample and listener count, also in offline mode
    // The stop's directory steps [1]-[8], under the caller's trace name: unless OfflineMode, report the
    // station off the air (message 29 or 30) and send the listener count 0.
    void DirectoryOffAir();

    // --- Recording source and volume (MainformMixer.cpp) ---------------------------------------------------
    std::unique_ptr<TAudioMixer> AudioMixer;
    void AudioQuelleChange(QObject* Sender);
    void AudioLautstChange(QObject* Sender);
    void AutoDetectBtnClick(QObject* Sender);
    void LautstOptionsspeichernClick(QObject* Sender);  // throws when "LautstOptions.ini" cannot be written

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
    // Stops begun; a start that sees it change while it waits for the directory has been undone.
    uint64_t StopCount = 0;
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
    // OnError of ACMI (the device failed while it recorded): reports once per outage and starts
    // CaptureRetry, which opens the capture again every few seconds while the audio path is open.
    void ACMIError(TACMIn* Sender, const std::exception& E);
    void CaptureRetryTimer(QObject* Sender);
    QTimer* CaptureRetry = nullptr;
    // Set by a reported capture failure, cleared by the next block and by the stop.
    bool CaptureLost = false;
    void RemoteControlClientConnect(TServerSocket* Sender,
                                    const std::shared_ptr<TServerClientWinSocket>& Socket);
    void RemoteControlClientRead(TServerSocket* Sender,
                                 const std::shared_ptr<TServerClientWinSocket>& Socket);
    // A failed connection is closed with one line on standard error and no report: any local program
    // could otherwise flood the error report (a modal box each, with a display) by resetting connections.
    void RemoteControlClientError(TServerSocket* Sender,
                                  const std::shared_ptr<TServerClientWinSocket>& Socket,
                                  TErrorEvent ErrorEvent, int& ErrorCode);
    // The MP3 copy's file name for a moment: the regional short date, a blank and the time with seconds,
    // with ".", ":" and "/" replaced by "-".
    QString DateTimetoFilename(const QDateTime& DateTime);
    // True for the addresses the remote control obeys: 192.168.x.x, 10.x.x.x, 172.16.x.x to
    // 172.31.x.x and exactly 127.0.0.1.
    static bool CheckLocalAddress(const QString& Address);

    // --- Recording to a file and playing a file out (MainformRecording.cpp) ---------------------------
    // The recording file's path as the save dialog chose it; "Start" creates it.
    QString RecordFileName;
    void RecordtoFileBtnClick(QObject* Sender);
    void Button1Click(QObject* Sender);  // "Start": creates the recording file, then blocks go to it
    void Button2Click(QObject* Sender);  // "Stop"
    void Button3Click(QObject* Sender);  // "PlayfromFile"; returns when the playback has ended
    // What "RecordtoFile" and "PlayfromFile" do once their dialog has given a file (--record, --play).
    void RecordtoFile(const QString& FileName);
    void PlayfromFile(const QString& FileName);
    // While a playback runs: asks it to end and queues `action` for the moment it has ended, so that
    // nothing the playback's waits dispatched tears the window down beneath it. False when none runs.
    bool AfterPlayback(std::function<void()> action);

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
    void buildRecording();
    void buildRelays();
    // The line-load bar for a block of blockSize bytes to so many listeners. Worker.
    void showLineLoad(int blockSize, int listeners);
    // Replaces the relays by those of the current targets; only while no block can be under way.
    void applyRelayTargets();
    void relayStatusChanged(uint32_t generation, uint32_t index);
    void showRelayStates();
    // Hands a block to one destination. One that fails is closed, its flag cleared, one transmission
    // error counted and the failure reported once on the window thread; the block's other destinations
    // are not affected. On the thread that carries the block.
    void deliver(BlockDestination& destination, std::atomic<bool>& flag, const char* block, int size);
    // Throws EAudioFormat, naming the button that chooses another, when FormatIn or FormatOut is unusable.
    void checkStreamFormats() const;
    void buildMixer();
    // Switches the start and stop buttons and the twelve settings controls for a broadcast (or back).
    void lockSettings(bool broadcasting);
    // The start's steps under its trace. Each that opens something records how to close it again, so
    // that a failed start closes exactly what it opened (undoFailedStart, newest first).
    using OpenedSteps = std::vector<std::function<void()>>;
    void startBroadcast(OpenedSteps& opened);  // steps [8]-[25]
    void openMp3Copy(OpenedSteps& opened);     // steps [10]-[12]
    // Sizes the codec input and the capture buffers to one second of input and opens both: steps
    // [firstStep] to [firstStep + 3].
    void openAudioPath(int firstStep, OpenedSteps& opened);
    void undoFailedStart(const OpenedSteps& opened);
    void applyLanguageTexts();
    // FormCreate's settings steps: [22-27] "Server.ini" (false when it is missing: the program ends),
    // [31-37] "Optionen.ini".
    bool loadServerFile();
    void loadOptionsFile();
    void applyOptions(const TOptionsRecord& record);
    // Start-up steps [1-16]: recording sources [1-4] (false without a recording destination) and the
    // stored choice of source and volume [5-16].
    void RestoreRecordingSource();
    bool fillRecordingSources();
    void restoreVolumeChoice();
    // AutoDetectBtnClick's steps: [1-7] a recording input that switches on by itself is the source;
    // [8-32] the passes over its sources, true when one was chosen.
    bool chooseRecordingInputItself();
    bool choosePlayedSource();
    // The only access to the volume slider: its position, and a change of its range, position or
    // enabled state (what is not given stays).
    struct VolumeSliderChange {
        std::optional<int> maximum = std::nullopt;
        std::optional<int> position = std::nullopt;
        std::optional<bool> enabled = std::nullopt;
    };
    int volumePosition() const;
    void setVolumeSlider(const VolumeSliderChange& change);
    void trace(const char* name);
    // Register and delete: the same checks, one waiting request, a message for the answer.
    void registrationRequest(const QString& url, const QString& success, int okMessage, int failMessage);
    void step(int n) { DebugNum = n; }

    // The playback's steps [10]-[12]: the file's format record and what it decodes to; returns the chunk.
    int readPlaybackHeader(RecordingReader& file, TAudioFormat& format, TAudioFormat& decodeFormat);
    void playPasses(RecordingReader& file);  // steps [8]-[26], pass after pass while Loop is checked
    // One pass, a chunk each second by the playback's clock (steps [13]-[25]); false when the file gave none.
    bool playPass(RecordingReader& file, int chunk, qint64& dueMs);
    // The playback's waits: window messages until the clock reaches dueMs, in slices of at most 100 ms;
    // false when the broadcast stopped or the playback was asked to end meanwhile.
    bool playbackWait(qint64 dueMs);
    void showPlaybackLoad(int chunkBytes);

    StationEnvironment env_;
    bool startupAborted_ = false;
    // Set when something dispatched by the playback's waits needs it to end; the actions run after it.
    bool playbackEnding_ = false;
    std::vector<std::function<void()>> afterPlayback_;
    QElapsedTimer playbackClock_;
    bool closeFailed_ = false;     // the last FormClose ended in the error report
    bool keepBadOptions_ = false;  // start-up could not read "Optionen.ini"; the close keeps it aside
};
