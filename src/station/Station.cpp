// SPDX-License-Identifier: GPL-3.0-or-later
// The station's construction, its settings files, its state and its reports.
#include "station/Station.h"

#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "platform/IoError.h"
#include "platform/ScopeGuard.h"
#include "platform/wavein/WaveIn.h"
#include "settings/SettingsStore.h"
#include "station/EConvertError.h"
#include "station/Playback.h"
#include "station/Recorder.h"
#include "station/RelayBoard.h"
#include "web/WebPort.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>

namespace {

// How long the close waits for "Optionen.ini" to be written before it gives the disk up.
constexpr int kSettingsSaveWaitMs = 2000;

const char* const kKeptAsBad =
    ". \"Optionen.ini\" is kept as \"Optionen.ini.bad\" when the settings are saved.";

int32_t parseDecimal(const QString& text) {
    bool ok = false;
    const int32_t value = text.toInt(&ok, 10);
    if (!ok) {
        throw EConvertError("'" + text.toStdString() + "' is not a valid integer value");
    }
    return value;
}

void loadFormat(TACMConvertor& acm, void (TACMConvertor::*read)(QIODevice&), const TAudioFormat& stored) {
    QByteArray data = formatPropertyData(stored);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    (acm.*read)(buffer);
}

}  // namespace

Station::Station(const StationEnvironment& env, QObject* parent)
    : QObject(parent), env_(env), stateSince_(QDateTime::currentDateTimeUtc()) {
    ConnectionTest = new QTimer(this);
    ConnectionTest->setInterval(1000);
    StatsTimer = new QTimer(this);
    StatsTimer->setInterval(60000);
    buildAudio();
    buildListenerService();
    buildWebPort();
    buildDirectory();
    buildBroadcast();
    buildRelays();
    buildRecording();
    ConnectionTest->start();
    connect(this, &Station::errorsShown, this, [this](uint32_t count) {
        if (count > errorsSeen_) {
            errorsTotal_ += count - errorsSeen_;
        }
        errorsSeen_ = count;
    });
    // Whatever the station shows changes with one of these; the connection test ticks every second,
    // which keeps the counters of files and sends fresh in between.
    const auto publish = [this] { publishStatus(); };
    connect(this, &Station::stateChanged, this, publish);
    connect(this, &Station::listenersChanged, this, publish);
    connect(this, &Station::listenersChecked, this, publish);
    connect(this, &Station::relaysChanged, this, publish);
    connect(this, &Station::deadAirChanged, this, publish);
    connect(this, &Station::errorsShown, this, publish);
    connect(this, &Station::blockShown, this, publish);
    connect(this, &Station::refreshShown, this, publish);
    connect(this, &Station::lineLoadShown, this, publish);
    connect(this, &Station::limitChanged, this, publish);
    connect(this, &Station::statsSample, this, publish);
    connect(this, &Station::settingsLoaded, this, publish);
    publishStatus();
    // A quit ends every event loop at once, the playback's waits too, and lets none run again: a
    // playback that waited on would spin.
    if (QCoreApplication* app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, [this] {
            if (mode_.load().playback) {
                Player->requestEnd();
            }
        });
    }
}

Station::~Station() {
    // The road waits for its run and lets its listeners go while the ports they are on still exist.
    road_.reset();
}

void Station::buildAudio() {
    road_ = std::make_unique<BlockRoad>(env_.acm, env_.waveIn, DebugStr, DebugNum);
    // The formats stored with the station replace the component's built-in ones.
    loadFormat(road_->codec(), &TACMConvertor::ReadACMFormatIn, defaultInputFormat());
    loadFormat(road_->codec(), &TACMConvertor::ReadACMFormatOut, defaultOutputFormat());
    AudioMixer = std::make_unique<TAudioMixer>(env_.mixer);
    AudioMixer->SetMixerID(0);
}

// --- Language, trace and reports -----------------------------------------------------------------------

void Station::trace(const char* name) {
    DebugStr = QString::fromLatin1(name);
    DebugNum = 1;
}

QString Station::Msg(int n) const {
    return LanguageMessage(Languagelist, n);
}

QString Station::ReplaceStr(const QString& Search, const QString& Replace, const QString& Source) {
    trace("ReplaceStr");
    step(2);
    const qsizetype p = Source.indexOf(Search);
    if (p < 0) {
        return Source;  // a text without its placeholder stays as it is
    }
    step(3);
    return Source.left(p) + Replace + Source.mid(p + Search.size());
}

QString Station::reportText(const QString& what, const QString& debugStr, int debugNum) {
    return what + QStringLiteral("\n\r\n\r") + QStringLiteral("DebugStr: ") + debugStr +
           QStringLiteral("\n\r") + QStringLiteral("DebugNum: ") + QString::number(debugNum);
}

void Station::AppException(const std::exception& E) {
    const auto* io = dynamic_cast<const EInOutError*>(&E);
    QString plain;
    if (const auto* socket = dynamic_cast<const ESocketError*>(&E)) {
        plain = QString::fromStdString(socket->plain());
    } else if (dynamic_cast<const EACMIn*>(&E) != nullptr && env_.waveIn) {
        // The capture layer's text is the original program's ("WaveIn-Open Unsupported audio format.");
        // the admin's line names the device and, where the system gave one, its reason.
        const QString reason = env_.waveIn->openFailure();
        plain = QStringLiteral("Capture device %1: %2")
                    .arg(env_.waveIn->deviceName(), reason.isEmpty() ? QString::fromUtf8(E.what()) : reason);
    }
    emit errorReport(QString::fromUtf8(E.what()), DebugStr.value(), DebugNum.load(),
                     io ? QString::fromStdString(io->file()) : QString(), plain);
}

// --- State ----------------------------------------------------------------------------------------------

bool Station::changeMode(StationEvent event) {
    StationMode mode = mode_.load();
    for (;;) {
        const std::optional<StationMode> next = nextState(mode, event);
        if (!next || *next == mode) {
            return false;
        }
        if (mode_.compare_exchange_weak(mode, *next)) {
            return true;
        }
    }
}

void Station::transition(StationEvent event) {
    const StationState before = state();
    if (!changeMode(event)) {
        return;
    }
    const StationState after = state();
    if (after == before) {
        publishStatus();
        return;
    }
    stateSince_ = QDateTime::currentDateTimeUtc();
    emit stateChanged(after);
}

ListenerSnapshot Station::listeners() const {
    vx::MutexLock lock(listenersMutex_);
    return listeners_;
}

void Station::setSilenceRule(double thresholdDb, double afterSeconds) {
    road_->setSilenceRule(thresholdDb, afterSeconds);
    publishStatus();
}

bool Station::chooseFormatIn() {
    const TAudioFormat before = road_->codec().FormatIn;
    step(2);
    road_->codec().ChooseFormatIn(true);
    step(3);
    publishStatus();
    return road_->codec().FormatIn.avgBytesPerSec() != before.avgBytesPerSec();
}

bool Station::chooseFormatOut() {
    const TAudioFormat before = road_->codec().FormatOut;
    step(2);
    road_->codec().ChooseFormatOut(true);
    step(3);
    publishStatus();
    return road_->codec().FormatOut.avgBytesPerSec() != before.avgBytesPerSec();
}

// --- Start-up and the end -------------------------------------------------------------------------------

void Station::initLanguage() {
    for (const QString& text : std::exchange(startupMessages_, {})) {
        emit message(text);
    }
    trace("FormCreate");
    step(18);
    language_.InitLanguage(env_.language);
    step(19);
    Languagelist = language_.GetLanguagelist();
}

bool Station::loadSettings() {
    step(17);
    settings_.offline = env_.arguments.size() > 1 && env_.arguments.at(1) == QStringLiteral("/WO");
    settings_.infoText = Msg(10);
    step(21);
    MaxUser = 3;
    if (!loadServerFile()) {
        step(29);
        emit message(Msg(31));
        step(30);
        return false;
    }
    // The command line and the configuration file outrank "Optionen.ini", also one that cannot be read.
    vx::ScopeGuard applyOverride([this] { applySettingsOverride(); });
    loadOptionsFile();
    step(38);
    emit limitChanged(MaxUser);
    return true;
}

bool Station::loadServerFile() {
    step(22);
    const SettingsStore store(ProgramDir());
    const vx::Result<QString> server = store.loadServerUrl();
    if (server.failedWith(vx::Error::Kind::NotFound)) {
        return false;
    }
    // The store has opened, read and closed the file in one go; the steps name the operation that failed.
    step(23);
    step(24);
    step(25);
    throwIfUnreadable(server, [this] { step(26); });
    step(27);
    settings_.directoryUrl = *server;
    emit settingsLoaded();
    step(28);
    return true;
}

void Station::loadOptionsFile() {
    step(31);
    const SettingsStore store(ProgramDir());
    const vx::Result<TOptionsRecord> options = store.loadOptions();
    if (options.failedWith(vx::Error::Kind::NotFound)) {
        return;
    }
    // An unreadable file may hold settings worth rescuing: the close must not write over it.
    step(32);
    step(33);
    step(34);
    try {
        throwIfUnreadable(
            options, [this] { step(35); }, ShortFile::Fails, kKeptAsBad);
    } catch (const EInOutError&) {
        keepBadOptions_ = true;
        throw;
    }
    step(36);
    step(37);
    applyOptions(*options);
}

void Station::applyOptions(const TOptionsRecord& record) {
    settings_.port = std::clamp<int32_t>(record.Port, 1024, 65535);
    settings_.radioName = record.Radioname;
    settings_.extRadioName = record.ExtRadioname;
    settings_.email = record.EMail;
    settings_.password = record.Passwort;
    settings_.passwordConfirm = record.Passwort;
    road_->codec().FormatIn = record.FormatIn;
    road_->codec().FormatOut = record.FormatOut;
    settings_.upload = QString::number(record.Upload);
    const int32_t kbits = int32_t(road_->codec().FormatOut.avgBytesPerSec() / 125);
    MaxUser = kbits == 0 ? 0 : record.Upload / kbits;
    settings_.limitListeners = record.Beschr;
    emit settingsLoaded();
}

void Station::applySettingsOverride() {
    if (!env_.settingsOverride) {
        return;
    }
    env_.settingsOverride(settings_);
    bool ok = false;
    const int upload = settings_.upload.toInt(&ok, 10);
    const int kbits = int(road_->codec().FormatOut.avgBytesPerSec() / 125);
    MaxUser = (!ok || kbits == 0) ? 0 : upload / kbits;
    emit settingsLoaded();
    emit limitChanged(MaxUser);
}

void Station::saveSettingsAndStop() {
    trace("FormClose");
    TOptionsRecord record;
    record.Port = settings_.port;
    record.Radioname = settings_.radioName;
    record.ExtRadioname = settings_.extRadioName;
    record.EMail = settings_.email;
    record.Passwort = settings_.password;
    record.FormatIn = road_->codec().FormatIn;
    record.FormatOut = road_->codec().FormatOut;
    record.Upload = parseDecimal(settings_.upload);
    record.Beschr = settings_.limitListeners;

    step(2);
    const SettingsStore store(ProgramDir());
    // On a thread of its own: a disk that does not answer holds the close for kSettingsSaveWaitMs at
    // most, and the write stays whole or not at all.
    auto setAside = std::make_shared<std::atomic<bool>>(false);
    const bool keepBad = keepBadOptions_;
    const vx::ScopeGuard asideDone([this, setAside] {
        if (*setAside) {
            keepBadOptions_ = false;
        }
    });
    writeWithin(
        [store, record, keepBad, setAside](const SettingsWriteTrace& stage) {
            if (keepBad) {
                store.setOptionsAside();
                *setAside = true;
            }
            store.saveOptions(record, stage);
        },
        kSettingsSaveWaitMs, store.path(SettingsStore::kOptionsFile),
        [this](SettingsWriteStage stage) {
            switch (stage) {
                case SettingsWriteStage::Create:
                    step(3);
                    break;
                case SettingsWriteStage::Write:
                    step(4);
                    break;
                case SettingsWriteStage::Close:
                    step(5);
                    break;
            }
        });
    step(6);
    if (broadcasting()) {
        step(7);
        Stop();
    }
    step(8);
}

bool Station::startUp(const std::function<void()>& showTexts) {
    initLanguage();
    restoreRecordingSource();
    step(20);
    if (showTexts) {
        showTexts();
    }
    return loadSettings();
}

void Station::close() {
    saveSettingsAndStop();
    releaseLanguage();
}

void Station::closeUnsaved() {
    if (broadcasting()) {
        Guarded([this] { Stop(); });
    }
    releaseLanguage();
}

void Station::releaseLanguage() {
    language_.DeinitLanguagelist();
    Languagelist = nullptr;
}
