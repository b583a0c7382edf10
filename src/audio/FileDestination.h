// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/BlockDestination.h"
#include "platform/ThreadSafety.h"

#include <QString>

#include <sys/types.h>

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
    // Creates a file that did not exist: at `path`, or when that is taken at "NAME (2).EXT", "NAME
    // (3).EXT", ...; an existing file is never opened. Returns the path created. Throws EInOutError as
    // create() does, naming no path.
    QString createNew(const QString& path);
    // Appends size bytes; throws EInOutError when the file does not take them all, and cuts the file
    // back to the blocks before, so that it ends with a whole block however it ends. Nothing happens
    // while the file is closed.
    void write(const char* data, int size) override;
    void close() override;
    // Closes the file and deletes it when it is a regular file that holds no byte.
    void closeRemovingIfEmpty();
    // Closes the file and deletes it: what a start that failed after creating it leaves behind.
    void discard();
    bool isOpen() const;
    QString fileName() const;

private:
    mutable vx::Mutex mutex_;
    int fd_ GUARDED_BY(mutex_) = -1;
    QString path_ GUARDED_BY(mutex_);
    off_t whole_ GUARDED_BY(mutex_) = 0;  // the file's length up to the end of its last whole block
};
