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

namespace {

// How long the copy's writer may take to write what waited and close the file after the stop before the
// disk counts as stuck.
constexpr int kCopyCloseReportMs = 5000;

}  // namespace

void Station::buildBroadcast() {
    road_->connectListeners(*ServerVandorixClient, webServer(), env_.webBurstBytes);
    road_->mode = [this] { return mode_.load(); };
    road_->OnDestinationClosed = [this](StationEvent closed) { changeMode(closed); };
    road_->OnCaptureLost = [this](const std::exception& e) { AppException(e); };
    road_->upload = [this] { return settings_.upload; };
    // The copy's writer makes the file; one that cannot be made is reported with the start's step that
    // asked for it, and the broadcast goes on without it, as after a later failure of its disk.
    road_->OnMp3CopyOpened = [this](const QString& created, const std::string& error) {
        if (error.empty()) {
            publishStatus();
            return;
        }
        transition(StationEvent::CopyClosed);
        road_->mp3File().close();
        trace("ConnectrbtnClick");
        step(12);
        // The window shows the text, a console line the path.
        AppException(EInOutError(error, created.toStdString()));
    };
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

    EndProcess = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    buildRemoteControl();
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
    directory_->DBTimerTimer();
    DebugStr = QStringLiteral("ConnectrbtnClick");
    if (StopCount != stopsBefore) {
        opened.clear();  // a stop ran while the report waited and has closed what this start opened
        return;
    }
    step(22);
    directory_->startReports();
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
    // A copy started in the same second gets a name of its own; the writer tells which.
    road_->createMp3Copy(path);
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
    directory_->stopReports();
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
    // Steps 1-8; the messages show while the broadcast still runs.
    attempt([this] { directory_->DirectoryOffAir(); });
    step(9);
    directory_->stopReports();
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
    // Also one that failed and waits to be closed. The stop does not wait for the disk: the writer
    // writes what waits and closes the file; a disk that has not let it by then is reported once.
    const QString copyName = road_->mp3FileName();
    QTimer::singleShot(kCopyCloseReportMs, this, [this, closed = road_->mp3File().finishLater(), copyName] {
        if (!closed->load()) {
            emit errorReport(QStringLiteral("The disk did not finish writing \"%1\"; the copy was left to it")
                                 .arg(copyName),
                             QStringLiteral("DisconnectrbtnClick"), 15);
        }
    });
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
