#pragma once

#include "audio/BlockDestination.h"

#include <QString>

#include <mutex>

// A file that blocks are appended to: the MP3 copy of a broadcast, the recording file. Every write goes
// straight to the file, so a full disk shows at the block that met it.
// Thread contract: any thread; one lock orders writes, the close and the removal, so a close never cuts a
// block in half.
class FileDestination : public BlockDestination {
public:
    ~FileDestination() override;

    // Creates the file, or empties an existing one. Throws EInOutError ("Disk full", "File access
    // denied", ...) when it cannot.
    void create(const QString& path);
    // Appends size bytes; throws EInOutError when the file does not take them all. Nothing happens while
    // the file is closed.
    void write(const char* data, int size) override;
    void close() override;
    // Closes the file and deletes it: what a start that failed after creating it leaves behind.
    void discard();
    bool isOpen() const;
    QString fileName() const;

private:
    mutable std::mutex mutex_;
    int fd_ = -1;
    QString path_;
};
