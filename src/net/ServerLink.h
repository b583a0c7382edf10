// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ThreadSafety.h"

#include <cstdint>
#include <vector>

class TServerSocket;

// What a connection knows of its server. Shared, so that a connection that another thread still holds
// after the server is gone finds a null server instead of a freed one.
//
// A close on any thread queues the connection's release here and wakes the server's epoll set through
// wakeFd; the server releases it on its own thread. The queue is a plain mutex, not a queued Qt call,
// so the hand-over is visible to ThreadSanitizer as well.
struct ServerLink {
    vx::Mutex mutex;
    TServerSocket* server GUARDED_BY(mutex) = nullptr;  // null once the server is gone
    // An eventfd in the server's epoll set, made with the server and closed after `server` is null: a
    // connection writes it only under mutex while `server` is set, the server reads it on its own thread.
    int wakeFd = -1;
    std::vector<uint64_t> pendingReleases GUARDED_BY(mutex);
};
