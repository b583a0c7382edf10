// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ErrorLine.h"
#include "platform/StationConstants.h"

#include <QCoreApplication>

#include <exception>
#include <functional>
#include <stdexcept>

// The application object, with or without widgets. Its notify() is the last guard of the event loop: no
// exception may unwind through Qt, so one that escapes an event handler goes to the installed error
// handler (the station's error report) and the loop carries on.
template <class App>
class GuardedApplication : public App {
public:
    GuardedApplication(int& argc, char** argv) : App(argc, argv) {
        App::setApplicationName(QStringLiteral("vandorixserver"));
    }

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return App::notify(receiver, event);
        } catch (const std::exception& error) {
            report(receiver, error);
        } catch (...) {
            report(receiver, std::runtime_error("Unknown error"));
        }
        return false;
    }

    std::function<void(QObject* sender, const std::exception& error)> OnException;

private:
    void report(QObject* receiver, const std::exception& error) {
        if (OnException) {
            OnException(receiver, error);
        } else {
            vx::writeErrorLine(QStringLiteral("Unhandled error: ") + QString::fromUtf8(error.what()));
        }
    }
};

// A station without a display: no widget, no platform plugin.
using StationCoreApplication = GuardedApplication<QCoreApplication>;
