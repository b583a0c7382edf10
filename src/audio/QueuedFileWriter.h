#pragma once

#include "audio/BlockDestination.h"
#include "audio/FileDestination.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A file that blocks are appended to on a thread of its own: the MP3 copy and the recording. A disk that
// stalls (a network folder, a USB stick) holds up this thread only; the block's road only queues.
// The queue is bounded: when it is full, a copy ends with an error (write throws) while a recording,
// which has no listener to keep waiting, waits for its disk (setWaitWhenFull).
// Thread contract: write() on the thread that carries the block; the rest on the owner's thread.
// OnFailure runs on the writer's thread, once per file, when the disk refuses a block.
class QueuedFileWriter : public BlockDestination {
public:
    ~QueuedFileWriter() override;

    void setWaitWhenFull(bool wait) { waitWhenFull_ = wait; }
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
    // Writes what is queued, waiting at most drainMs for the disk, then closes the file; what the disk
    // did not take by then is dropped. Whole blocks only: a block under way is finished.
    void finish(int drainMs = 5000);
    // Gives up and deletes the file: what a start that failed after creating it leaves behind.
    void discard();
    // Open and taking blocks: not after a failure or once it is being closed.
    bool isOpen() const;
    QString fileName() const { return file_.fileName(); }  // waits for a write under way
    int64_t bytesWritten() const { return written_.load(std::memory_order_relaxed); }

private:
    void run();
    void startThread(int64_t maxQueuedBytes, const QString& path);
    void stopThread();
    void dropQueued();  // with mutex_ held

    FileDestination file_;
    // The file's name for the worker's error text: asking file_ would wait for a stalled write.
    QString path_;  // guarded by mutex_
    bool waitWhenFull_ = false;
    mutable std::mutex mutex_;
    std::condition_variable changed_;  // queued, written, stopping
    std::deque<std::vector<char>> queue_;
    int64_t queuedBytes_ = 0;
    int64_t maxQueuedBytes_ = 0;
    bool open_ = false;      // the writer thread runs
    bool stopping_ = false;  // the writer ends once the queue is empty
    bool failed_ = false;
    std::thread thread_;
    std::atomic<int64_t> written_{0};
};
