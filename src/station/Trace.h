// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ThreadSafety.h"

#include <QString>

#include <atomic>

// The window's trace field DebugStr: the name of the handler that runs. Written by the window thread and
// by the worker, read by the error report, hence guarded. The text is copied in and out whole, so no
// string data is ever shared between threads: the last reference to shared data may be dropped inside
// Qt, whose reference counts the race checker cannot see.
class TraceName {
public:
    TraceName& operator=(const QString& name) {
        vx::MutexLock lock(mutex_);
        name_ = QString(name.constData(), name.size());
        return *this;
    }
    QString value() const {
        vx::MutexLock lock(mutex_);
        return QString(name_.constData(), name_.size());
    }

private:
    mutable vx::Mutex mutex_;
    QString name_ GUARDED_BY(mutex_);
};
