// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wavein/SimulatedWaveIn.h"

#include "platform/Posting.h"

#include <algorithm>
#include <cstring>

namespace vx::wavein {

SimulatedWaveIn::~SimulatedWaveIn() = default;

void SimulatedWaveIn::setResult(const std::string& op, uint32_t code, int okCalls) {
    results_[op] = Result{code, okCalls};
}

uint32_t SimulatedWaveIn::check(const std::string& op, HWAVEIN handle) {
    calls.push_back(op);
    if (op != "open" && devices_.find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    auto it = results_.find(op);
    if (it == results_.end()) {
        return MMSYSERR_NOERROR;
    }
    if (it->second.okCalls > 0) {
        --it->second.okCalls;
        return MMSYSERR_NOERROR;
    }
    return it->second.code;
}

uint32_t SimulatedWaveIn::open(HWAVEIN* handle, uint32_t deviceId, const TAudioFormat& format,
                               QObject* callbackTarget, DoneNotice notice, uint32_t flags) {
    if (const uint32_t code = check("open", nullptr); code != MMSYSERR_NOERROR) {
        return code;
    }
    if (open_ != nullptr) {
        return MMSYSERR_ALLOCATED;
    }
    open_ = devices_.insert(std::make_unique<Handle>());
    failed_ = false;
    *handle = open_;
    target_ = callbackTarget;
    notice_ = std::move(notice);
    openedDevice = deviceId;
    openedFlags = flags;
    openedFormat = format;
    ++opens;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedWaveIn::prepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t) {
    if (const uint32_t code = check("prepare", handle); code != MMSYSERR_NOERROR) {
        return code;
    }
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedWaveIn::addBuffer(HWAVEIN handle, WAVEHDR* header, uint32_t) {
    if (const uint32_t code = check("add", handle); code != MMSYSERR_NOERROR) {
        return code;
    }
    if ((header->dwFlags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    header->dwFlags = (header->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    queue_.push_back(header);
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedWaveIn::start(HWAVEIN handle) {
    if (const uint32_t code = check("start", handle); code != MMSYSERR_NOERROR) {
        return code;
    }
    started = true;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedWaveIn::unprepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t) {
    if (const uint32_t code = check("unprepare", handle); code != MMSYSERR_NOERROR) {
        return code;
    }
    if ((header->dwFlags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    header->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedWaveIn::reset(HWAVEIN handle) {
    if (const uint32_t code = check("reset", handle); code != MMSYSERR_NOERROR) {
        return code;
    }
    started = false;
    while (!queue_.empty()) {
        giveBack(queue_.front());
        queue_.pop_front();
    }
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedWaveIn::close(HWAVEIN handle) {
    if (const uint32_t code = check("close", handle); code != MMSYSERR_NOERROR) {
        return code;
    }
    if (!queue_.empty()) {
        return WAVERR_STILLPLAYING;
    }
    devices_.erase(open_);
    open_ = nullptr;
    hook_ = nullptr;
    ++closes;
    return MMSYSERR_NOERROR;
}

uint32_t SimulatedWaveIn::setFilledHook(HWAVEIN handle, FilledHook hook) {
    if (devices_.find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    hook_ = std::move(hook);
    return MMSYSERR_NOERROR;
}

void SimulatedWaveIn::giveBack(WAVEHDR* header) {
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    DoneNotice notice = notice_;
    vx::postTo(target_, [notice, header] { notice(header, MMSYSERR_NOERROR); });
}

bool SimulatedWaveIn::fail(uint32_t code) {
    if (open_ == nullptr || failed_) {
        return false;
    }
    failed_ = true;
    DoneNotice notice = notice_;
    vx::postTo(target_, [notice, code] { notice(nullptr, code); });
    return true;
}

bool SimulatedWaveIn::fillNext(const QByteArray& bytes) {
    if (open_ == nullptr || queue_.empty() || !started || failed_) {
        return false;
    }
    WAVEHDR* h = queue_.front();
    queue_.pop_front();
    const auto n = std::min<uint32_t>(uint32_t(bytes.size()), h->dwBufferLength);
    std::memcpy(h->lpData, bytes.constData(), n);
    h->dwBytesRecorded = n;
    if (hook_ && hook_(*h)) {
        h->dwBytesRecorded = 0;
        queue_.push_back(h);
        return true;
    }
    giveBack(h);
    return true;
}

}  // namespace vx::wavein
