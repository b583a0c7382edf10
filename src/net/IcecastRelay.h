// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/BlockDestination.h"
#include "platform/IcecastTarget.h"
#include "platform/ThreadSafety.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct shout;

// Carries the station's encoded stream on to one Icecast mount, as that mount's source (libshout, HTTP
// SOURCE). write() only queues: the thread that carries the block never waits on the network. A thread
// of the relay's own connects, sends without blocking, reconnects after a failure with a back-off of
// 1 s doubling up to 30 s, and disconnects at stop(). A server that refuses the source (wrong password,
// mount in use) is asked again only every 30 s.
// The queue holds about ten seconds of stream; when it is full, the oldest blocks are dropped and
// counted.
// Thread contract: start(), stop() and setTitle() on one controlling thread (the window thread); write()
// on the thread that carries the block; OnStatus on the relay's own thread; the counters anywhere.
class IcecastRelay : public BlockDestination {
public:
    enum class State { Stopped, Connecting, OnAir, Error };
    struct Status {
        State state = State::Stopped;
        QString reason;  // the server's answer or the failure, for the user; never holds the password
        bool operator==(const Status&) const = default;
    };
    // What the mount announces: the station's name and description, the info text as the current
    // title, and the stream's format (from the codec stream's output format).
    struct StreamInfo {
        QString name;
        QString description;
        QString title;
        bool mpegLayer3 = true;  // Icecast carries nothing else of what the station encodes
        uint32_t sampleRate = 0;
        uint32_t channels = 0;
        uint32_t bytesPerSecond = 0;
    };

    explicit IcecastRelay(IcecastTarget target);
    ~IcecastRelay() override;  // stops
    IcecastRelay(const IcecastRelay&) = delete;
    IcecastRelay& operator=(const IcecastRelay&) = delete;

    // Set before start(). Called on the relay's thread whenever the state or its reason changes; a
    // retry that ends as the last one did reports nothing new.
    std::function<void(const Status&)> OnStatus;

    // Connects (in the background) and carries every block written from now on. A running relay is
    // stopped first.
    void start(const StreamInfo& info);
    // Disconnects and waits for the relay's thread; blocks still queued are discarded.
    void stop();
    // The mount's current title; sent now when on air, and again after every reconnection.
    void setTitle(const QString& title);

    // Queues a copy of the block while the relay runs; nothing otherwise. Never throws for the network.
    void write(const char* data, int size) override;
    void close() override { stop(); }

    const IcecastTarget& target() const { return target_; }
    Status status() const;
    uint64_t droppedBlocks() const { return dropped_; }
    uint64_t sentBlocks() const { return sent_; }
    int connectAttempts() const { return attempts_; }
    std::size_t queuedBytes() const;
    std::size_t queueLimit() const;

private:
    struct Outcome {
        bool reachedAir = false;
        bool refused = false;  // the server answered and said no
        QString reason;
    };
    void run(StreamInfo info);
    // One connection to the server, from the source login until it fails or the relay stops.
    Outcome session(const StreamInfo& info);
    // Waits for the source login; false, with the reason in out, when it did not come about.
    bool connectSource(struct shout* s, Outcome& out);
    // On air: the title when due, then block after block; returns when the connection fails (the
    // reason in out) or the relay stops.
    void carryBlocks(struct shout* s, Outcome& out);
    void sendTitleIfDue(bool& titleDue);
    // The next queued block, empty when woken for a new title; false when stopping.
    bool takeBlock(std::string& block);
    void report(State state, const QString& reason = {});
    // Waits until stop() or the time is up; true when stopping.
    bool pause(std::chrono::milliseconds ms);
    bool stopping() const;
    QString refusalReason() const;
    QString sendTitle(const QString& title) const;

    const IcecastTarget target_;
    mutable vx::Mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_ GUARDED_BY(mutex_);
    std::size_t queuedBytes_ GUARDED_BY(mutex_) = 0;
    std::size_t limit_ GUARDED_BY(mutex_) = 0;
    bool running_ GUARDED_BY(mutex_) = false;
    bool stop_ GUARDED_BY(mutex_) = false;
    QString title_ GUARDED_BY(mutex_);
    bool titleChanged_ GUARDED_BY(mutex_) = false;
    Status status_ GUARDED_BY(mutex_);
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> sent_{0};
    std::atomic<int> attempts_{0};
    std::atomic<bool> stopFlag_{false};  // read by transfers that poll for an abort
    struct shout* shout_ = nullptr;      // libshout's handle, the relay thread's alone while it runs
    std::thread thread_;
};
