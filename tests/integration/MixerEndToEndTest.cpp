// SPDX-License-Identifier: GPL-3.0-or-later
// The recording source on a real sound server: a PulseAudio daemon of the test's own with a null output
// that plays a 440 Hz tone and a null input; the station detects the output's monitor, records it through
// ALSA's pulse plugin, sets its volume, and restores the choice at its next start.
#include "StationHarness.h"
#include "platform/mixerapi/PulseMixer.h"
#include "support/StationProbe.h"
#include "ui/TSlider.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QtEndian>

#include <sys/un.h>

using vxtest::ChildProcess;

namespace {

constexpr int kHeaderSize = 514;

// A PulseAudio daemon in a private runtime folder, reached through its own socket; the process's
// PULSE_SERVER points at it while it lives, so the mixer and ALSA's pulse plugin both find it.
class PulseDaemon {
public:
    PulseDaemon() : socket_(dir_.path() + QStringLiteral("/native")) {
        const QString runtime = dir_.path() + QStringLiteral("/runtime");
        QDir().mkpath(runtime);
        // As root the daemon warns that it is meant for a user session; --system=false keeps it one.
        // It dies with the test (setpriv's parent-death signal), so a test that crashes leaves no daemon
        // holding the test's output open.
        daemon_ = std::make_unique<ChildProcess>(
            QStringLiteral("setpriv"),
            QStringList{
                QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), QStringLiteral("--"),
                QStringLiteral("pulseaudio"), QStringLiteral("--daemonize=no"),
                QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"), QStringLiteral("--system=false"),
                QStringLiteral("--use-pid-file=false"), QStringLiteral("--log-level=error"),
                QStringLiteral("--load=module-null-sink sink_name=vxsink "
                               "sink_properties=device.description=VxSink"),
                QStringLiteral("--load=module-null-source source_name=vxin description=VxInput"),
                QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socket_},
            QStringList{QStringLiteral("XDG_RUNTIME_DIR=") + runtime,
                        QStringLiteral("PULSE_RUNTIME_PATH=") + runtime,
                        QStringLiteral("HOME=") + dir_.path()},
            QStringList{QStringLiteral("PULSE_SERVER")});
        previousServer_ = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", server().toUtf8());
    }
    ~PulseDaemon() {
        if (previousServer_.isNull()) {
            qunsetenv("PULSE_SERVER");
        } else {
            qputenv("PULSE_SERVER", previousServer_);
        }
    }

    QString server() const { return QStringLiteral("unix:") + socket_; }
    QString folder() const { return dir_.path(); }

    // Until the daemon accepts on its socket (or has ended).
    bool waitUntilListening() {
        return vxtest::waitUntil([this] {
                   const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                   sockaddr_un a{};
                   a.sun_family = AF_UNIX;
                   std::strncpy(a.sun_path, QFile::encodeName(socket_).constData(), sizeof a.sun_path - 1);
                   const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
                   ::close(fd);
                   return up || daemon_->waitForFinished(0);
               }) &&
               !daemon_->waitForFinished(0);
    }

    // Runs pactl against the daemon; its standard output.
    QByteArray pactl(const QStringList& args) {
        ChildProcess p(QStringLiteral("pactl"), args);
        p.waitForFinished();
        return p.output();
    }

private:
    QTemporaryDir dir_;
    QString socket_;
    QByteArray previousServer_;
    std::unique_ptr<ChildProcess> daemon_;
};

// A mono 16-bit WAV file of a sine.
QString writeToneFile(const QString& dir, double hz, int seconds) {
    constexpr uint32_t rate = 11025;
    const QByteArray pcm = vxtest::sine16(rate, 1, hz, uint64_t(rate) * uint64_t(seconds));
    QByteArray wav("RIFF....WAVEfmt ");
    auto u32 = [&wav](uint32_t v) {
        char b[4];
        qToLittleEndian(v, b);
        wav.append(b, 4);
    };
    auto u16 = [&wav](uint16_t v) {
        char b[2];
        qToLittleEndian(v, b);
        wav.append(b, 2);
    };
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    wav.append("data");
    u32(uint32_t(pcm.size()));
    wav.append(pcm);
    qToLittleEndian(uint32_t(wav.size() - 8), wav.data() + 4);
    return vxtest::writeFile(dir, QStringLiteral("tone.wav"), wav);
}

// The window on a temporary program directory, offline, recording through ALSA's pulse plugin.
class LiveStation : public vxtest::MainformFixture {
public:
    explicit LiveStation(const QString& dataDir = {}) {
        if (!dataDir.isEmpty()) {
            env.dataDir = dataDir;
        }
        env.arguments = {QStringLiteral("vandorixserver"), QStringLiteral("/WO")};
        env.waveIn = std::make_shared<vx::wavein::AlsaWaveIn>(QStringLiteral("pulse"));
        env.mixer = std::make_shared<vx::mixerapi::PulseMixer>();
        TMainform& w = create();
        w.RadioName->setText(QStringLiteral("Testradio"));
        w.VandorixClientport->setValue(vxtest::freeTcpPort());
        w.Beschr->setChecked(false);
    }
    QStringList items() const {
        QStringList out;
        for (int i = 0; i < form->AudioQuelle->count(); ++i) {
            out.append(form->AudioQuelle->itemText(i));
        }
        return out;
    }
    int port() const { return form->VandorixClientport->value(); }
};

// The dominant frequency and the level of the last second a listener received.
struct Heard {
    double hz = 0.0;
    double level = 0.0;
};
Heard lastSecond(const QByteArray& stream) {
    const vxtest::Decoded d = vxtest::decodeMp3(stream.mid(kHeaderSize));
    if (!d.ok || d.rate <= 0 || d.frameCount() < std::size_t(2 * d.rate)) {
        return {};
    }
    const std::size_t to = d.frameCount();
    const std::size_t from = to - std::size_t(d.rate);
    return {vxtest::dominantFrequency(d.samples, d.rate, from, to),
            vxtest::rms(d.samples, d.channels, 0, from, to)};
}

// Waits until the listener has received `seconds` more seconds of audio (about 2 kB each).
bool receiveSeconds(vxtest::LoopbackPeer& listener, int seconds) {
    const qsizetype target = listener.received().size() + seconds * 2000;
    return vxtest::waitUntil([&] { return listener.received().size() >= target; }, 30000);
}

}  // namespace

TEST(MixerEndToEnd, TheStationRecordsWhatTheServerPlaysAtTheVolumeOfItsSlider) {
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty()) {
        GTEST_SKIP() << "the pulseaudio daemon is not installed (scripts/install-deps.sh installs it)";
    }
    PulseDaemon pulse;
    ASSERT_TRUE(pulse.waitUntilListening()) << "the PulseAudio daemon did not start";
    ChildProcess player(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("vxsink"),
                                                   writeToneFile(pulse.folder(), 440.0, 300)});
    ASSERT_TRUE(player.started());

    LiveStation first;  // its folder outlives its window
    TMainform* w = first.form.get();
    EXPECT_EQ(first.items(),
              (QStringList{"Eigene Einstellungen", "Aufnahme", "Monitor of VxSink", "VxInput"}));
    ASSERT_TRUE(w->AudioQuelle->isEnabled());

    w->AutoDetectBtn->click();
    EXPECT_EQ(w->AudioQuelle->currentIndex(), 2);
    EXPECT_EQ(first.dialogs.messages, QStringList{w->Msg(48)});
    EXPECT_EQ(pulse.pactl({QStringLiteral("get-default-source")}).trimmed(), QByteArray("vxsink.monitor"));
    EXPECT_EQ(w->AudioLautst->Value(), 65535) << "the monitor's volume, 100 %";

    w->Connectrbtn->click();
    ASSERT_TRUE(StationProbe(w->station()).ServerVandorixClient->Active())
        << first.dialogs.messages.join('|').toStdString();
    auto listener = vxtest::listenerProgram(first.port());
    ASSERT_TRUE(receiveSeconds(*listener, 4)) << "no audio reached the listener";
    const Heard tone = lastSecond(listener->received());
    EXPECT_NEAR(tone.hz, 440.0, 2.0);
    EXPECT_GT(tone.level, 0.1);

    w->AudioLautst->setValue(49151);
    EXPECT_TRUE(pulse.pactl({QStringLiteral("get-source-volume"), QStringLiteral("vxsink.monitor")})
                    .contains("front-left: 49152 /  75%"));
    w->AudioLautst->setValue(0);
    const QByteArray silent =
        pulse.pactl({QStringLiteral("get-source-volume"), QStringLiteral("vxsink.monitor")});
    EXPECT_TRUE(silent.contains("front-left: 0 /   0%") && silent.contains("front-right: 0 /   0%"))
        << silent.data();
    ASSERT_TRUE(receiveSeconds(*listener, 4));
    EXPECT_LT(lastSecond(listener->received()).level, 0.01) << "the slider at 0 did not silence the stream";

    // Keep the choice, change the server behind the station's back, and start again.
    w->LautstOptionsspeichern->click();
    w->Disconnectrbtn->click();
    first.form.reset();
    pulse.pactl({QStringLiteral("set-default-source"), QStringLiteral("vxin")});
    pulse.pactl(
        {QStringLiteral("set-source-volume"), QStringLiteral("vxsink.monitor"), QStringLiteral("100%")});

    LiveStation again(first.dir.path());
    EXPECT_TRUE(again.dialogs.messages.isEmpty()) << again.dialogs.messages.join('|').toStdString();
    EXPECT_EQ(again.form->AudioQuelle->currentIndex(), 2);
    EXPECT_TRUE(again.form->LautstOptionsspeichern->isChecked());
    EXPECT_EQ(pulse.pactl({QStringLiteral("get-default-source")}).trimmed(), QByteArray("vxsink.monitor"));
    EXPECT_TRUE(pulse.pactl({QStringLiteral("get-source-volume"), QStringLiteral("vxsink.monitor")})
                    .contains("front-left: 0 /   0%"));

    // The chosen input goes away (a device unplugged): the broadcast goes on, and so does the window.
    again.form->AudioLautst->setValue(65535);
    again.form->Connectrbtn->click();
    ASSERT_TRUE(StationProbe(again.form->station()).ServerVandorixClient->Active());
    auto second = vxtest::listenerProgram(again.port());
    again.form->AudioQuelle->setCurrentIndex(3);
    emit again.form->AudioQuelle->activated(3);
    EXPECT_EQ(pulse.pactl({QStringLiteral("get-default-source")}).trimmed(), QByteArray("vxin"));
    ASSERT_TRUE(receiveSeconds(*second, 2));
    pulse.pactl({QStringLiteral("unload-module"), QStringLiteral("module-null-source")});
    ASSERT_TRUE(vxtest::waitUntil([&] {
        return !pulse.pactl({QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")})
                    .contains("vxin");
    }));
    again.form->AudioLautst->setValue(1000);
    emit again.form->AudioQuelle->activated(3);
    EXPECT_TRUE(receiveSeconds(*second, 3)) << "the broadcast stopped with its source";
    EXPECT_TRUE(StationProbe(again.form->station()).ServerVandorixClient->Active());
    EXPECT_TRUE(again.dialogs.messages.isEmpty()) << again.dialogs.messages.join('|').toStdString();
    again.form->Disconnectrbtn->click();
}
