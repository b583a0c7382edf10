#pragma once

#include <QApplication>

#include <exception>
#include <functional>

// The application object. Its notify() is the last guard of the event loop: no exception may unwind
// through Qt, so one that escapes an event handler goes to the installed error handler (the window's
// error report) and the loop carries on.
class StationApplication : public QApplication {
public:
    StationApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    std::function<void(QObject* sender, const std::exception& error)> OnException;
};
