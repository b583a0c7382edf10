// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/Playback.h"

#include "audio/RecordingReader.h"
#include "platform/ScopeGuard.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

constexpr qint64 kChunkMs = 1000;        // one chunk is one second of the stored stream
constexpr qint64 kMessageSliceMs = 100;  // the longest the station goes without handling its events

}  // namespace

Playback::Playback(Hooks hooks) : hooks_(std::move(hooks)) {}

int Playback::readHeader(RecordingReader& file, TAudioFormat& format, TAudioFormat& decodeFormat) {
    hooks_.step(10);
    format = file.readFormat();
    hooks_.step(11);
    hooks_.suggest(format, decodeFormat);
    hooks_.step(12);
    return file.chunkSize(format);
}

void Playback::begin(const QString& fileName, const TAudioFormat& format, const TAudioFormat& decodeFormat) {
    format_ = format;
    decodeFormat_ = decodeFormat;
    fileName_ = fileName;
    bytes_ = 0;
}

void Playback::endThen(std::function<void()> action) {
    ending_ = true;
    after_.push_back(std::move(action));
}

std::vector<std::function<void()>> Playback::ended() {
    ending_ = false;
    return std::exchange(after_, {});
}

void Playback::play(RecordingReader& file) {
    // Chunk n of a pass leaves n seconds after the pass began, by the clock: the time that reading and
    // sending take is made up, so listeners are not starved over a long playback.
    clock_.start();
    qint64 dueMs = 0;
    bool last = false;
    while (!last && hooks_.onAir() && !ending_) {
        hooks_.step(8);
        if (!hooks_.loop()) {
            hooks_.step(9);
            last = true;
        }
        const int chunk = readHeader(file, format_, decodeFormat_);
        const bool anyChunk = pass(file, chunk, dueMs);
        // Unchecked while the pass ran: that pass was the last one.
        if (!hooks_.loop()) {
            last = true;
        }
        if (!anyChunk && !last) {
            // The file lost its stream since the start: looping on it must not spin.
            dueMs = std::max(dueMs + kChunkMs, clock_.elapsed());
            wait(dueMs);
        }
        hooks_.step(26);
    }
}

bool Playback::pass(RecordingReader& file, int chunk, qint64& dueMs) {
    std::vector<char> buffer(static_cast<std::size_t>(chunk));
    bool anyChunk = false;
    hooks_.step(13);
    while (file.left() > 0 && hooks_.onAir() && !ending_) {
        hooks_.step(14);
        hooks_.second();
        hooks_.step(15);
        // Late by more than a chunk (the station was held, by a modal dialog say): start the clock
        // afresh rather than send what was missed in one burst.
        dueMs = std::max(dueMs + kChunkMs, clock_.elapsed() - kChunkMs);
        if (!wait(dueMs)) {
            break;
        }
        hooks_.step(16);
        // One second of sound; the last one of a pass takes the file's tail.
        file.readSecond(format_, buffer);
        const int n = int(buffer.size());
        if (n == 0) {
            break;
        }
        anyChunk = true;
        bytes_ += n;
        hooks_.chunk(buffer.data(), n);
    }
    return anyChunk;
}

bool Playback::wait(qint64 dueMs) {
    // The handlers the wait dispatches trace too; the playback's name is back when it returns.
    const vx::ScopeGuard retrace([this] { hooks_.retrace(); });
    for (;;) {
        if (ending_ || !hooks_.onAir()) {
            return false;
        }
        const qint64 left = dueMs - clock_.elapsed();
        if (left <= 0) {
            return true;
        }
        QEventLoop loop;
        QTimer::singleShot(int(std::min(left, kMessageSliceMs)), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        if (loop.exec() != 0) {
            ending_ = true;  // the application is quitting
        }
    }
}
