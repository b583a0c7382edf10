// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"

#include <QString>

#include <cstdint>
#include <vector>

// A recording file opened for playing: the 129-byte format of the stored stream as it lay in memory,
// then the encoded stream, with no lengths or trailer.
// Thread contract: one thread at a time.
class RecordingReader {
public:
    // The largest chunk, one second of a 320 kbit/s stream: MP3 has no higher rate.
    static constexpr uint32_t kMaxChunk = 40000;

    // Opens the file read-only; throws EInOutError ("File not found", "File access denied", ...), and
    // for anything but a regular file (a FIFO nobody writes to would hold the window in open(), a
    // device would never end), naming it.
    explicit RecordingReader(const QString& path);
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    // The format at the file's start; leaves the position after it. "Read beyond end of file" for a
    // shorter file.
    TAudioFormat readFormat();
    // One second of the stored stream, as its format states it: the playback's chunk. Throws, naming
    // the file and the rate, for a rate that no playable stream has (0, or above kMaxChunk).
    int chunkSize(const TAudioFormat& format) const;
    // What the playback sends for the next second, into `chunk` (empty at the end of the file). MPEG
    // audio goes by its frames: the whole frames that sound for one second by their own headers, and a
    // cut frame at the file's end with the frames before it; the declared byte rate is only an average
    // (LAME's ABR falls well short of it), and sent by that rate a recording would play too fast. Other
    // formats, and bytes where no frame starts, go by chunkSize(). Seconds left short by a frame's
    // length are made up by the next ones, so a pass keeps time with the sound.
    void readSecond(const TAudioFormat& format, std::vector<char>& chunk);
    // Up to size bytes from the position; fewer only at the end of the file.
    int read(char* data, int size);
    // Bytes after the position.
    qint64 left() const;
    const QString& path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
    // Sound still owed to the current pass, in ticks of 1/14112000 s (every MPEG sample rate divides
    // that, so frame lengths add up exactly); readFormat() starts a pass afresh.
    int64_t owedTicks_ = 0;
};
