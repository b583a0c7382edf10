// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/TServerClientWinSocket.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>

// The session record of one listener connection, owned by the connection (its UserData).
// Thread contract: Kind and Ready are written on the window thread after the peer's reply was handed
// over, and read by the worker that streams the audio; ClientProgram belongs to the window thread.
// blockSent is called by one sender at a time (any thread), stalledFor from any thread.
class TVXSocketData : public TSocketUserData {
public:
    static constexpr uint8_t KindNew = 0;       // accepted, not (yet) admitted
    static constexpr uint8_t KindListener = 1;  // admitted, receives the audio stream
    static constexpr uint8_t KindInfo = 2;      // the listener program's info channel

    std::atomic<uint8_t> Kind{KindNew};
    std::atomic<uint8_t> Ready{0};
    QString ClientProgram;
    const QDateTime ConnectedSince = QDateTime::currentDateTimeUtc();  // made at accept

    // A block was handed to the connection at `at` and it took `taken` bytes (SendBytes' result).
    void blockSent(int taken, std::chrono::steady_clock::time_point at) {
        const int64_t ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
        if (taken > 0) {
            refusedSinceMs_.store(-1, std::memory_order_relaxed);
            stalledMs_.store(0, std::memory_order_relaxed);
            return;
        }
        int64_t since = refusedSinceMs_.load(std::memory_order_relaxed);
        if (since < 0) {
            since = ms;
            refusedSinceMs_.store(ms, std::memory_order_relaxed);
        }
        stalledMs_.store(ms - since, std::memory_order_relaxed);
    }
    // How long the blocks have been refused in a row: from the first block of the current run that the
    // connection took nothing of to the latest one; zero once a block was taken again.
    std::chrono::milliseconds stalledFor() const { return std::chrono::milliseconds(stalledMs_.load()); }

private:
    std::atomic<int64_t> refusedSinceMs_{-1};  // the sender's own; -1 while blocks are taken
    std::atomic<int64_t> stalledMs_{0};
};

// The session of a listener-port connection, or null. The port makes every connection's session a
// TVXSocketData (NewUserData) before anyone sees the connection, so the paths that run per listener and
// block need no type check.
inline TVXSocketData* listenerSession(const TServerClientWinSocket& socket) {
    return static_cast<TVXSocketData*>(socket.Session());
}
