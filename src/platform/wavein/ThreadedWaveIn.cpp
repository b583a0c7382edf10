// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wavein/ThreadedWaveIn.h"

#include "platform/ThreadSafety.h"

#include <QMetaObject>
#include <QObject>

#include <condition_variable>
#include <deque>
#include <thread>

namespace vx::wavein {

namespace {

vx::Mutex& noticeLock() {
    static vx::Mutex lock;
    return lock;
}

}  // namespace

class ThreadedWaveIn::Stream : public WaveInHandle {
public:
    Stream(std::unique_ptr<CaptureSource> src, QObject* target, DoneNotice notice)
        : source(std::move(src)), target_(target), notice_(std::move(notice)) {}
    ~Stream() override { stopThread(); }

    void startThread() {
        vx::MutexLock lock(mutex_);
        running_ = true;
        if (!thread_.joinable()) {
            stop_ = false;
            source->begin();
            thread_ = std::thread([this] { run(); });
        }
        wake_.notify_all();
    }

    void stopThread() {
        {
            vx::MutexLock lock(mutex_);
            stop_ = true;
            running_ = false;
        }
        wake_.notify_all();
        source->interrupt();
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    void enqueue(WAVEHDR* h) {
        vx::MutexLock lock(mutex_);
        h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        h->dwBytesRecorded = 0;
        queue_.push_back(h);
        wake_.notify_all();
    }

    // After the thread has stopped: every queued header goes back, front first.
    void returnAll() {
        vx::MutexLock lock(mutex_);
        while (!queue_.empty()) {
            finish(queue_.front());
            queue_.pop_front();
        }
    }

    void setHook(FilledHook hook) {
        vx::MutexLock lock(mutex_);
        hook_ = std::move(hook);
    }

    bool hasQueued() const {
        vx::MutexLock lock(mutex_);
        return !queue_.empty();
    }

    std::unique_ptr<CaptureSource> source;

private:
    // Under mutex_, so notices leave in queue order.
    void finish(WAVEHDR* h) REQUIRES(mutex_) {
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        post(h, MMSYSERR_NOERROR);
    }

    void post(WAVEHDR* h, uint32_t error) REQUIRES(mutex_) {
        // The notice is made here and runs on the owner's thread. Building and posting it under one lock
        // that the notice takes first orders everything this thread wrote (the header, the notice itself)
        // before the owner reads it, in a way the race checker sees too; the event queue's own locking
        // lives in uninstrumented Qt code.
        vx::MutexLock posting(noticeLock());
        QMetaObject::invokeMethod(
            target_,
            [notice = notice_, h, error] {
                { vx::MutexLock published(noticeLock()); }
                notice(h, error);
            },
            Qt::QueuedConnection);
    }

    void run() {
        const uint32_t frame = source->frameBytes();
        for (;;) {
            WAVEHDR* h = nullptr;
            {
                vx::MutexLock lock(mutex_);
                while (!stop_.load() && (!running_ || queue_.empty())) {
                    lock.wait(wake_);
                }
                if (stop_) {
                    return;
                }
                h = queue_.front();
            }
            // The header stays at the front while it fills; only this thread touches it until it is done.
            const uint32_t target = h->dwBufferLength - h->dwBufferLength % frame;
            while (h->dwBytesRecorded < target && !stop_) {
                const int n =
                    source->read(h->lpData + h->dwBytesRecorded, target - h->dwBytesRecorded, stop_);
                if (n < 0) {
                    // The device is gone: capture ends here, the queued buffers come back at reset. The
                    // owner learns it after the buffers filled before, unless a reset already stopped us.
                    vx::MutexLock lock(mutex_);
                    if (!stop_) {
                        post(nullptr, uint32_t(-int64_t(n)));
                    }
                    return;
                }
                h->dwBytesRecorded += uint32_t(n);
            }
            FilledHook hook;
            {
                vx::MutexLock lock(mutex_);
                if (stop_) {
                    return;
                }
                hook = hook_;
            }
            // Outside the lock: the consumer may take its time without holding up a reset's flag. The
            // header is still queued, so nobody else touches it meanwhile.
            const bool taken = hook && hook(*h);
            vx::MutexLock lock(mutex_);
            if (stop_) {
                return;
            }
            queue_.pop_front();
            if (taken) {
                // Recycled here: the owner's thread may be busy for as long as it likes.
                h->dwBytesRecorded = 0;
                queue_.push_back(h);
            } else {
                finish(h);
            }
        }
    }

    QObject* target_;
    DoneNotice notice_;
    mutable vx::Mutex mutex_;
    FilledHook hook_ GUARDED_BY(mutex_);
    std::condition_variable wake_;
    std::deque<WAVEHDR*> queue_ GUARDED_BY(mutex_);
    std::atomic<bool> stop_{false};
    bool running_ GUARDED_BY(mutex_) = false;
    std::thread thread_;
};

ThreadedWaveIn::ThreadedWaveIn() = default;
ThreadedWaveIn::~ThreadedWaveIn() = default;

uint32_t ThreadedWaveIn::open(HWAVEIN* handle, uint32_t, const TAudioFormat& format, QObject* callbackTarget,
                              DoneNotice notice, uint32_t flags) {
    if (handle == nullptr || callbackTarget == nullptr || !notice) {
        return MMSYSERR_INVALPARAM;
    }
    if ((flags & ~(CALLBACK_WINDOW | WAVE_MAPPED)) != 0) {
        return MMSYSERR_INVALFLAG;
    }
    std::unique_ptr<CaptureSource> source;
    if (const uint32_t code = openSource(format, &source); code != MMSYSERR_NOERROR) {
        return code;
    }
    *handle = streams_.insert(std::make_unique<Stream>(std::move(source), callbackTarget, std::move(notice)));
    return MMSYSERR_NOERROR;
}

uint32_t ThreadedWaveIn::prepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t) {
    if (streams_.find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr || header->lpData == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

uint32_t ThreadedWaveIn::addBuffer(HWAVEIN handle, WAVEHDR* header, uint32_t) {
    Stream* s = streams_.find(handle);
    if (s == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    // A buffer that cannot hold one frame would come back empty at once, over and over.
    if (header->dwBufferLength < s->source->frameBytes()) {
        return MMSYSERR_INVALPARAM;
    }
    s->enqueue(header);
    return MMSYSERR_NOERROR;
}

uint32_t ThreadedWaveIn::start(HWAVEIN handle) {
    Stream* s = streams_.find(handle);
    if (s == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    s->startThread();
    return MMSYSERR_NOERROR;
}

uint32_t ThreadedWaveIn::unprepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t) {
    if (streams_.find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

uint32_t ThreadedWaveIn::reset(HWAVEIN handle) {
    Stream* s = streams_.find(handle);
    if (s == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    s->stopThread();
    s->source->halt();
    s->returnAll();
    return MMSYSERR_NOERROR;
}

uint32_t ThreadedWaveIn::close(HWAVEIN handle) {
    Stream* s = streams_.find(handle);
    if (s == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (s->hasQueued()) {
        return WAVERR_STILLPLAYING;
    }
    streams_.erase(handle);
    return MMSYSERR_NOERROR;
}

uint32_t ThreadedWaveIn::setFilledHook(HWAVEIN handle, FilledHook hook) {
    Stream* s = streams_.find(handle);
    if (s == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    s->setHook(std::move(hook));
    return MMSYSERR_NOERROR;
}

}  // namespace vx::wavein
