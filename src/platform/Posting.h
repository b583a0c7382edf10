#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>

// The one way a notice from another thread reaches the thread that owns a component: a queued call onto
// the receiver's thread, delivered in posting order. Thread contract: callable from any thread.
namespace vx {

// Runs fn later on receiver's thread. Dropped silently if receiver is destroyed first.
inline void postTo(QObject* receiver, std::function<void()> fn) {
    QMetaObject::invokeMethod(receiver, std::move(fn), Qt::QueuedConnection);
}

}  // namespace vx
