// SPDX-License-Identifier: GPL-3.0-or-later
// Broadcast start and stop (the block's road opens and closes in BlockRoad), and the remote control's port.
#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "net/TVXSocketData.h"
#include "platform/ErrorLine.h"
#include "platform/IoError.h"
#include "platform/Posting.h"
#include "platform/ScopeGuard.h"
#include "station/EConvertError.h"
#include "station/Station.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <stdexcept>

void Station::buildBroadcast() {
    road_->connectListeners(*ServerVandorixClient, WebServer.get(), env_.webBurstBytes);
    road_->mode = [this] { return mode_.load(); };
    road_->OnDestinationClosed = [this](StationEvent closed) { changeMode(closed); };
    road_->OnCaptureLost = [this](const std::exception& e) { AppException(e); };
    road_->upload = [this] { return settings_.upload; };
    connect(road_.get(), &BlockRoad::blockShown, this, &Station::blockShown);
    connect(road_.get(), &BlockRoad::refreshShown, this, &Station::refreshShown);
    connect(road_.get(), &BlockRoad::errorsShown, this, &Station::errorsShown);
    connect(road_.get(), &BlockRoad::lineLoadShown, this, &Station::lineLoadShown);
    connect(road_.get(), &BlockRoad::relaysChanged, this, &Station::relaysChanged);
    connect(road_.get(), &BlockRoad::deadAirChanged, this, &Station::deadAirChanged);
    connect(road_.get(), &BlockRoad::errorReport, this,
            [this](const QString& what, const QString& name, int failedStep) {
                emit errorReport(what, name, failedStep);
            });
    RecordFile = std::make_shared<QueuedFileWriter>();
    // A recording has no listener to keep waiting: it waits for its disk rather than lose blocks.
    RecordFile->setWaitWhenFull(true);
    // A disk fails on the file's own thread; the report names the step that handed the block over.
    RecordFile->OnFailure = [this](const std::string& message) {
        changeMode(StationEvent::RecordingClosed);
        road_->reportFromWorker(message, QStringLiteral("ThreadExecute"), 5);
        vx::postTo(this, [this] { Guarded([this] { endFailedRecording(); }); });
    };

    EndProcess = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    RemoteControl = std::make_unique<TServerSocket>();
    RemoteControl->Port = env_.remoteControlPort;
    RemoteControl->Name = "Remote control";
    RemoteControl->Address = env_.remoteControlAddress.toStdString();
    // Any local program may connect: half a command must not hold a descriptor for good, nor may a
    // flood of connections take every descriptor from the listeners.
    RemoteControl->RequestTimeoutMs = vx::kRemoteCommandTimeoutMs;
    RemoteControl->MaxConnections = vx::kRemoteMaxConnections;
    RemoteControl->MaxConnectionsPerPeer = vx::kRemoteMaxConnectionsPerPeer;
    RemoteControl->OnClientConnect = [this](TServerSocket*, const auto& socket) {
        Guarded([&] { RemoteControlClientConnect(socket); });
    };
    RemoteControl->OnClientRead = [this](TServerSocket*, const auto& socket) {
        Guarded([&] { RemoteControlClientRead(socket); });
    };
    RemoteControl->OnClientError = [this](TServerSocket*, const auto& socket, TErrorEvent, int& code) {
        RemoteControlClientError(socket, code);
    };
    // A port in use leaves the station without remote control rather than not at all. Nobody listens to
    // the station yet: the line goes out with start-up's messages, once.
    try {
        RemoteControl->SetActive(true);
    } catch (const ESocketError& e) {
        const std::string plain = e.plain();
        startupMessages_ << QString::fromStdString(plain.empty() ? e.what() : plain) +
                                QStringLiteral("; the station runs without remote control");
    }
    if (env_.remoteControlPort == 0 && RemoteControl->Active()) {
        // A port the system chose is of use only to whoever is told which it is.
        vx::writeErrorLine(
            QStringLiteral("The remote control listens on port %1 (--remote-port 0: a free one)")
                .arg(RemoteControl->LocalPort()));
    }
}

void Station::Start() {
    trace("ConnectrbtnClick");
    if (state() != StationState::Stopped) {
        return;  // one broadcast at a time; the start button is disabled meanwhile
    }
    const bool recordMode = mode_.load().recordArmed;
    if (!recordMode && settings_.radioName.isEmpty()) {
        step(25);
        emit message(Msg(28));
        return;
    }
    // What this start opened, newest last, so that a failure closes exactly that and the next start
    // finds every component as it was.
    OpenedSteps opened;
    opened.reserve(5);  // an undo that could not be recorded would leave its component open
    transition(recordMode ? StationEvent::RecordStarted : StationEvent::StartBegun);
    vx::ScopeGuard undo([&] {
        undoFailedStart(opened);
        transition(StationEvent::StartFailed);
    });
    if (recordMode) {
        checkStreamFormats();
        road_->openAudioPath(2, opened);
        step(6);
        step(7);
        StatsTimer->start();
    } else {
        startBroadcast(opened);
    }
    undo.dismiss();
    publishStatus();  // the record-mode start opened its audio path after its state changed
}

void Station::startBroadcast(OpenedSteps& opened) {
    const bool forPlayback = mode_.load().playback;
    if (!forPlayback) {
        checkStreamFormats();  // before anything opens
    }
    step(8);
    road_->resetErrorCount();  // the label keeps the last broadcast's count until this one's first error
    step(9);
    if (settings_.mp3Copy) {
        openMp3Copy(opened);
    }
    step(13);
    if (!forPlayback) {
        road_->openAudioPath(14, opened);
    }
    step(18);
    road_->startClock();
    step(19);
    ServerVandorixClient->Port = settings_.port;
    step(20);
    ServerVandorixClient->SetActive(true);
    opened.push_back([this] { ServerVandorixClient->SetActive(false); });
    step(21);
    const uint64_t stopsBefore = StopCount;
    DBTimerTimer();
    DebugStr = QStringLiteral("ConnectrbtnClick");
    if (StopCount != stopsBefore) {
        opened.clear();  // a stop ran while the report waited and has closed what this start opened
        return;
    }
    step(22);
    DBTimer->start();
    step(23);
    transition(StationEvent::StartDone);
    step(24);
    StatsTimer->start();
    RelayStart();
}

void Station::openMp3Copy(OpenedSteps& opened) {
    step(10);
    const QString path =
        ProgramDir() + QLatin1Char('/') + DateTimetoFilename(QDateTime::currentDateTime()) + ".mp3";
    DebugStr = QStringLiteral("ConnectrbtnClick");
    step(12);
    try {
        // A copy started in the same second gets a name of its own.
        road_->createMp3Copy(path);
    } catch (const EInOutError& e) {
        throw EInOutError(e.what(),
                          path.toStdString());  // the window shows the text, a console line the path
    }
    transition(StationEvent::CopyOpened);
    opened.push_back([this] {
        // Nothing was written to it yet: an empty copy would only be litter.
        transition(StationEvent::CopyClosed);
        road_->mp3File().discard();
    });
}

void Station::undoFailedStart(const OpenedSteps& opened) {
    // The report shows the step that failed; closing what was opened must not change it.
    const QString failedName = DebugStr.value();
    const int failedStep = DebugNum;
    for (auto close = opened.rbegin(); close != opened.rend(); ++close) {
        try {
            (*close)();
        } catch (...) {
            // Already failing: the first error is the one to report.
        }
    }
    DBTimer->stop();
    DebugStr = failedName;
    DebugNum = failedStep;
}

void Station::Stop() {
    trace("DisconnectrbtnClick");
    if (state() == StationState::Stopped || state() == StationState::Stopping) {
        return;
    }
    ++StopCount;
    transition(StationEvent::StopBegun);
    // However the stop ends, the station is stopped: each step below runs even when one before failed,
    // and the first failure is reported once, at the end.
    const vx::ScopeGuard stopped([this] { transition(StationEvent::StopDone); });
    std::exception_ptr failure;
    auto attempt = [&failure](auto&& close) {
        try {
            close();
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
        }
    };
    attempt([this] { DirectoryOffAir(); });  // steps 1-8; shows its messages while the broadcast still runs
    step(9);
    DBTimer->stop();
    step(10);
    attempt([this] { ServerVandorixClient->SetActive(false); });
    attempt([this] { closeWebListeners(); });
    step(11);
    const bool runEnded = road_->endRun();
    if (!runEnded && !failure) {
        failure = std::make_exception_ptr(std::runtime_error("The worker run did not end"));
    }
    DebugStr = QStringLiteral("DisconnectrbtnClick");  // the run wrote its own name meanwhile
    road_->closeListeners();  // the descriptors of the connections closed above go with it
    attempt([this] { road_->stopRelays(); });
    step(12);
    if (runEnded) {
        // Else the run still converts: the codec stream is left to it, and the next start closes it.
        attempt([this] { road_->closeCodec(); });
    }
    step(13);
    attempt([this] { road_->closeCapture(); });
    step(14);
    if (mode_.load().mp3Copy) {
        step(15);
        transition(StationEvent::CopyClosed);
    }
    // Also one that failed and waits to be closed. A disk stuck in the kernel does not hold the stop:
    // its writer is given up and closes the file when the kernel lets it go.
    if (!road_->finishMp3Copy() && !failure) {
        failure = std::make_exception_ptr(EInOutError("The disk did not finish writing \"" +
                                                      road_->mp3File().fileName().toStdString() +
                                                      "\"; the copy was left to it"));
    }
    step(16);
    clearListeners();
    emit lineLoadShown(-1, 0);
    StatsTimer->stop();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

QString Station::DateTimetoFilename(const QDateTime& DateTime) {
    trace("DateTimetoFilename");
    const QLocale locale;
    // The regional long time format without its time zone, which a file name does not need.
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(zone);
    QString text = locale.toString(DateTime.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                   locale.toString(DateTime.time(), timeFormat.trimmed());
    step(2);
    text.replace(QLatin1Char('.'), QLatin1Char('-'));
    step(3);
    text.replace(QLatin1Char(':'), QLatin1Char('-'));
    step(4);
    // A date written with "/" would otherwise turn the file name into a path.
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    step(5);
    return text;
}

void Station::checkStreamFormats() const {
    // The formats may come from "Optionen.ini" unchecked; capture and codec buffers are sized from them.
    // The message names the button that chooses another, in the language the window shows.
    const std::pair<const TAudioFormat&, const char*> formats[] = {{road_->codec().FormatIn, "input"},
                                                                   {road_->codec().FormatOut, "output"}};
    const QString buttons[] = {Msg(25), Msg(26)};
    for (std::size_t i = 0; i < std::size(formats); ++i) {
        const std::string problem = formats[i].first.problem();
        if (!problem.empty()) {
            throw EAudioFormat("The " + std::string(formats[i].second) + " format cannot be used: " +
                               problem + ". Choose one with \"" + buttons[i].toStdString() + "\".");
        }
    }
}
