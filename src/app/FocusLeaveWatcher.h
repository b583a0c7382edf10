// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QEvent>
#include <QFocusEvent>
#include <QObject>

#include <functional>

// Calls a function each time the keyboard focus leaves the watched widget for another control of the
// window (the widget's exit event). The window losing activation, or a popup menu taking the focus for a
// moment, is no exit. Owned by the watched widget.
class FocusLeaveWatcher : public QObject {
public:
    FocusLeaveWatcher(QObject* watched, std::function<void()> onLeave)
        : QObject(watched), onLeave_(std::move(onLeave)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut && watched == parent()) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
                onLeave_();
            }
        }
        return false;
    }

private:
    std::function<void()> onLeave_;
};
