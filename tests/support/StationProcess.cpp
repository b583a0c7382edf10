// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/StationProcess.h"

#include "settings/TOptionsRecord.h"

#include <QDir>
#include <QFile>

namespace vxtest {

QString binPath(const QString& name) {
    return QDir::cleanPath(QStringLiteral(VX_BIN_DIR "/") + name);
}

QString sourcePath(const QString& relative) {
    return QDir::cleanPath(QStringLiteral(VX_TEST_DATA_DIR "/../../") + relative);
}

QStringList noDisplayVariables() {
    return {QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("QT_QPA_PLATFORM")};
}

QString childSanitizerOptions() {
    return QStringLiteral("TSAN_OPTIONS=report_bugs=0");
}

QString writeDemoSettings(const QString& dir, int listenerPort) {
    writeFile(dir, QStringLiteral("Server.ini"), "http://127.0.0.1:9/vandorixdb/\n");
    TOptionsRecord demo =
        TOptionsRecord::fromBytes(readFile(sourcePath(QStringLiteral("scripts/demo/Optionen.ini"))));
    demo.Port = listenerPort;
    return writeFile(dir, QStringLiteral("Optionen.ini"), demo.toBytes());
}

std::unique_ptr<ChildProcess> startStation(const QString& dataDir, int remotePort, const QStringList& more,
                                           StationErrors errors, const QString& capture) {
    const QStringList args = QStringList{binPath(QStringLiteral("vandorixserver")),
                                         QStringLiteral("/WO"),
                                         QStringLiteral("--data-dir"),
                                         dataDir,
                                         QStringLiteral("--capture-device"),
                                         capture,
                                         QStringLiteral("--remote-port"),
                                         QString::number(remotePort)} +
                             more;
    if (errors == StationErrors::Own) {
        return std::make_unique<ChildProcess>(args.first(), args.mid(1), QStringList{childSanitizerOptions()},
                                              noDisplayVariables());
    }
    return std::make_unique<ChildProcess>(
        QStringLiteral("/bin/sh"),
        QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" 2>&1")} + args,
        QStringList{childSanitizerOptions()}, noDisplayVariables());
}

bool catchesSignal(qint64 pid, int signal) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return false;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
        }
    }
    return false;
}

int runVandorixctl(const QStringList& args, QByteArray* out) {
    ChildProcess p(binPath(QStringLiteral("vandorixctl")), args);
    const bool done = p.waitForFinished(15000);
    if (out != nullptr) {
        *out = p.output();
    }
    return done ? p.exitCode() : -1;
}

StationProcess::StationProcess(const QString& capture, const QStringList& more, int statusPortToUse)
    : statusPort(statusPortToUse) {
    writeDemoSettings(dir.path(), listenerPort);
    process = startStation(
        dir.path(), remotePort,
        QStringList{QStringLiteral("--status-listen"), QStringLiteral("127.0.0.1:%1").arg(statusPort)} + more,
        StationErrors::InOutput, capture);
}

StationProcess::~StationProcess() {
    if (ctl({QStringLiteral("Ende")}) == 0) {
        process->waitForFinished(20000);
    }
}

int StationProcess::ctl(const QStringList& args, QByteArray* out) const {
    return runVandorixctl(QStringList{QStringLiteral("--port"), QString::number(remotePort),
                                      QStringLiteral("--status-port"), QString::number(statusPort)} +
                              args,
                          out);
}

int StationProcess::status(QByteArray* out, const QStringList& more) const {
    return runVandorixctl(
        QStringList{QStringLiteral("status"), QStringLiteral("--status-port"), QString::number(statusPort)} +
            more,
        out);
}

}  // namespace vxtest
