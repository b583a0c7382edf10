// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/BlockDestination.h"
#include "platform/ThreadSafety.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A file that blocks are appended to on a thread of its own: the MP3 copy and the recording. Every call
// that touches the disk (the open, the header, each block, the close) runs on that thread: a disk that
// stalls (a network folder, a USB stick) holds up this thread only; the owner and the block's road only
// queue.
// The queue is bounded: when it is full, a copy ends with an error (write throws) while a recording,
// which has no listener to keep waiting, waits for its disk (setWaitWhenFull).
// A write stuck in the kernel never holds the owner for good: finish() gives such a writer up after its
// deadline and leaves it the file, which it closes whenever the kernel lets it go; finishLater() does not
// wait at all.
// Thread contract: write() on the thread that carries the block; fileName(), bytesWritten(), isOpen(),
// and releaseWaiting() on any thread; the rest on the owner's thread. OnOpened and OnFailure run on
// the writer's thread, once per file each at most, never after the writer's destruction has begun; they
// are set before create().
class QueuedFileWriter : public BlockDestination {
public:
    QueuedFileWriter();
    ~QueuedFileWriter() override;

    void setWaitWhenFull(bool wait) { waitWhenFull_ = wait; }
    // A file that received no byte is removed when it is closed (a regular one): a copy of a broadcast
    // shorter than a block would only be litter.
    void setRemoveIfEmpty(bool remove) { removeIfEmpty_ = remove; }
    // The file has been made and holds its header: `created` is its path (error empty); or it could not
    // be made (`headerFailed` false) or take its header (true), `error` says why and `created` is the
    // path asked for.
    struct Opened {
        uint64_t serial = 0;  // which create() this answers (see serial())
        QString created;
        std::string error;
        bool headerFailed = false;
    };
    std::function<void(const Opened& opened)> OnOpened;
    // The disk refused a block.
    std::function<void(const std::string& message)> OnFailure;

    // OnOpened and OnFailure are called no more, from now on: their receiver goes while a writer of
    // this object may still run (one shares it, or a file was left to its writer).
    void silence();
    // Ends the previous file (as finishLater() does), then makes this one on the writer's thread: created
    // or emptied, `header` written ahead of every block. Returns at once; OnOpened tells the outcome.
    // Blocks written meanwhile wait in the queue behind the header.
    void create(const QString& path, int64_t maxQueuedBytes, const QByteArray& header = {});
    // The same for a file that must not exist yet: at `path` or a numbered name beside it
    // (FileDestination::createNew); OnOpened names the path created.
    void createNew(const QString& path, int64_t maxQueuedBytes);
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
    // Leaves the file to its writer, which writes what is queued and closes it, at the disk's pace;
    // returns at once. The flag turns true once the file is closed.
    std::shared_ptr<const std::atomic<bool>> finishLater();
    // Gives up and deletes the file, on the writer's thread: what a start that failed after creating it
    // leaves behind. Returns at once.
    void discard();
    // Open (or being opened) and taking blocks: not after a failure or once it is being closed.
    bool isOpen() const;
    // The create() the current file comes from, counted from 1. Owner's thread.
    uint64_t serial() const { return serial_; }
    // A writer thread of this object, the current file's or one it left a file to, has not ended yet.
    bool busy() const;
    // Every file asked for has been opened (or failed to), and every file left to its writer closed.
    bool settled() const;
    // Never waits for the disk: the name is kept beside the queue, not under the file's lock.
    QString fileName() const;
    int64_t bytesWritten() const;

private:
    struct Job;
    struct Hooks;
    static void run(const std::shared_ptr<Job>& job);
    std::shared_ptr<Job> job() const;
    void start(std::shared_ptr<Job> job);
    bool stopThread(int waitMs);
    // The current job goes to its writer to end: it closes the file itself (removing it when `discard`).
    std::shared_ptr<Job> leaveToWriter(bool discard);

    uint64_t serial_ = 0;
    bool waitWhenFull_ = false;
    bool removeIfEmpty_ = false;
    // OnOpened and OnFailure as the writers' threads call them, silenced when this object goes.
    std::shared_ptr<Hooks> hooks_;
    // The current file and its queue, shared with its writer's thread so that a writer stuck in the
    // kernel can be left behind without anything freed under it.
    mutable vx::Mutex jobMutex_;
    std::shared_ptr<Job> job_ GUARDED_BY(jobMutex_);  // replaced on the owner's thread only
    std::thread thread_;                              // owner's thread only
    // Files left to their writers, until those have ended. Owner's thread only.
    std::vector<std::shared_ptr<Job>> leftBehind_;
};
