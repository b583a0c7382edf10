#include "app/StationApplication.h"

StationApplication::StationApplication(int& argc, char** argv)
    : GuardedApplication<QApplication>(argc, argv) {
    setApplicationDisplayName(QString::fromLatin1(vx::kStationTitle));
}
