#pragma once

#include "platform/TAudioFormat.h"

#include <QString>

// A recording file opened for playing: the 129-byte format of the stored stream as it lay in memory,
// then the encoded stream, with no lengths or trailer.
// Thread contract: one thread at a time.
class RecordingReader {
public:
    // The largest chunk, one second of a 320 kbit/s stream: MP3 has no higher rate.
    static constexpr uint32_t kMaxChunk = 40000;

    // Opens the file read-only; throws EInOutError ("File not found", "File access denied", ...).
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
    // Up to size bytes from the position; fewer only at the end of the file.
    int read(char* data, int size);
    // Bytes after the position.
    qint64 left() const;
    const QString& path() const { return path_; }

private:
    QString path_;
    int fd_ = -1;
};
