#include "audio/QueuedFileWriter.h"

#include "platform/IoError.h"

#include <chrono>

QueuedFileWriter::~QueuedFileWriter() {
    finish(0);
}

void QueuedFileWriter::create(const QString& path, int64_t maxQueuedBytes) {
    finish();
    file_.create(path);
    startThread(maxQueuedBytes, path);
}

QString QueuedFileWriter::createNew(const QString& path, int64_t maxQueuedBytes) {
    finish();
    const QString created = file_.createNew(path);
    startThread(maxQueuedBytes, created);
    return created;
}

void QueuedFileWriter::startThread(int64_t maxQueuedBytes, const QString& path) {
    std::lock_guard lock(mutex_);
    path_ = path;
    maxQueuedBytes_ = std::max<int64_t>(maxQueuedBytes, 1);
    stopping_ = false;
    failed_ = false;
    written_ = 0;
    open_ = true;
    thread_ = std::thread([this] { run(); });
}

void QueuedFileWriter::writeNow(const char* data, int size) {
    file_.write(data, size);
    written_ += size;
}

void QueuedFileWriter::write(const char* data, int size) {
    if (size <= 0) {
        return;
    }
    std::unique_lock lock(mutex_);
    if (!open_ || stopping_ || failed_) {
        return;  // closed, or its failure is reported already
    }
    if (queuedBytes_ + size > maxQueuedBytes_) {
        if (!waitWhenFull_) {
            throw EInOutError("The disk did not keep up: more than " + std::to_string(maxQueuedBytes_) +
                              " bytes waited to be written to \"" + path_.toStdString() + "\"");
        }
        changed_.wait(lock, [&] { return queuedBytes_ + size <= maxQueuedBytes_ || stopping_ || failed_; });
        if (stopping_ || failed_) {
            return;
        }
    }
    queue_.emplace_back(data, data + size);
    queuedBytes_ += size;
    changed_.notify_all();
}

void QueuedFileWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queue_.empty() || stopping_; });
        if (queue_.empty()) {
            return;
        }
        std::vector<char> block = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        std::string failure;
        try {
            file_.write(block.data(), int(block.size()));
            written_ += int64_t(block.size());
        } catch (const std::exception& e) {
            failure = e.what();
        }
        lock.lock();
        queuedBytes_ -= int64_t(block.size());
        if (!failure.empty()) {
            failed_ = true;
            dropQueued();
            changed_.notify_all();
            lock.unlock();
            if (OnFailure) {
                OnFailure(failure);
            }
            return;
        }
        changed_.notify_all();
    }
}

void QueuedFileWriter::close() {
    std::lock_guard lock(mutex_);
    dropQueued();
    stopping_ = true;
    changed_.notify_all();
}

void QueuedFileWriter::stopThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard lock(mutex_);
    open_ = false;
}

void QueuedFileWriter::finish(int drainMs) {
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
        const bool drained = changed_.wait_for(lock, std::chrono::milliseconds(drainMs),
                                               [&] { return queue_.empty() || failed_; });
        if (!drained) {
            dropQueued();  // the disk had its time; a block under way is still finished
        }
    }
    stopThread();
    file_.close();
}

void QueuedFileWriter::discard() {
    close();
    stopThread();
    file_.discard();
}

bool QueuedFileWriter::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_ && !stopping_ && !failed_;
}

void QueuedFileWriter::dropQueued() {
    // Swapped out rather than cleared: libstdc++ 12's clear() of an empty deque binds a null reference,
    // which UndefinedBehaviorSanitizer reports.
    std::deque<std::vector<char>>().swap(queue_);
    queuedBytes_ = 0;
}
