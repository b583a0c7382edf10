// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/FileDestination.h"
#include "mixer/TAudioMixer.h"
#include "net/IcecastRelay.h"
#include "net/TServerSocket.h"
#include "platform/Result.h"
#include "platform/StationConstants.h"
#include "platform/TAudioFormat.h"
#include "platform/ThreadSafety.h"
#include "platform/language/Language.h"
#include "station/BlockRoad.h"
#include "station/DirectoryClient.h"
#include "station/ListenerSnapshot.h"
#include "station/RemoteControlService.h"
#include "station/StationEnvironment.h"
#include "station/StationSettings.h"
#include "station/StationState.h"
#include "station/StationStatus.h"
#include "station/Trace.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QTimer;
class WebPort;
class TVXSocketData;
class QueuedFileWriter;
class Recorder;
class Playback;
struct TOptionsRecord;

// The station itself: the mode, the commands and the snapshot, and the listener port. It wires its
// parts and reaches them only through their interfaces: the block's road (capture, codec, worker and
// the block's destinations), the recording and the playback, the directory client, the remote control
// and the web port. A window or a console reporter drives it and shows what its signals say; it never
// reads or writes a widget.
// Thread contract: the thread that made it (Qt's main thread), except where a member says otherwise.
class Station : public QObject {
    Q_OBJECT

private:
    // The texts this station loaded. Declared first, so it goes last: anything torn down before may
    // still read a message.
    LanguageLibrary language_;

public:
    explicit Station(const StationEnvironment& env, QObject* parent = nullptr);
    ~Station() override;
    // The remote-control port is open (a port taken by another program leaves it closed).
    bool remoteControlListening() const { return remote_ && remote_->listening(); }
    // The web port's port, 0 when it does not listen.
    int webPort() const;
    // The remote "Info": sets the info text and does what the window's "Update" does.
    void setInfoText(const QString& text);

    // --- Start-up, settings and the end ----------------------------------------------------------------
    // Loads the texts (start-up's first steps, under "FormCreate"); what construction found wrong in the
    // relay targets is reported first.
    void initLanguage();
    // Loads "Server.ini" and "Optionen.ini" (start-up's further steps under "FormCreate"). False when
    // the program is to end at once (no "Server.ini"); a file that cannot be read throws.
    bool loadSettings();
    // Start-up, whichever front end runs it, under "FormCreate": the texts, the recording source,
    // `showTexts` (the window's captions), the settings files. False when the program is to end at once
    // (no "Server.ini"); a file that cannot be read throws, and what follows it is not done.
    bool startUp(const std::function<void()>& showTexts = {});
    // "LautstOptions.ini" applied to the sound server (start-up's steps 1-16): the chosen source gets
    // the stored volume on both channels and is switched on; the file is left as it is. Without a
    // recording input, the message that says so. The choice is in the snapshot.
    void restoreRecordingSource();
    // Start-up has finished: remote commands that came meanwhile are carried out now.
    void startupFinished();
    // Writes "Optionen.ini" from the settings (FormClose's steps); throws when it cannot, also when the
    // disk has not finished the write within 2 s (the write then goes on alone, whole or not at all).
    // Then stops a broadcast that runs.
    void saveSettingsAndStop();
    void releaseLanguage();
    // The close, whichever front end runs it: saves "Optionen.ini" (throws when it cannot, and the
    // station stays as it was), stops a broadcast and lets the texts go.
    void close();
    // The close when the settings could not be saved and nobody will try again (a daemon's signal): the
    // broadcast stops all the same and the texts go.
    void closeUnsaved();
    const StationSettings& settings() const { return settings_; }
    // The settings edits (the window's controls, a test's set-up): a field takes effect when the station
    // next reads it (the port at the start, "Upload" with every block).
    template <class F>
    void editSettings(F&& edit) {
        edit(settings_);
        publishStatus();
    }
    // The dead-air rule: below thresholdDb for afterSeconds of captured sound.
    void setSilenceRule(double thresholdDb, double afterSeconds);
    QString ProgramDir() const { return env_.dataDir; }
    const StationEnvironment& environment() const { return env_; }

    // --- State -----------------------------------------------------------------------------------------
    StationState state() const { return mode_.load().state; }
    QDateTime stateSince() const { return stateSince_; }
    // The listener port is open: a broadcast starts, runs, plays a file.
    bool broadcasting() const { return ::broadcasting(state()); }

    // --- Language, trace and reports -------------------------------------------------------------------
    QString Msg(int n) const;
    // The texts this station loaded; null before start-up and after the close.
    const QStringList* languageList() const { return Languagelist; }
    QString ReplaceStr(const QString& Search, const QString& Replace, const QString& Source);
    // The trace: the handler under way and its step, as the error report names them.
    QString traceName() const { return DebugStr.value(); }
    int traceStep() const { return DebugNum; }
    void trace(const char* name);
    void step(int n) { DebugNum = n; }
    // The error report: the failure's text with the trace (DebugStr, DebugNum) at that moment.
    void AppException(const std::exception& E);
    static QString reportText(const QString& what, const QString& debugStr, int debugNum);
    // Runs a handler; an error that escapes it ends in the error report.
    template <class F>
    void Guarded(F&& handler) {
        try {
            handler();
        } catch (const std::exception& e) {
            AppException(e);
        }
    }

    // --- Broadcast ------------------------------------------------------------------------------------
    // "Starte Server": the ordinary start, or in record mode capture and codec only. A start without a
    // radio name is refused with a message.
    void Start();
    // "Stoppe Server".
    void Stop();
    // The remote "Ende": the stop, a pause, then the end of the process.
    void End();
    // Runs `action` just before the remote "Ende" ends the process.
    void beforeProcessEnd(std::function<void()> action);
    // Number of admitted listeners. Any thread.
    int GetUseranzahl();
    // "Upload" changed: the listener limit follows.
    void uploadChanged();
    // "Update": sends the info text to every info channel and relay.
    void UpdateInfo();
    // Throws EAudioFormat, naming the button that chooses another, when FormatIn or FormatOut is unusable.
    void checkStreamFormats() const;
    // The format dialogs ("InpForm", "OutpForm"): true when the chosen format's rate differs from the
    // one before.
    bool chooseFormatIn();
    bool chooseFormatOut();
    // The MP3 copy's file name for a moment.
    QString DateTimetoFilename(const QDateTime& DateTime);

    // --- Recording and playback -----------------------------------------------------------------------
    void RecordtoFile(const QString& FileName);
    void StartRecording();                       // "Start": creates the recording file, then blocks go to it
    void StopRecording();                        // "Stop"
    void PlayfromFile(const QString& FileName);  // returns when the playback has ended
    // While a playback runs: asks it to end and queues `action` for the moment it has ended. False when
    // none runs.
    bool AfterPlayback(std::function<void()> action);

    // --- What the views and services read ---------------------------------------------------------------
    // The newest snapshot; any thread, never waits for more than the copy of a pointer.
    std::shared_ptr<const StationStatus> status() const;
    // --- Directory, recording source and relays --------------------------------------------------------
    void Register();    // "Anmeldung"
    void Unregister();  // "Abmeldung"
    // The sound server's recording input and its sources, for the window's list; null without one.
    const TMixerDestinations* recordingLines() const;
    // The volume of a source of the recording input (-1: the input itself), left, right and its switch;
    // all "none" without a sound server.
    TLineVolume recordingVolume(int32_t connection);
    // Sets both channels alike and switches the line on: for a source, that makes it the one recorded.
    void setRecordingVolume(int32_t connection, int32_t volume);
    // Saves the targets of "Icecast.txt"; they replace the relays at once when no block can be under way,
    // else at the next stop. The error is the file's write failing.
    enum class RelayTargetsTakeEffect { Now, AtNextStart };
    vx::Result<RelayTargetsTakeEffect> saveRelayTargets(const std::vector<IcecastTarget>& targets);

signals:
    // A new snapshot was published; emitted on the station's thread after every change.
    void statusChanged(const std::shared_ptr<const StationStatus>& status);
    void stateChanged(StationState state);
    // A message box's text (the caption is the program's title).
    void message(const QString& text);
    // The error report: the failure's text and the trace at that moment. `file`: the file an
    // input/output error concerns where its text does not name it (a window's report shows the text
    // alone, a console line names the file too); empty otherwise.
    // `plain`, when given, is the one line an admin reads instead ("Listener port 6565: address already
    // in use").
    void errorReport(const QString& what, const QString& debugStr, int debugNum, const QString& file = {},
                     const QString& plain = {});
    void blockShown(int bytes);
    void refreshShown(uint32_t ms);
    void errorsShown(uint32_t count);
    // The line-load bar: maximum 0 means no capacity (the bar shows full); a negative maximum sets the
    // position only (nobody connected, or the stop).
    void lineLoadShown(int maximum, int position);
    void listenersChanged();
    // Every tick of the connection test, after the list was brought up to date.
    void listenersChecked();
    void limitChanged(int maxUser);
    void statsSample(int maximum, int listeners);
    void relaysChanged();
    // Settings changed by the station itself ("Optionen.ini", "Server.ini"): the window shows them.
    void settingsLoaded();
    // Dead air began or ended.
    void deadAirChanged(bool deadAir);

private:
    // Tests reach the components through it, to inject failures and clocks.
    friend struct StationProbe;

    // --- Components -----------------------------------------------------------------------------------
    std::unique_ptr<TAudioMixer> AudioMixer;
    std::unique_ptr<TServerSocket> ServerVandorixClient;
    QTimer* ConnectionTest = nullptr;
    QTimer* StatsTimer = nullptr;
    // The recording and the playback, each owning its file and state.
    std::unique_ptr<Recorder> Recording;
    std::unique_ptr<Playback> Player;
    // Capture to destinations. Destroyed first (in the destructor), before the ports its listeners are on.
    std::unique_ptr<BlockRoad> road_;
    std::unique_ptr<RemoteControlService> remote_;

    // --- Fields ---------------------------------------------------------------------------------------
    int32_t MaxUser = 0;
    int StalledListenerLimitMs = 60000;
    uint64_t ListedGeneration = ~uint64_t{0};
    uint64_t StopCount = 0;
    std::function<void()> EndProcess;

    // --- Directory (StationDirectory.cpp) ---------------------------------------------------------------
    std::unique_ptr<DirectoryClient> directory_;
    void StatsTimerTimer();

    // --- Listener port (StationListeners.cpp) --------------------------------------------------------------
    void ServerVandorixClientClientRead(const std::shared_ptr<TServerClientWinSocket>& Socket);
    // Refreshes the list of listeners; first closes every listener that has taken no byte of any block
    // for StalledListenerLimitMs in a row, so that stalled peers do not hold the limited slots.
    void ConnectionTestTimer();

    // --- Relays (StationRelays.cpp) -------------------------------------------------------------------
    void RelayStart();

    // The admitted listeners as the last connection test saw them; cheap to copy, any thread.
    ListenerSnapshot listeners() const;
    // The listener count of every statistics tick, oldest first (at most kHistorySize).
    std::vector<int> listenerHistory() const { return history_; }
    // When each of those counts was taken (UTC), in the same order.
    std::vector<QDateTime> listenerHistoryTimes() const { return historyTimes_; }
    static constexpr std::size_t kHistorySize = 1440;

    // The texts this station loaded (or, in a test, others).
    const QStringList* Languagelist = nullptr;
    TraceName DebugStr;
    std::atomic<int32_t> DebugNum{0};

    // --- Web port (StationWeb.cpp) --------------------------------------------------------------------
    // The web port: players, browsers and the public page (src/web). Null when off; not listening when it
    // could not be bound. Its listeners are listeners like the listener port's: the same send table,
    // count and list.
    std::unique_ptr<WebPort> Web;
    void buildWebPort();
    // Its server, whose connections the send table and the list walk; null when off.
    TServerSocket* webServer() const;
    // The web port's listeners leave with the broadcast; its page stays.
    void closeWebListeners();
    // Whether a peer of either port is connected at all.
    bool anyoneConnected() const;
    // --- End of the web port ------------------------------------------------------------------------

    void buildAudio();
    void buildListenerService();
    void buildDirectory();
    void buildBroadcast();
    void buildRelays();
    void buildRecording();
    // Where the worker sends a recording's blocks: the recording's writer, or null when no recording
    // takes them. The one way the recording reaches the block's road.
    void routeRecording(const std::shared_ptr<QueuedFileWriter>& writer);
    // Every change of the state and of what goes with it. changeMode() on any thread, without a signal
    // (the worker's part: a file that failed); transition() on the station's thread, which tells it.
    bool changeMode(StationEvent event);
    void transition(StationEvent event);
    // Builds a snapshot of what the station knows now and publishes it. The station's thread only.
    void publishStatus();

    bool loadServerFile();
    void loadOptionsFile();
    void applyOptions(const TOptionsRecord& record);
    void applySettingsOverride();

    using OpenedSteps = std::vector<std::function<void()>>;
    void startBroadcast(OpenedSteps& opened);
    void openMp3Copy(OpenedSteps& opened);
    void undoFailedStart(const OpenedSteps& opened);
    // A recording that failed: record mode ends, the file is closed, a record-only capture stops.
    void endFailedRecording();


    // The handshake's answers. Whether one more listener gets in, and the name it is told: the
    // station's, or the notice that the station is full.
    bool admitsOneMore(QByteArray& name);
    const TAudioFormat& announcedFormatOut() const;
    void answerPlayer(TServerClientWinSocket& socket, TVXSocketData& session, const QByteArray& R);
    void answerInfoChannel(TServerClientWinSocket& socket, TVXSocketData& session);
    void answerListenerProgram(TServerClientWinSocket& socket, TVXSocketData& session, const QByteArray& R);
    bool listUnchanged(uint64_t generation) const;
    void refreshListeners(const TServerSocket::ConnectionSnapshot& snapshot,
                          const TServerSocket::ConnectionSnapshot* webSnapshot);
    void clearListeners();

    void buildRemoteControl();

    // Throws, naming what holds the station, where no playback can run (step 6, the start's).
    void refuseUnplayableState(const StationMode& mode);
    // A chunk the playback read: to the displays and the audience (steps 17 to 25).
    void playbackChunk(const char* chunk, int n);


    StationEnvironment env_;
    StationSettings settings_;
    std::atomic<StationMode> mode_{StationMode{}};
    QDateTime stateSince_;
    mutable vx::Mutex listenersMutex_;  // listeners_ is read from any thread
    ListenerSnapshot listeners_ GUARDED_BY(listenersMutex_) =
        std::make_shared<const std::vector<ListenerRow>>();
    std::vector<int> history_;
    std::vector<QDateTime> historyTimes_;
    bool keepBadOptions_ = false;
    // The snapshot readers take; the mutex guards the pointer only.
    mutable vx::Mutex statusMutex_;
    std::shared_ptr<const StationStatus> status_ GUARDED_BY(statusMutex_);
    // The error count starts again with each broadcast; the total counts on.
    uint64_t errorsTotal_ = 0;
    uint32_t errorsSeen_ = 0;
    StationStatus::RecordingSource recordingSource_;
    // What construction found wrong, reported when start-up begins and someone listens.
    QStringList startupMessages_;
};
