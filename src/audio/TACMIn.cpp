// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/TACMIn.h"

#include "audio/MmErrorText.h"
#include "platform/Posting.h"

#include <algorithm>
#include <cstring>

using namespace vx::wavein;

TACMIn::TACMIn(std::shared_ptr<WaveIn> device)
    : notifier_(std::make_unique<QObject>()), device_(std::move(device)) {
    if (!device_) {
        throw std::invalid_argument("TACMIn needs a capture device; none was given");
    }
}

TACMIn::~TACMIn() {
    destroying_ = true;
    Close();
}

void TACMIn::SetBufferSize(int v) {
    if (!active_) {
        bufferSize_ = v;
    }
}

void TACMIn::SetNumBuffers(TACMBufferCount v) {
    if (!active_) {
        numBuffers_ = v;
    }
}

std::string TACMIn::ErrorText(const char* step, uint32_t code) {
    return mmErrorText(MmErrorTable::Capture, step, code);
}

void TACMIn::check(const char* step, uint32_t code) const {
    if (code != 0) {
        throw EACMIn(ErrorText(step, code));
    }
}

void TACMIn::Open(TAudioFormat Format) {
    if (active_) {
        return;
    }
    handle_ = nullptr;
    format_ = Format;
    const bool pcm = format_.formatTag() == 1;
    const uint32_t deviceId = pcm ? WAVE_MAPPER : 0;
    const uint32_t flags = pcm ? CALLBACK_WINDOW : (CALLBACK_WINDOW | WAVE_MAPPED);
    const uint64_t opening = ++opening_;
    DoneNotice notice = [this, opening](WAVEHDR* h, uint32_t error) { bufferDone(opening, h, error); };
    check("WaveIn-Open",
          device_->open(&handle_, deviceId, format_, notifier_.get(), std::move(notice), flags));
    try {
        for (int i = 0; i < int(numBuffers_); ++i) {
            addBuffer();
        }
        if (OnBlockCaptured) {
            check("WaveIn-Open", device_->setFilledHook(handle_, [this, opening](const WAVEHDR& h) {
                return handOver(opening, h);
            }));
            vx::MutexLock lock(deliveryMutex_);
            deliveringOpening_ = opening;
        }
        check("WaveIn-Start", device_->start(handle_));
    } catch (...) {
        abandonOpen();
        throw;
    }
    active_ = true;
}

void TACMIn::addBuffer() {
    auto b = std::make_unique<Buffer>();
    b->data.reset(new uint8_t[std::max(bufferSize_, 1)]);
    b->header.lpData = b->data.get();
    b->header.dwBufferLength = uint32_t(std::max(bufferSize_, 0));
    WAVEHDR* h = &b->header;
    buffers_.push_back(std::move(b));
    check("WaveIn-PrepareHeader", device_->prepareHeader(handle_, h, sizeof(WAVEHDR)));
    check("WaveIn-AddBuffer", device_->addBuffer(handle_, h, sizeof(WAVEHDR)));
}

// An Open that failed part-way gives the device and the buffers back, so the next Open does not find
// the device still in use and nothing stays allocated.
void TACMIn::abandonOpen() {
    StopDelivery();
    if (handle_ != nullptr) {
        device_->reset(handle_);
    }
    while (!buffers_.empty()) {
        release(&buffers_.back()->header);
    }
    if (handle_ != nullptr) {
        device_->close(handle_);
        handle_ = nullptr;
    }
}

TACMIn::Buffer* TACMIn::find(WAVEHDR* h) {
    auto it = std::find_if(buffers_.begin(), buffers_.end(), [h](const auto& b) { return &b->header == h; });
    return it == buffers_.end() ? nullptr : it->get();
}

void TACMIn::release(WAVEHDR* h) {
    auto it = std::find_if(buffers_.begin(), buffers_.end(), [h](const auto& b) { return &b->header == h; });
    if (it == buffers_.end()) {
        return;
    }
    if (handle_ != nullptr) {
        device_->unprepareHeader(handle_, h, sizeof(WAVEHDR));
    }
    buffers_.erase(it);
}

void TACMIn::deviceFailed(uint64_t opening, uint32_t code) {
    if (opening != opening_ || !active_) {
        return;  // a failure of a capture that has been closed since
    }
    const EACMIn error(ErrorText("WaveIn-Capture", code));
    // The device records nothing more: it and the buffers go back, so that the owner can open it again.
    Close();
    if (!OnError) {
        throw error;
    }
    OnError(this, error);
}

void TACMIn::bufferDone(uint64_t opening, WAVEHDR* h, uint32_t error) {
    if (error != MMSYSERR_NOERROR) {
        deviceFailed(opening, error);
        return;
    }
    if (opening != opening_ || find(h) == nullptr) {
        return;  // a buffer of an earlier opening, already released
    }
    if (!active_) {
        if (!destroying_) {
            release(h);
        }
        return;
    }
    if (OnBufferFull) {
        const uint32_t size = h->dwBytesRecorded;
        auto copy = std::make_unique<uint8_t[]>(std::max<uint32_t>(size, 1));
        std::memcpy(copy.get(), h->lpData, size);
        OnBufferFull(this, copy.get(), int(size));
    }
    check("WaveIn-UnprepareHeader", device_->unprepareHeader(handle_, h, sizeof(WAVEHDR)));
    h->dwBufferLength = uint32_t(std::max(bufferSize_, 0));
    h->dwBytesRecorded = 0;
    h->dwUser = 0;
    h->dwFlags = 0;
    h->dwLoops = 0;
    std::memset(h->lpData, 0, h->dwBufferLength);
    check("WaveIn-PrepareHeader", device_->prepareHeader(handle_, h, sizeof(WAVEHDR)));
    check("WaveInAddBuffer", device_->addBuffer(handle_, h, sizeof(WAVEHDR)));
}

void TACMIn::StopDelivery() {
    vx::MutexLock lock(deliveryMutex_);
    deliveringOpening_ = 0;
}

bool TACMIn::handOver(uint64_t opening, const WAVEHDR& h) {
    vx::MutexLock lock(deliveryMutex_);
    if (opening != deliveringOpening_) {
        return false;  // stopped, or a capture thread of an earlier opening finishing its last buffer
    }
    try {
        OnBlockCaptured(this, h.lpData, int(h.dwBytesRecorded));
    } catch (...) {
        // Nowhere to go on the capture thread; the handler reports its own failures.
    }
    // The buffer goes back to the device on this thread, so a busy owner's thread never starves the
    // capture; the owner hears of the block through a copy, in the order the blocks were filled.
    if (OnBufferFull) {
        const uint32_t size = h.dwBytesRecorded;
        auto copy = std::make_shared<std::vector<uint8_t>>(std::max<uint32_t>(size, 1));
        std::memcpy(copy->data(), h.lpData, size);
        vx::postTo(notifier_.get(), [this, opening, copy, size] { blockNoticed(opening, *copy, int(size)); });
    }
    return true;
}

void TACMIn::blockNoticed(uint64_t opening, const std::vector<uint8_t>& copy, int size) {
    if (opening != opening_ || !active_) {
        return;  // a block of a capture that has been closed since
    }
    OnBufferFull(this, copy.data(), size);
}

void TACMIn::Close() {
    StopDelivery();
    if (!active_) {
        return;
    }
    active_ = false;
    device_->reset(handle_);
    // Buffers that left the rotation are released below before the device goes, as are the ones the
    // reset returned (their notices come later and are ignored).
    for (auto it = buffers_.rbegin(); it != buffers_.rend(); ++it) {
        device_->unprepareHeader(handle_, &(*it)->header, sizeof(WAVEHDR));
    }
    buffers_.clear();
    device_->close(handle_);
    handle_ = nullptr;
}
