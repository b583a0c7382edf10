#pragma once

#include <QString>
#include <QStringList>

class UserDialogs;

// What main() (or a test) hands the window: the program directory, the command line and the platform
// backends. The window owns none of these.
struct StationEnvironment {
    QString dataDir;        // plays the part of the program directory: settings files, MP3 copies
    QStringList arguments;  // command line after Qt took its own options; [0] is the program
    UserDialogs* dialogs = nullptr;
};
