// Recording the encoded stream to a file, and playing such a file out to the listeners in place of the
// live signal.
#include "app/EInOutError.h"
#include "app/TMainform.h"
#include "audio/RecordingReader.h"
#include "audio/TACMConvertor.h"
#include "net/TServerSocket.h"
#include "platform/ScopeGuard.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

const QString kApplicationTitle = QString::fromLatin1(vx::kStationTitle);
// The playback's trace name: the playback is the "PlayfromFile" button's handler.
constexpr char kPlaybackTrace[] = "Button3Click";
const QString kRecordingFilter = QStringLiteral("KTV Datei (*.ktv)");
// What closing a file that is not open reports.
const char* const kFileNotOpen = "I/O error 103";

constexpr qint64 kChunkMs = 1000;        // one chunk is one second of the stored stream
constexpr qint64 kMessageSliceMs = 100;  // the longest the window goes without handling its messages

}  // namespace

void TMainform::buildRecording() {
    connect(RecordtoFileBtn, &QPushButton::clicked, this,
            [this] { Guarded(RecordtoFileBtn, [this] { RecordtoFileBtnClick(RecordtoFileBtn); }); });
    connect(Button1, &QPushButton::clicked, this,
            [this] { Guarded(Button1, [this] { Button1Click(Button1); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { Guarded(Button2, [this] { Button2Click(Button2); }); });
    connect(Button3, &QPushButton::clicked, this,
            [this] { Guarded(Button3, [this] { Button3Click(Button3); }); });
    // A quit ends every event loop at once, the playback's waits too, and lets none run again: a
    // playback that waited on would spin.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        if (Playing) {
            playbackEnding_ = true;
        }
    });
}

void TMainform::RecordtoFileBtnClick(QObject* /*Sender*/) {
    trace("RecordtoFileBtnClick");
    step(1);
    const QString name = env_.dialogs->getSaveFileName(QStringLiteral("Speichern unter ..."),
                                                       kRecordingFilter, QStringLiteral(".ktv"));
    if (name.isEmpty()) {
        return;
    }
    RecordtoFile(name);
}

void TMainform::RecordtoFile(const QString& FileName) {
    trace("RecordtoFileBtnClick");
    step(2);
    RecordFileName = FileName;
    step(3);
    RecordMode = true;
    step(4);
    // A broadcast or an armed record mode already captures and encodes; a second start would only fail
    // on the open codec stream.
    if (!ServerVandorixClient->Active() && !ACMC->Active()) {
        ConnectrbtnClick(RecordtoFileBtn);
    }
}

void TMainform::Button1Click(QObject* /*Sender*/) {
    trace("Button1Click");
    step(1);
    if (RecordFileName.isEmpty()) {
        throw EInOutError("No recording file chosen: \"RecordtoFile\" chooses it before \"Start\"");
    }
    env_.dialogs->showMessage(kApplicationTitle, RecordFileName);
    step(2);
    // A "Start" during a recording makes the file afresh; no block may reach it before its header.
    Recording = false;
    step(4);
    RecordFile.create(RecordFileName);
    step(5);
    // A file without its whole header cannot be played.
    vx::ScopeGuard discard([this] { RecordFile.discard(); });
    const TAudioFormat format = ACMC->FormatOut;
    RecordFile.write(reinterpret_cast<const char*>(format.data()), TAudioFormat::kSize);
    discard.dismiss();
    Recording = true;
}

void TMainform::Button2Click(QObject* /*Sender*/) {
    trace("Button2Click");
    step(1);
    RecordMode = false;
    step(2);
    Recording = false;
    step(3);
    if (!RecordFile.isOpen()) {
        throw EInOutError(kFileNotOpen);
    }
    // Waits for a block the worker is writing, so the file ends with a whole block.
    RecordFile.close();
}

void TMainform::Button3Click(QObject* /*Sender*/) {
    trace("Button3Click");
    step(1);
    const QString name = env_.dialogs->getOpenFileName(QStringLiteral("Öffnen ..."), kRecordingFilter);
    if (name.isEmpty()) {
        return;
    }
    PlayfromFile(name);
}

bool TMainform::AfterPlayback(std::function<void()> action) {
    if (!Playing) {
        return false;
    }
    playbackEnding_ = true;
    afterPlayback_.push_back(std::move(action));
    return true;
}

void TMainform::PlayfromFile(const QString& FileName) {
    trace(kPlaybackTrace);
    if (Playing) {
        return;  // one playback at a time; its buttons are disabled meanwhile
    }
    step(5);
    RecordingReader file(FileName);
    // Whatever refuses the file does so before anything starts.
    TAudioFormat format;
    TAudioFormat decodeFormat;
    readPlaybackHeader(file, format, decodeFormat);
    if (file.left() == 0) {
        throw EInOutError("\"" + FileName.toStdString() + "\" holds no stream after its format");
    }

    step(2);
    PlaybackFormat = format;
    PlaybackDecodeFormat = decodeFormat;
    Playing = true;
    RecordtoFileBtn->setEnabled(false);
    Button3->setEnabled(false);
    // However the playback ends (its last pass, a stop, a failure, the window's end), the window is
    // left as after a playback before anything is reported, and what waited for the end runs then.
    const vx::ScopeGuard ended([this] {
        Playing = false;
        playbackEnding_ = false;
        RecordtoFileBtn->setEnabled(true);
        Button3->setEnabled(true);
        for (auto& action : std::exchange(afterPlayback_, {})) {
            QTimer::singleShot(0, this, std::move(action));
        }
    });

    step(6);
    // The start's callers make sure that no broadcast runs yet.
    if (!ServerVandorixClient->Active()) {
        ConnectrbtnClick(Button3);
        DebugStr = QString::fromLatin1(kPlaybackTrace);
    }

    step(7);
    playPasses(file);
    step(27);
}

int TMainform::readPlaybackHeader(RecordingReader& file, TAudioFormat& format, TAudioFormat& decodeFormat) {
    step(10);
    format = file.readFormat();
    step(11);
    ACMC->SuggestFormat(format, decodeFormat);
    step(12);
    return file.chunkSize(format);
}

void TMainform::playPasses(RecordingReader& file) {
    // Chunk n of a pass leaves n seconds after the pass began, by the clock: the time that reading and
    // sending take is made up, so listeners are not starved over a long playback.
    playbackClock_.start();
    qint64 dueMs = 0;
    bool last = false;
    while (!last && ServerVandorixClient->Active() && !playbackEnding_) {
        step(8);
        if (!Loop->isChecked()) {
            step(9);
            last = true;
        }
        const int chunk = readPlaybackHeader(file, PlaybackFormat, PlaybackDecodeFormat);
        const bool anyChunk = playPass(file, chunk, dueMs);
        // Unchecked while the pass ran: that pass was the last one.
        if (!Loop->isChecked()) {
            last = true;
        }
        if (!anyChunk && !last) {
            // The file lost its stream since the start: looping on it must not spin.
            dueMs = std::max(dueMs + kChunkMs, playbackClock_.elapsed());
            playbackWait(dueMs);
        }
        step(26);
    }
}

bool TMainform::playPass(RecordingReader& file, int chunk, qint64& dueMs) {
    std::vector<char> buffer(static_cast<std::size_t>(chunk));
    bool anyChunk = false;
    step(13);
    while (file.left() > 0 && ServerVandorixClient->Active() && !playbackEnding_) {
        step(14);
        Refreshedit->setText(QStringLiteral("1000"));
        step(15);
        // Late by more than a chunk (the window was held, by a modal dialog say): start the clock
        // afresh rather than send what was missed in one burst.
        dueMs = std::max(dueMs + kChunkMs, playbackClock_.elapsed() - kChunkMs);
        if (!playbackWait(dueMs)) {
            break;
        }
        step(16);
        // One second of sound; the last one of a pass takes the file's tail.
        file.readSecond(PlaybackFormat, buffer);
        const int n = int(buffer.size());
        if (n == 0) {
            break;
        }
        anyChunk = true;
        step(17);
        Bytesvandorixclient->setText(QString::number(n));
        step(18);
        if (ServerVandorixClient->ConnectionCount() == 0) {
            step(25);
            Auslastung->setValue(0);
            Bytesvandorixclient->setText(QStringLiteral("0"));
            continue;
        }
        step(19);
        showPlaybackLoad(n);
        step(20);
        SendToAudience(buffer.data(), n);
    }
    return anyChunk;
}

bool TMainform::playbackWait(qint64 dueMs) {
    // The handlers the wait dispatches trace too; the playback's name is back when it returns.
    const vx::ScopeGuard retrace([this] { DebugStr = QString::fromLatin1(kPlaybackTrace); });
    for (;;) {
        if (playbackEnding_ || !ServerVandorixClient->Active()) {
            return false;
        }
        const qint64 left = dueMs - playbackClock_.elapsed();
        if (left <= 0) {
            return true;
        }
        QEventLoop loop;
        QTimer::singleShot(int(std::min(left, kMessageSliceMs)), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        if (loop.exec() != 0) {
            playbackEnding_ = true;  // the application is quitting
        }
    }
}

void TMainform::showPlaybackLoad(int chunkBytes) {
    bool ok = false;
    const int upload = Upload->text().toInt(&ok, 10);
    if (!ok) {
        throw EConvertError("'" + Upload->text().toStdString() + "' is not a valid integer value");
    }
    const qint64 maximum = std::clamp<qint64>(qint64(upload) * 128, 0, INT_MAX);
    if (maximum == 0) {
        // No capacity at all: the bar shows full, as for a live block.
        Auslastung->setRange(0, 1);
        Auslastung->setValue(1);
        return;
    }
    Auslastung->setRange(0, int(maximum));
    Auslastung->setValue(int(std::min<qint64>(qint64(GetUseranzahl()) * chunkBytes, maximum)));
}
