// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/QueuedFileWriter.h"

#include "audio/FileDestination.h"
#include "platform/IoError.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>

namespace {

// How long a write under way may still take once the drain's time is up: a disk that takes this long
// for one block (a second of stream) is stuck, not slow.
constexpr int kBlockUnderWayMs = 2000;

}  // namespace

struct QueuedFileWriter::Hooks {
    vx::Mutex mutex;
    bool silent GUARDED_BY(mutex) = false;  // the owner goes: nobody is told anything any more
    std::function<void(const Opened&)> opened GUARDED_BY(mutex);
    std::function<void(const std::string&)> failure GUARDED_BY(mutex);

    // Under the lock, so that the owner's destruction waits for a call under way and none follows it.
    void tellOpened(const Opened& o) {
        vx::MutexLock lock(mutex);
        if (!silent && opened) {
            opened(o);
        }
    }
    void tellFailure(const std::string& message) {
        vx::MutexLock lock(mutex);
        if (!silent && failure) {
            failure(message);
        }
    }
};

struct QueuedFileWriter::Job {
    FileDestination file;
    std::shared_ptr<Hooks> hooks;
    uint64_t serial = 0;
    // What the writer opens, before any block.
    QString requested;
    bool createNew = false;
    QByteArray header;
    bool waitWhenFull = false;
    bool removeIfEmpty = false;
    int64_t maxQueuedBytes = 1;
    std::atomic<int64_t> written{0};
    // True once the writer has closed the file.
    std::shared_ptr<std::atomic<bool>> closed = std::make_shared<std::atomic<bool>>(false);

    vx::Mutex mutex;
    std::condition_variable changed;  // queued, written, stopping, ended
    QString path GUARDED_BY(mutex);
    std::deque<std::vector<char>> queue GUARDED_BY(mutex);
    int64_t queuedBytes GUARDED_BY(mutex) = 0;
    bool stopping GUARDED_BY(mutex) = false;  // the writer ends once the queue is empty
    bool failed GUARDED_BY(mutex) = false;
    bool released GUARDED_BY(mutex) = false;  // writers do not wait for room
    bool discard GUARDED_BY(mutex) = false;   // the file goes when it is closed
    bool ended GUARDED_BY(mutex) = false;     // the writer's thread is done with the file
    bool opened GUARDED_BY(mutex) = false;    // the open (and the header) has been tried

    void dropQueued() REQUIRES(mutex) {
        // Swapped out rather than cleared: libstdc++ 12's clear() of an empty deque binds a null
        // reference, which UndefinedBehaviorSanitizer reports.
        std::deque<std::vector<char>>().swap(queue);
        queuedBytes = 0;
    }
};

QueuedFileWriter::QueuedFileWriter() : hooks_(std::make_shared<Hooks>()) {}

QueuedFileWriter::~QueuedFileWriter() {
    silence();
    finish(0);
}

void QueuedFileWriter::silence() {
    vx::MutexLock lock(hooks_->mutex);
    hooks_->silent = true;
}

std::shared_ptr<QueuedFileWriter::Job> QueuedFileWriter::job() const {
    vx::MutexLock lock(jobMutex_);
    return job_;
}

void QueuedFileWriter::create(const QString& path, int64_t maxQueuedBytes, const QByteArray& header) {
    leaveToWriter(false);
    auto job = std::make_shared<Job>();
    job->requested = path;
    job->header = header;
    job->maxQueuedBytes = std::max<int64_t>(maxQueuedBytes, 1);
    start(std::move(job));
}

void QueuedFileWriter::createNew(const QString& path, int64_t maxQueuedBytes) {
    leaveToWriter(false);
    auto job = std::make_shared<Job>();
    job->requested = path;
    job->createNew = true;
    job->maxQueuedBytes = std::max<int64_t>(maxQueuedBytes, 1);
    start(std::move(job));
}

void QueuedFileWriter::start(std::shared_ptr<Job> job) {
    {
        vx::MutexLock lock(hooks_->mutex);
        hooks_->opened = OnOpened;
        hooks_->failure = OnFailure;
    }
    {
        vx::MutexLock lock(job->mutex);
        job->path = job->requested;
    }
    job->hooks = hooks_;
    job->serial = ++serial_;
    job->waitWhenFull = waitWhenFull_;
    job->removeIfEmpty = removeIfEmpty_;
    thread_ = std::thread([job] { run(job); });
    vx::MutexLock lock(jobMutex_);
    job_ = std::move(job);
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
    Opened opened;
    opened.serial = j.serial;
    try {
        opened.created =
            j.createNew ? j.file.createNew(j.requested) : (j.file.create(j.requested), j.requested);
    } catch (const std::exception& e) {
        opened.error = e.what();
    }
    if (opened.error.empty() && !j.header.isEmpty()) {
        try {
            j.file.write(j.header.constData(), int(j.header.size()));
            j.written += j.header.size();
        } catch (const std::exception& e) {
            opened.error = e.what();
            opened.headerFailed = true;
        }
    }
    vx::MutexLock lock(j.mutex);
    j.opened = true;
    if (opened.error.empty()) {
        j.path = opened.created;
    } else {
        opened.created = j.requested;
        j.failed = true;
        j.dropQueued();
        j.changed.notify_all();
    }
    lock.unlock();
    j.hooks->tellOpened(opened);
    lock.relock();
    for (;;) {
        while (j.queue.empty() && !j.stopping && !j.failed) {
            lock.wait(j.changed);
        }
        if (j.queue.empty() || j.failed) {
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
            j.hooks->tellFailure(failure);
            lock.relock();
            break;
        }
        j.changed.notify_all();
    }
    // The writer, not the owner, closes the file: a close may wait for the disk as long as a write.
    const bool discard = j.discard;
    lock.unlock();
    if (discard) {
        j.file.discard();
    } else if (j.removeIfEmpty) {
        j.file.closeRemovingIfEmpty();
    } else {
        j.file.close();
    }
    j.closed->store(true);
    lock.relock();
    j.ended = true;
    j.changed.notify_all();
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

// True when the writer's thread has ended within waitMs (and was joined); else it is left running and
// closes the file itself when the kernel lets it go.
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
    }
    if (thread_.joinable()) {
        if (ended) {
            thread_.join();
        } else {
            thread_.detach();  // stuck in the kernel: it holds the job, which outlives us if need be
        }
    }
    vx::MutexLock lock(jobMutex_);
    job_.reset();
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
    // A block under way (or the open, or the close) gets its second, even when draining took all the
    // time there was.
    return stopThread(kBlockUnderWayMs);
}

std::shared_ptr<QueuedFileWriter::Job> QueuedFileWriter::leaveToWriter(bool discard) {
    std::erase_if(leftBehind_, [](const std::shared_ptr<Job>& left) {
        vx::MutexLock lock(left->mutex);
        return left->ended;
    });
    const auto j = job();
    if (!j) {
        return nullptr;
    }
    {
        vx::MutexLock lock(j->mutex);
        if (discard) {
            j->dropQueued();
            j->discard = true;
        }
        j->stopping = true;
        j->changed.notify_all();
    }
    if (thread_.joinable()) {
        thread_.detach();  // the job holds all it needs; busy() watches it
    }
    leftBehind_.push_back(j);
    vx::MutexLock lock(jobMutex_);
    job_.reset();
    return j;
}

std::shared_ptr<const std::atomic<bool>> QueuedFileWriter::finishLater() {
    const auto j = leaveToWriter(false);
    return j ? j->closed : std::make_shared<const std::atomic<bool>>(true);
}

void QueuedFileWriter::discard() {
    leaveToWriter(true);
}

bool QueuedFileWriter::isOpen() const {
    const auto j = job();
    if (!j) {
        return false;
    }
    vx::MutexLock lock(j->mutex);
    return !j->stopping && !j->failed;
}

bool QueuedFileWriter::busy() const {
    const auto running = [](const std::shared_ptr<Job>& j) {
        vx::MutexLock lock(j->mutex);
        return !j->ended;
    };
    const auto j = job();
    return (j && running(j)) || std::any_of(leftBehind_.begin(), leftBehind_.end(), running);
}

bool QueuedFileWriter::settled() const {
    const auto j = job();
    if (j) {
        vx::MutexLock lock(j->mutex);
        if (!j->opened && !j->ended) {
            return false;
        }
    }
    return std::none_of(leftBehind_.begin(), leftBehind_.end(), [](const std::shared_ptr<Job>& left) {
        vx::MutexLock lock(left->mutex);
        return !left->ended;
    });
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
