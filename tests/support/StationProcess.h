// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The built programs as their own processes: where they are, the data folder a station process starts
// on, and the station process itself, driven with vandorixctl.
#include "support/ChildProcess.h"
#include "support/TestSupport.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

namespace vxtest {

// A program of the build ("vandorixserver", "vandorixctl", "lang"); empty: the folder they are in.
QString binPath(const QString& name);
// A path below the source tree's root ("scripts/demo/Optionen.ini").
QString sourcePath(const QString& relative);

// Without a display, as on a server: the station picks Qt's offscreen platform itself.
QStringList noDisplayVariables();
// Qt's own pooled threads in a child process synchronise inside the uninstrumented Qt libraries, which
// reads as races under ThreadSanitizer. These processes are checked for what they do; the station's
// threads are checked in-process.
QString childSanitizerOptions();

// A data folder like the demo's: its settings with `listenerPort`, and a directory nobody answers at.
// Returns the path of its "Optionen.ini".
QString writeDemoSettings(const QString& dir, int listenerPort);

// A station process: "/WO --data-dir DIR --capture-device CAPTURE --remote-port PORT", then `more`.
enum class StationErrors { Own, InOutput };  // its standard error: the test's, or on the output it reads
std::unique_ptr<ChildProcess> startStation(const QString& dataDir, int remotePort,
                                           const QStringList& more = {},
                                           StationErrors errors = StationErrors::Own,
                                           const QString& capture = QStringLiteral("tone"));

// The process has installed its handler of `signal` once the kernel reports the signal as caught.
bool catchesSignal(qint64 pid, int signal = SIGTERM);

// vandorixctl with these arguments; its exit code, -1 when it did not end. `out` takes its output.
int runVandorixctl(const QStringList& args, QByteArray* out = nullptr);

// A headless station process on the demo settings and free ports of its own, its standard error on
// the output the test reads; at its end it is told "Ende".
class StationProcess {
public:
    explicit StationProcess(const QString& capture = QStringLiteral("tone"), const QStringList& more = {},
                            int statusPortToUse = freeTcpPort());
    ~StationProcess();
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // vandorixctl on this station's remote and status ports.
    int ctl(const QStringList& args, QByteArray* out = nullptr) const;
    // "vandorixctl status" of this station's status port.
    int status(QByteArray* out = nullptr, const QStringList& more = {}) const;
    QByteArray output() { return process->output(); }

    QTemporaryDir dir;
    int remotePort = freeTcpPort();
    int listenerPort = freeTcpPort();
    int statusPort;
    std::unique_ptr<ChildProcess> process;
};

}  // namespace vxtest
