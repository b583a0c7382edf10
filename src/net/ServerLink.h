// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

class TServerSocket;

// What a connection knows of its server. Shared, so that a connection that another thread still holds
// after the server is gone finds a null server instead of a freed one.
//
// A close on any thread queues the connection's release here and wakes the server's epoll set through
// wakeFd; the server releases it on its own thread. The queue is a plain mutex, not a queued Qt call,
// so the hand-over is visible to ThreadSanitizer as well.
struct ServerLink {
    std::mutex mutex;
    TServerSocket* server = nullptr;        // guarded by mutex; null once the server is gone
    int wakeFd = -1;                        // an eventfd in the server's epoll set
    std::vector<uint64_t> pendingReleases;  // guarded by mutex
};
