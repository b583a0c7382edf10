// SPDX-License-Identifier: GPL-3.0-or-later
// The station's entry: builds the platform backends from the command line, creates the window (or, without a
// display, the station and its console reporter) and runs the event loop until it closes.
#include "app/CommandLine.h"
#include "app/HeadlessStation.h"
#include "app/SignalCloser.h"
#include "app/StationApplication.h"
#include "app/SystemdNotifier.h"
#include "app/TMainform.h"
#include "platform/ErrorLine.h"
#include "platform/FileLimit.h"
#include "platform/acm/PlatformAcm.h"
#include "platform/language/LanguageChoice.h"
#include "platform/mixerapi/PulseMixer.h"
#include "platform/wavein/WaveIn.h"
#include "status/StatusService.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

// Without a display the station runs without widgets. "-platform" asks for the window on a Qt platform
// all the same (offscreen, say).
bool runsHeadless(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (QByteArrayView(argv[i]) == "-platform") {
            return false;
        }
    }
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The backends that follow the display: the station's codecs with the format dialog (or the headless
// answer), and the recording source and volume through the desktop's sound server (PulseAudio, or
// PipeWire's PulseAudio service), wherever libpulse finds it; without one the mixer controls stay
// disabled.
void chooseDialogBackends(StationEnvironment& env, UserDialogs* dialogs) {
    env.dialogs = dialogs;
    env.mixer = std::make_shared<vx::mixerapi::PulseMixer>();
    env.acm = std::make_shared<vx::acm::PlatformAcm>(
        [dialogs](const TAudioFormat& current, const std::vector<vx::acm::FormatChoice>& offered) {
            return dialogs->chooseAudioFormat(current, offered);
        });
}

// The MP3 copy, the recording, the playback or the start: each runs once the event loop runs, as the
// button would, since the playback's waits need it. systemd hears that the station is ready once it is
// up, or with --start on the air; a start that fails ends the program.
// With --start every port of the station's own must be open: a service whose remote control or status
// port another program holds would answer for another station. The lines saying why are out already.
bool ownPortsOpen(const Station& station, const CommandLine& cl, const vx::status::StatusService* status) {
    return station.remoteControlListening() && (!cl.status.enabled || status != nullptr);
}

// After a signal the close may end a start still under way; that is no failed start.
void scheduleDaemonActions(Station& station, const CommandLine& cl, SystemdNotifier& notifier, bool portsOpen,
                           const SignalCloser& closer) {
    if (cl.mp3Copy) {
        station.editSettings([](StationSettings& s) { s.mp3Copy = true; });
    }
    if (!cl.playFile.isEmpty()) {
        station.editSettings([&cl](StationSettings& s) { s.loop = cl.loop; });
        QTimer::singleShot(0, &station, [&station, playFile = cl.playFile] {
            station.Guarded([&] { station.PlayfromFile(playFile); });
        });
    }
    if (!cl.recordFile.isEmpty()) {
        QTimer::singleShot(0, &station, [&station, recordFile = cl.recordFile] {
            station.Guarded([&] {
                station.RecordtoFile(recordFile);
                station.StartRecording();
            });
        });
    }
    if (!cl.start) {
        notifier.ready();
        return;
    }
    QTimer::singleShot(0, &station, [&station, &notifier, portsOpen, &closer] {
        if (!portsOpen) {
            vx::writeErrorLine(QStringLiteral("Not started: a port of the station's own cannot be opened"));
            QCoreApplication::exit(1);
            return;
        }
        station.Guarded([&] { station.Start(); });
        if (closer.signalled()) {
            return;  // the close sets the exit code
        }
        if (!onAir(station.state())) {
            QCoreApplication::exit(1);  // the report is out; a service manager may try again
            return;
        }
        notifier.ready();
    });
}

// Options, language and backends: an exit code when the program ends at once (--help, --version, a
// refusal), with what it has to say on standard output or error.
std::optional<int> prepare(StationEnvironment& env, CommandLine& cl, UserDialogs* dialogs) {
    const QStringList args = QCoreApplication::arguments();
    const CommandLineOutcome outcome = parseCommandLine(args, cl);
    std::fputs(outcome.output.toUtf8().constData(), stdout);
    if (!outcome.error.isEmpty()) {
        vx::writeErrorLine(outcome.error);
    }
    if (outcome.exitCode) {
        return outcome.exitCode;
    }
    env.dataDir =
        QDir(cl.dataDir.isEmpty() ? QCoreApplication::applicationDirPath() : cl.dataDir).absolutePath();
    QString captureError;
    env.waveIn = vx::wavein::createWaveIn(cl.captureDevice, &captureError);
    if (!env.waveIn) {
        vx::writeErrorLine(captureError);
        return 2;
    }
    env.remoteControlPort = cl.remotePort;
    env.remoteControlAddress = cl.remoteListen;
    env.icecastTargets = cl.icecastTargets;
    env.webListen = cl.webListen;
    env.webBurstBytes = cl.webBurstBytes;
    env.publicUrl = cl.publicUrl;
    if (!cl.settings.empty()) {
        env.settingsOverride = [overrides = cl.settings](StationSettings& s) { overrides.applyTo(s); };
    }
    QStringList languageArgs = QStringList{args.value(0)} + cl.languageArguments;
    QString languageError;
    const std::optional<int> language = vx::language::chooseLanguage(
        languageArgs, vx::language::LocaleVariables::fromEnvironment(), &languageError);
    if (!language) {
        vx::writeErrorLine(languageError);
        return 2;
    }
    env.language = *language;
    chooseDialogBackends(env, dialogs);
    env.arguments = cl.arguments;  // the program and "/WO", if given
    return std::nullopt;
}

// Start-up ended the program at once: "Server.ini" is missing. The message says which file; this says
// where, since a service's folder is not the one an admin has in mind.
int missingServerFile(const StationEnvironment& env) {
    vx::writeErrorLine(
        QStringLiteral("Server.ini is missing in %1 (--data-dir chooses the folder)").arg(env.dataDir));
    return 1;
}

// A remote "Ende" ends the process at once; systemd hears first that it was asked to.
void tellStoppingBeforeEnde(Station& station, SystemdNotifier& notifier) {
    station.beforeProcessEnd([&notifier] { notifier.stopping(); });
}

// The window as a front end: the station inside it, its close the window's close.
class WindowFrontEnd : public FrontEnd {
public:
    explicit WindowFrontEnd(const StationEnvironment& env) : form_(env) {}
    Station& station() override { return form_.station(); }
    bool StartupAborted() const override { return form_.StartupAborted(); }
    // The last window closed ends the event loop.
    bool closeForSignal() override { return form_.close(); }
    void show() override {
        form_.show();
        form_.Mp3Aufz->setChecked(form_.station().settings().mp3Copy);
        form_.Loop->setChecked(form_.station().settings().loop);
    }

private:
    TMainform form_;
};

// The one start-up and close of the program, with or without a display: the application object, the
// dialogs and the front end are the only difference.
template <class Application, class Dialogs, class Front>
int run(int argc, char** argv) {
    Application app(argc, argv);
    Dialogs dialogs;
    StationEnvironment env;
    CommandLine cl;
    if (const std::optional<int> exitCode = prepare(env, cl, &dialogs)) {
        return *exitCode;
    }
    Front front(env);
    Station& station = front.station();
    app.OnException = [&station](QObject*, const std::exception& e) { station.AppException(e); };
    if (front.StartupAborted()) {
        return missingServerFile(env);
    }
    SystemdNotifier notifier(station);
    tellStoppingBeforeEnde(station, notifier);
    SignalCloser closer(station, [&front] { return front.closeForSignal(); });
    closer.OnSignal = [&notifier] { notifier.stopping(); };
    const auto status = vx::status::startStatus(station, cl.status);
    scheduleDaemonActions(station, cl, notifier, ownPortsOpen(station, cl, status.get()), closer);
    front.show();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    vx::raiseOpenFileLimit();  // thousands of listeners need as many descriptors
    // Without a display: the station and a console reporter, no widget.
    return runsHeadless(argc, argv)
               ? run<StationCoreApplication, HeadlessUserDialogs, HeadlessStation>(argc, argv)
               : run<StationApplication, QtUserDialogs, WindowFrontEnd>(argc, argv);
}
