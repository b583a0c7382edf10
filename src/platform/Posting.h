// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

// The one way a notice from another thread reaches the thread that owns a component: a queued call onto
// the receiver's thread, delivered in posting order. Thread contract: callable from any thread.
namespace vx {

// Runs fn later on receiver's thread. Dropped silently if receiver is destroyed first.
inline void postTo(QObject* receiver, std::function<void()> fn) {
    // Qt hands the call over under a lock of its own, which ThreadSanitizer cannot see (libQt6Core is not
    // instrumented). The release and acquire here order, visibly to it, everything the poster wrote
    // before the post (the call's captures and whatever they point to) before the call runs.
    struct Posted {
        std::function<void()> fn;
        std::atomic<bool> posted{false};
    };
    auto call = std::make_shared<Posted>();
    call->fn = std::move(fn);
    call->posted.store(true, std::memory_order_release);
    QMetaObject::invokeMethod(
        receiver,
        [call] {
            if (call->posted.load(std::memory_order_acquire)) {
                call->fn();
            }
        },
        Qt::QueuedConnection);
}

}  // namespace vx
