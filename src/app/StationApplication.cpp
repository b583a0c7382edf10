#include "app/StationApplication.h"

#include "platform/ErrorLine.h"
#include "platform/StationConstants.h"

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
            vx::writeErrorLine(QStringLiteral("Unhandled error: ") + QString::fromUtf8(error.what()));
        }
    } catch (...) {
        const std::runtime_error unknown("Unknown error");
        if (OnException) {
            OnException(receiver, unknown);
        }
    }
    return false;
}
