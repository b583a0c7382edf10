// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/HandleTable.h"
#include "platform/wavein/WaveIn.h"

#include <QByteArray>

#include <deque>
#include <map>
#include <string>
#include <vector>

// A device for tests: nothing is recorded until the test fills the front buffer, and any operation can
// be told to answer a code. Notices are posted like a real device's.
namespace vx::wavein {

class SimulatedWaveIn : public WaveIn {
public:
    ~SimulatedWaveIn() override;

    uint32_t open(HWAVEIN* handle, uint32_t deviceId, const TAudioFormat& format, QObject* callbackTarget,
                  DoneNotice notice, uint32_t flags) override;
    uint32_t prepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t headerSize) override;
    uint32_t addBuffer(HWAVEIN handle, WAVEHDR* header, uint32_t headerSize) override;
    uint32_t start(HWAVEIN handle) override;
    uint32_t unprepareHeader(HWAVEIN handle, WAVEHDR* header, uint32_t headerSize) override;
    uint32_t reset(HWAVEIN handle) override;
    uint32_t close(HWAVEIN handle) override;
    uint32_t setFilledHook(HWAVEIN handle, FilledHook hook) override;

    // Operation names: "open", "prepare", "add", "start", "unprepare", "reset", "close". After `okCalls`
    // further successful calls, the operation answers `code` until cleared.
    void setResult(const std::string& op, uint32_t code, int okCalls = 0);
    void clearResults() { results_.clear(); }

    // Fills the front queued buffer of the open device with bytes (cut to its length), hands it over on
    // the caller's thread and returns it (or queues it again when the hand-over took it).
    // False when nothing is queued or no device is open.
    bool fillNext(const QByteArray& bytes);
    // The open device fails as an unplugged one would: one failure notice with `code` after the buffers
    // filled before; it fills nothing more until it is closed. False when no device is open.
    bool fail(uint32_t code);
    int queued() const { return int(queue_.size()); }
    bool isOpen() const { return !devices_.empty(); }

    // What the layer saw.
    std::vector<std::string> calls;
    uint32_t openedDevice = 0;
    uint32_t openedFlags = 0;
    TAudioFormat openedFormat;
    int opens = 0;
    int closes = 0;
    bool started = false;

private:
    struct Result {
        uint32_t code;
        int okCalls;
    };
    struct Handle : WaveInHandle {};
    uint32_t check(const std::string& op, HWAVEIN handle);
    void giveBack(WAVEHDR* header);

    std::map<std::string, Result> results_;
    HandleTable<WaveInHandle, Handle> devices_;  // at most one: the device opens once at a time
    HWAVEIN open_ = nullptr;
    QObject* target_ = nullptr;
    DoneNotice notice_;
    FilledHook hook_;
    std::deque<WAVEHDR*> queue_;
    bool failed_ = false;
};

}  // namespace vx::wavein
