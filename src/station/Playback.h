// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class RecordingReader;

// The playback: a recording played out to the listeners in place of the live signal, one second of its
// stream each second, pass after pass while the loop is on. Its waits run the event loop, so the station
// answers meanwhile; whatever must wait for the playback's end is queued with endThen().
// Thread contract: the owner's thread (Qt's main thread).
class Playback {
public:
    struct Hooks {
        // The listener port is open: the playback may go on.
        std::function<bool()> onAir;
        // "Loop" is checked: the pass being played is not the last.
        std::function<bool()> loop;
        // The trace's step, and the playback's name back in the trace after a wait's handlers.
        std::function<void(int)> step;
        std::function<void()> retrace;
        // The format the codec decodes `format` to, as the listener programs are told it.
        std::function<void(const TAudioFormat& format, TAudioFormat& decodeFormat)> suggest;
        // A chunk of one second is due (step 14).
        std::function<void()> second;
        // A chunk read: to the displays and the audience (steps 17 to 25).
        std::function<void(const char* chunk, int size)> chunk;
    };

    explicit Playback(Hooks hooks);

    // Reads the file's format and the one it decodes to (steps 10 to 12); throws for a file that cannot
    // be played. Returns the chunk's size.
    int readHeader(RecordingReader& file, TAudioFormat& format, TAudioFormat& decodeFormat);
    // The file about to play and its formats; nothing sent yet.
    void begin(const QString& fileName, const TAudioFormat& format, const TAudioFormat& decodeFormat);
    // Plays the passes (steps 8 to 26); returns when the last has ended, the broadcast has stopped or
    // someone asked it to end.
    void play(RecordingReader& file);
    // Asks the playback to end and queues `action` for the moment it has.
    void endThen(std::function<void()> action);
    // Asks the playback to end (the application is quitting).
    void requestEnd() { ending_ = true; }
    // The playback has ended: the actions that waited for it, to be run now.
    std::vector<std::function<void()>> ended();

    const QString& fileName() const { return fileName_; }
    int64_t bytes() const { return bytes_; }
    // The stored stream's format and the one it decodes to: what listeners are told during a playback.
    const TAudioFormat& format() const { return format_; }
    const TAudioFormat& decodeFormat() const { return decodeFormat_; }

private:
    bool pass(RecordingReader& file, int chunk, qint64& dueMs);
    bool wait(qint64 dueMs);

    Hooks hooks_;
    QString fileName_;
    int64_t bytes_ = 0;
    TAudioFormat format_;
    TAudioFormat decodeFormat_;
    // Set when something dispatched by the playback's waits needs it to end; the actions run after it.
    bool ending_ = false;
    std::vector<std::function<void()>> after_;
    QElapsedTimer clock_;
};
