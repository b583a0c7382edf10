// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/BlockDestination.h"
#include "platform/ThreadSafety.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A file that blocks are appended to on a thread of its own: the MP3 copy and the recording. A disk that
// stalls (a network folder, a USB stick) holds up this thread only; the block's road only queues.
// The queue is bounded: when it is full, a copy ends with an error (write throws) while a recording,
// which has no listener to keep waiting, waits for its disk (setWaitWhenFull).
// A write stuck in the kernel never holds the owner for good: finish() gives such a writer up after its
// deadline and leaves it the file, which it closes whenever the kernel lets it go.
// Thread contract: write() on the thread that carries the block; fileName(), bytesWritten(), isOpen()
// and releaseWaiting() on any thread; the rest on the owner's thread. OnFailure runs on the writer's
// thread, once per file, when the disk refuses a block; it is set before create().
class QueuedFileWriter : public BlockDestination {
public:
    ~QueuedFileWriter() override;

    void setWaitWhenFull(bool wait) { waitWhenFull_ = wait; }
    // finish() removes a file (a regular one) that received no byte: a copy of a broadcast shorter than a
    // block would only be litter.
    void setRemoveIfEmpty(bool remove) { removeIfEmpty_ = remove; }
    std::function<void(const std::string& message)> OnFailure;

    // Ends the previous file (as finish() does), then creates this one; throws EInOutError.
    void create(const QString& path, int64_t maxQueuedBytes);
    // The same for a file that must not exist yet: at `path` or a numbered name beside it
    // (FileDestination::createNew); returns the path created.
    QString createNew(const QString& path, int64_t maxQueuedBytes);
    // Writes at once, ahead of anything queued (the recording's header); throws EInOutError.
    void writeNow(const char* data, int size);
    // Queues one block. Throws EInOutError when the queue is full and this file does not wait.
    void write(const char* data, int size) override;
    // Gives the file up after a failure: what waits is dropped and the writer ends after the block it
    // is writing. Does not wait for the disk.
    void close() override;
    // A write() waiting for room returns at once, and later ones drop their block while the queue is
    // full, until the next file: the stop must not wait for a disk that does not move.
    void releaseWaiting();
    // Writes what is queued, waiting at most drainMs for the disk, then closes the file; what the disk
    // did not take by then is dropped. Whole blocks only: a block under way is finished, or, when even
    // that does not end within drainMs, the writer is given up (false) and closes the file itself later.
    bool finish(int drainMs = 5000);
    // Gives up and deletes the file: what a start that failed after creating it leaves behind.
    void discard();
    // Open and taking blocks: not after a failure or once it is being closed.
    bool isOpen() const;
    // Never waits for the disk: the name is kept beside the queue, not under the file's lock.
    QString fileName() const;
    int64_t bytesWritten() const;

private:
    struct Job;
    static void run(const std::shared_ptr<Job>& job);
    std::shared_ptr<Job> job() const;
    void start(std::shared_ptr<Job> job, const QString& path);
    bool stopThread(int waitMs);

    bool waitWhenFull_ = false;
    bool removeIfEmpty_ = false;
    // The current file and its queue, shared with its writer's thread so that a writer stuck in the
    // kernel can be left behind without anything freed under it.
    mutable vx::Mutex jobMutex_;
    std::shared_ptr<Job> job_ GUARDED_BY(jobMutex_);  // replaced on the owner's thread only
    std::thread thread_;                              // owner's thread only
};
