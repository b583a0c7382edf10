#include "app/StationApplication.h"

#include "platform/StationConstants.h"

#include <cstdio>
#include <stdexcept>

StationApplication::StationApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("vandorixserver"));
    setApplicationDisplayName(QString::fromLatin1(vx::kStationTitle));
}

bool StationApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        if (OnException) {
            OnException(receiver, error);
        } else {
            std::fprintf(stderr, "Unhandled error: %s\n", error.what());
        }
    } catch (...) {
        const std::runtime_error unknown("Unknown error");
        if (OnException) {
            OnException(receiver, unknown);
        }
    }
    return false;
}
