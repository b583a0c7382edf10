#pragma once

#include <QString>

#include <atomic>
#include <mutex>

// The window's trace field DebugStr: the name of the handler that runs. Written by the window thread and
// by the worker, read by the error report, hence guarded.
class TraceName {
public:
    TraceName& operator=(const QString& name) {
        std::lock_guard lock(mutex_);
        name_ = name;
        return *this;
    }
    QString value() const {
        std::lock_guard lock(mutex_);
        return name_;
    }

private:
    mutable std::mutex mutex_;
    QString name_;
};
