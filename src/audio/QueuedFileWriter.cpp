// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/QueuedFileWriter.h"

#include "audio/FileDestination.h"
#include "platform/IoError.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <vector>

namespace {

// How long a write under way may still take once the drain's time is up: a disk that takes this long
// for one block (a second of stream) is stuck, not slow.
constexpr int kBlockUnderWayMs = 2000;

}  // namespace

struct QueuedFileWriter::Job {
    FileDestination file;
    std::function<void(const std::string&)> onFailure;
    bool waitWhenFull = false;
    int64_t maxQueuedBytes = 1;
    std::atomic<int64_t> written{0};

    vx::Mutex mutex;
    std::condition_variable changed;  // queued, written, stopping, ended
    QString path GUARDED_BY(mutex);
    std::deque<std::vector<char>> queue GUARDED_BY(mutex);
    int64_t queuedBytes GUARDED_BY(mutex) = 0;
    bool stopping GUARDED_BY(mutex) = false;  // the writer ends once the queue is empty
    bool failed GUARDED_BY(mutex) = false;
    bool released GUARDED_BY(mutex) = false;   // writers do not wait for room
    bool ended GUARDED_BY(mutex) = false;      // the writer's thread is done with the file
    bool abandoned GUARDED_BY(mutex) = false;  // the owner gave up waiting: the writer closes the file

    void dropQueued() REQUIRES(mutex) {
        // Swapped out rather than cleared: libstdc++ 12's clear() of an empty deque binds a null
        // reference, which UndefinedBehaviorSanitizer reports.
        std::deque<std::vector<char>>().swap(queue);
        queuedBytes = 0;
    }
};

QueuedFileWriter::~QueuedFileWriter() {
    finish(0);
}

std::shared_ptr<QueuedFileWriter::Job> QueuedFileWriter::job() const {
    vx::MutexLock lock(jobMutex_);
    return job_;
}

void QueuedFileWriter::create(const QString& path, int64_t maxQueuedBytes) {
    finish();
    auto job = std::make_shared<Job>();
    job->file.create(path);
    job->maxQueuedBytes = std::max<int64_t>(maxQueuedBytes, 1);
    start(std::move(job), path);
}

QString QueuedFileWriter::createNew(const QString& path, int64_t maxQueuedBytes) {
    finish();
    auto job = std::make_shared<Job>();
    const QString created = job->file.createNew(path);
    job->maxQueuedBytes = std::max<int64_t>(maxQueuedBytes, 1);
    start(std::move(job), created);
    return created;
}

void QueuedFileWriter::start(std::shared_ptr<Job> job, const QString& path) {
    {
        vx::MutexLock lock(job->mutex);
        job->path = path;
    }
    job->onFailure = OnFailure;
    job->waitWhenFull = waitWhenFull_;
    thread_ = std::thread([job] { run(job); });
    vx::MutexLock lock(jobMutex_);
    job_ = std::move(job);
}

void QueuedFileWriter::writeNow(const char* data, int size) {
    if (const auto j = job()) {
        j->file.write(data, size);
        j->written += size;
    }
}

void QueuedFileWriter::write(const char* data, int size) {
    const auto j = job();
    if (size <= 0 || !j) {
        return;
    }
    vx::MutexLock lock(j->mutex);
    if (j->stopping || j->failed) {
        return;  // closed, or its failure is reported already
    }
    if (j->queuedBytes + size > j->maxQueuedBytes) {
        if (!j->waitWhenFull && !j->released) {
            throw EInOutError("The disk did not keep up: more than " + std::to_string(j->maxQueuedBytes) +
                              " bytes waited to be written to \"" + j->path.toStdString() + "\"");
        }
        while (j->queuedBytes + size > j->maxQueuedBytes && !j->stopping && !j->failed && !j->released) {
            lock.wait(j->changed);
        }
        if (j->stopping || j->failed || j->queuedBytes + size > j->maxQueuedBytes) {
            return;
        }
    }
    j->queue.emplace_back(data, data + size);
    j->queuedBytes += size;
    j->changed.notify_all();
}

void QueuedFileWriter::run(const std::shared_ptr<Job>& job) {
    Job& j = *job;
    vx::MutexLock lock(j.mutex);
    for (;;) {
        while (j.queue.empty() && !j.stopping) {
            lock.wait(j.changed);
        }
        if (j.queue.empty()) {
            break;
        }
        std::vector<char> block = std::move(j.queue.front());
        j.queue.pop_front();
        j.changed.notify_all();  // a drain waiting for the queue to empty stops waiting for this block
        lock.unlock();
        std::string failure;
        try {
            j.file.write(block.data(), int(block.size()));
            j.written += int64_t(block.size());
        } catch (const std::exception& e) {
            failure = e.what();
        }
        lock.relock();
        j.queuedBytes -= int64_t(block.size());
        if (!failure.empty()) {
            j.failed = true;
            j.dropQueued();
            j.changed.notify_all();
            lock.unlock();
            if (j.onFailure) {
                j.onFailure(failure);
            }
            lock.relock();
            break;
        }
        j.changed.notify_all();
    }
    j.ended = true;
    j.changed.notify_all();
    const bool abandoned = j.abandoned;
    lock.unlock();
    if (abandoned) {
        j.file.close();  // given up by its owner, the writer closes the file once the kernel lets it go
    }
}

void QueuedFileWriter::close() {
    if (const auto j = job()) {
        vx::MutexLock lock(j->mutex);
        j->dropQueued();
        j->stopping = true;
        j->changed.notify_all();
    }
}

void QueuedFileWriter::releaseWaiting() {
    if (const auto j = job()) {
        vx::MutexLock lock(j->mutex);
        j->released = true;
        j->changed.notify_all();
    }
}

// True when the writer's thread has ended within waitMs (and was joined); else it is left running.
bool QueuedFileWriter::stopThread(int waitMs) {
    const auto j = job();
    bool ended = true;
    if (j) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
        vx::MutexLock lock(j->mutex);
        j->stopping = true;
        j->changed.notify_all();
        while (!j->ended && lock.waitUntil(j->changed, until)) {
        }
        ended = j->ended;
        j->abandoned = !ended;
    }
    if (thread_.joinable()) {
        if (ended) {
            thread_.join();
        } else {
            thread_.detach();  // stuck in the kernel: it holds the job, which outlives us if need be
        }
    }
    return ended;
}

bool QueuedFileWriter::finish(int drainMs) {
    const auto j = job();
    if (!j) {
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(drainMs, 0));
    {
        vx::MutexLock lock(j->mutex);
        j->stopping = true;
        j->changed.notify_all();
        // A disk that takes no block for as long as one may take is stuck: draining ends there too.
        int64_t progress = j->written;
        while (!j->queue.empty() && !j->failed) {
            const auto until = std::min(
                deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(kBlockUnderWayMs));
            while (!j->queue.empty() && !j->failed && lock.waitUntil(j->changed, until)) {
            }
            if (j->queue.empty() || j->failed) {
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline || j->written == progress) {
                j->dropQueued();  // the disk had its time; a block under way is still finished
                break;
            }
            progress = j->written;
        }
    }
    // A block under way gets its second, even when draining took all the time there was.
    const bool ended = stopThread(kBlockUnderWayMs);
    if (ended) {
        if (removeIfEmpty_) {
            j->file.closeRemovingIfEmpty();
        } else {
            j->file.close();
        }
    }
    return ended;
}

void QueuedFileWriter::discard() {
    const auto j = job();
    if (!j) {
        return;
    }
    close();
    if (stopThread(kBlockUnderWayMs)) {
        j->file.discard();
    }
}

bool QueuedFileWriter::isOpen() const {
    const auto j = job();
    if (!j) {
        return false;
    }
    vx::MutexLock lock(j->mutex);
    return !j->stopping && !j->failed;
}

QString QueuedFileWriter::fileName() const {
    const auto j = job();
    if (!j) {
        return QString();
    }
    vx::MutexLock lock(j->mutex);
    return QString(j->path.constData(), j->path.size());  // a deep copy: the caller may be on another thread
}

int64_t QueuedFileWriter::bytesWritten() const {
    const auto j = job();
    return j ? j->written.load(std::memory_order_relaxed) : 0;
}
