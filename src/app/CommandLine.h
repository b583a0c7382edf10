// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/StationConstants.h"
#include "station/StationSettings.h"

#include "status/StatusOptions.h"

#include <QString>
#include <QStringList>

#include <optional>

// Fields of the station's settings that the configuration file and the command line set; a field that
// neither names keeps what "Optionen.ini" gave it.
struct SettingsOverrides {
    std::optional<int> port;
    std::optional<QString> radioName;
    std::optional<QString> extRadioName;
    std::optional<QString> email;
    std::optional<QString> password;
    std::optional<QString> upload;
    std::optional<bool> limitListeners;
    std::optional<QString> infoText;
    // Not a field of the record: the web port's address ("off" included), which the service's
    // configuration file names too; --web-listen takes it from here.
    std::optional<QString> webListen;

    bool empty() const;
    void applyTo(StationSettings& settings) const;
};

// Everything vandorixserver's own options ask for, checked. Options are grouped by what they serve;
// each group is declared and taken in CommandLine.cpp (see kGroups there).
struct CommandLine {
    // The station and its backends.
    QString dataDir;  // empty: the executable's folder
    QString captureDevice = QStringLiteral("alsa:default");
    int remotePort = vx::kDefaultRemoteControlPort;
    QString remoteListen;  // an IPv4 address; empty: every address
    QStringList icecastTargets;
    QStringList languageArguments;  // "--language VALUE", for the language choice, or nothing
    // The program and "/WO" when given: what the station reads as its arguments.
    QStringList arguments;

    // What a daemon has no click for.
    bool mp3Copy = false;
    QString playFile;
    QString recordFile;
    bool loop = false;
    bool start = false;  // broadcast from start-up; a failed start ends the program

    // The record's fields: the configuration file's first, then the command line's.
    SettingsOverrides settings;

    // The status port and the dead-air check.
    vx::status::StatusOptions status;

    // The web port: "ADDR:PORT", empty when off; the burst; the stream's public address.
    QString webListen = QStringLiteral("[::]:%1").arg(vx::kDefaultWebPort);
    int webBurstBytes = 48 * 1024;
    QString publicUrl;
};

// What parsing decided: run, or end at once with exitCode after writing `output` to standard output and
// `error` to standard error.
struct CommandLineOutcome {
    std::optional<int> exitCode;
    QString output;
    QString error;
};

// Parses the arguments (the program first, Qt's own options already taken off) into `into`, reading
// the configuration and password files they name. Exit code 0 for --help and --version, 2 for anything
// refused.
CommandLineOutcome parseCommandLine(const QStringList& arguments, CommandLine& into);

// A line of the configuration file that names no setting: an option of the command line, or unknown.
struct ConfigOptionLine {
    int line = 0;
    QString key;
    QString value;
};

// The configuration file's text, read into `into` (later keys win). False, with the reason naming the
// file, its line and the key, when a line is not a setting with a valid value; with `options`, a key
// that names no setting is kept there instead, for the caller to judge as an option.
bool readConfigText(const QString& text, const QString& fileName, SettingsOverrides& into, QString& error,
                    QList<ConfigOptionLine>* options = nullptr);
