// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The whole station in the test process, with or without its window, on real or simulated capture and
// codec layers; listener clients on loopback, and the remote-control peer.
#include "app/TMainform.h"
#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "platform/StationConstants.h"
#include "platform/acm/SimulatedAcm.h"
#include "platform/wavein/AlsaWaveIn.h"
#include "platform/wavein/SimulatedWaveIn.h"
#include "platform/wavein/WaveIn.h"
#include "station/Station.h"
#include "support/ChildProcess.h"
#include "support/LoopbackPeer.h"
#include "support/MainformFixture.h"
#include "support/SignalTools.h"
#include "support/StationProbe.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <QDir>
#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vxtest {

// Appends everything a socket receives to out until the peer closes it; false when it did not close in
// time.
inline bool readSocketUntilClosed(int fd, QByteArray& out, int timeoutMs = 10000) {
    char buf[65536];
    return waitUntil(
        [&] {
            for (;;) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) {
                    out.append(buf, n);
                    continue;
                }
                return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
            }
        },
        timeoutMs);
}

const QByteArray kTerminator("\xFF\xFF\xFF\xFF", 4);

// The frequency (whole Hz, 50 to 3000) that carries the most energy in frames [from, to) of a mono
// signal, found with the Goertzel filter; robust against the coding noise of a low bit rate.
inline double dominantFrequency(const std::vector<int16_t>& s, long rate, std::size_t from, std::size_t to) {
    double best = 0.0;
    double bestPower = -1.0;
    for (int hz = 50; hz <= 3000; ++hz) {
        const double w = 2.0 * std::numbers::pi * hz / double(rate);
        const double c = 2.0 * std::cos(w);
        double s1 = 0.0;
        double s2 = 0.0;
        for (std::size_t i = from; i < to; ++i) {
            const double s0 = s[i] / 32768.0 + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
        if (power > bestPower) {
            bestPower = power;
            best = hz;
        }
    }
    return best;
}

// A capture PCM "vxtone" of ALSA's file plugin whose input is a FIFO fed with a sine at the pace of real
// time (ALSA's null device, the plugin's slave, keeps no time of its own), so the real ALSA backend
// records a known signal live, without a sound card. Declare it before the station that records it.
class AlsaToneFifo {
public:
    AlsaToneFifo(const QString& dir, double hz) : hz_(hz) {
        const QString fifo = dir + QStringLiteral("/tone.fifo");
        ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
        // Read-write, so opening does not wait for the reader; non-blocking, so a full pipe (nobody
        // records yet) holds the sine back instead of the feeder.
        fd_ = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        const QByteArray config =
            "pcm.vxtone {\n    type file\n    slave.pcm { type null }\n"
            "    file \"/dev/null\"\n    infile \"" +
            fifo.toUtf8() + "\"\n    format \"raw\"\n}\n";
        configPath_ = writeFile(dir, QStringLiteral("asound.conf"), config);
        feeder_ = std::thread([this] { feed(); });
    }
    ~AlsaToneFifo() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            changed_.notify_all();
        }
        feeder_.join();
        ::close(fd_);
    }
    std::shared_ptr<vx::wavein::WaveIn> device() const {
        return std::make_shared<vx::wavein::AlsaWaveIn>(QStringLiteral("vxtone"), configPath_);
    }

private:
    static constexpr uint32_t kRate = 11025;
    static constexpr uint64_t kChunk = kRate / 21;  // 525 frames, about 48 ms

    void feed() {
        auto next = std::chrono::steady_clock::now();
        uint64_t written = 0;  // frames; the sine continues where the last accepted chunk ended
        std::unique_lock lock(mutex_);
        while (!stop_) {
            const QByteArray chunk = sine16(kRate, 1, hz_, kChunk, written);
            if (::write(fd_, chunk.constData(), std::size_t(chunk.size())) == chunk.size()) {
                written += kChunk;
            }
            next += std::chrono::microseconds(kChunk * 1000000 / kRate);
            changed_.wait_until(lock, next, [this] { return stop_; });
        }
    }

    double hz_;
    int fd_ = -1;
    QString configPath_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::thread feeder_;
};

// The parts a test station is given, offline (/WO) unless a directory URL is given. Its codecs are the
// station's own (LAME) unless the test gives others.
inline void useParts(StationFixture& f, std::shared_ptr<vx::wavein::WaveIn> capture,
                     std::shared_ptr<vx::acm::Acm> codecs, const QString& directoryUrl,
                     const QStringList& icecastTargets) {
    f.env.waveIn = std::move(capture);
    if (codecs) {
        f.env.acm = std::move(codecs);
    }
    f.env.icecastTargets = icecastTargets;
    if (directoryUrl.isEmpty()) {
        f.env.arguments = {QStringLiteral("vandorixserver"), QStringLiteral("/WO")};
    } else {
        writeFile(f.dir.path(), QStringLiteral("Server.ini"), directoryUrl.toUtf8() + "\r\n");
    }
}

// One block of the simulated capture through the worker; true once its run has ended.
inline bool oneBlock(Station& station, vx::wavein::SimulatedWaveIn& capture) {
    const int buffers = capture.queued();
    return capture.fillNext(QByteArray(StationProbe(station).road.codec().InputBufferSize(), 'A')) &&
           waitUntil([&] { return capture.queued() == buffers && StationProbe(station).road.idle(); });
}

inline QStringList mp3CopiesIn(const QString& dir) {
    return QDir(dir).entryList({QStringLiteral("*.mp3")}, QDir::Files);
}

// The station without a window, made of the fixture's parts and started up as a front end starts it,
// nothing changed after. What the window would show in a message box (messages and error reports) is
// recorded in the fixture's dialogs. `aborted`: start-up decided that the program ends (no "Server.ini").
inline std::unique_ptr<Station> startStation(StationFixture& f, bool* aborted = nullptr) {
    auto station = std::make_unique<Station>(f.env);
    const QString caption = QString::fromLatin1(vx::kStationTitle);
    QObject::connect(station.get(), &Station::message,
                     [&f, caption](const QString& text) { f.dialogs.showMessage(caption, text); });
    QObject::connect(station.get(), &Station::errorReport,
                     [&f, caption](const QString& what, const QString& name, int num) {
                         f.dialogs.showMessage(caption, Station::reportText(what, name, num));
                     });
    bool stop = false;
    station->Guarded([&] { stop = !station->startUp(); });
    station->startupFinished();
    if (aborted != nullptr) {
        *aborted = stop;
    }
    return station;
}

// The station without a window, on the parts above, started up as a front end starts it and driven with
// its own commands: a radio name, a free listener port and no listener limit.
class CoreStation : public StationFixture {
public:
    explicit CoreStation(std::shared_ptr<vx::wavein::WaveIn> capture,
                         std::shared_ptr<vx::acm::Acm> codecs = nullptr,
                         const QString& directoryUrl = QString(), const QStringList& icecastTargets = {}) {
        useParts(*this, std::move(capture), std::move(codecs), directoryUrl, icecastTargets);
        station_ = startStation(*this);
        station_->editSettings([](StationSettings& s) {
            s.radioName = QStringLiteral("Testradio");
            s.port = freeTcpPort();
            s.limitListeners = false;
        });
    }

    Station& station() { return *station_; }
    // A command as a front end gives it: what fails ends in the error report.
    template <class... Params, class... Args>
    void command(void (Station::*what)(Params...), Args&&... args) {
        station_->Guarded([&] { ((*station_).*what)(std::forward<Args>(args)...); });
    }
    void start() { command(&Station::Start); }
    void stop() { command(&Station::Stop); }
    int port() const { return station_->settings().port; }
    bool broadcasting() const { return StationProbe(*station_).ServerVandorixClient->Active(); }
    bool oneBlock(vx::wavein::SimulatedWaveIn& c) { return vxtest::oneBlock(*station_, c); }
    // The MP3 copies in the program directory.
    // The MP3 copy's writer has made or closed what it was asked to (it does so on its own thread).
    bool filesSettled() const {
        return waitUntil([&] { return StationProbe(*station_).road.mp3File().settled(); });
    }
    QStringList mp3Copies() const {
        filesSettled();
        return mp3CopiesIn(dir.path());
    }

private:
    std::unique_ptr<Station> station_;
};

// The window around the station on the parts above, with a radio name, a free listener port and no
// listener limit: for what the window shows and its buttons.
class LiveStation : public MainformFixture {
public:
    explicit LiveStation(std::shared_ptr<vx::wavein::WaveIn> capture,
                         std::shared_ptr<vx::acm::Acm> codecs = nullptr,
                         const QString& directoryUrl = QString(), const QStringList& icecastTargets = {}) {
        useParts(*this, std::move(capture), std::move(codecs), directoryUrl, icecastTargets);
        TMainform& f = create();
        f.RadioName->setText(QStringLiteral("Testradio"));
        f.VandorixClientport->setValue(freeTcpPort());
        f.Beschr->setChecked(false);
    }

    TMainform& w() { return *form; }
    int port() const { return form->VandorixClientport->value(); }
    bool broadcasting() const { return StationProbe(form->station()).ServerVandorixClient->Active(); }
    bool settingsLocked() const {
        return !form->Connectrbtn->isEnabled() && form->Disconnectrbtn->isEnabled() &&
               !form->VandorixClientport->isEnabled() && !form->OutpForm->isEnabled();
    }
    bool settingsUnlocked() const {
        return form->Connectrbtn->isEnabled() && !form->Disconnectrbtn->isEnabled() &&
               form->VandorixClientport->isEnabled() && form->OutpForm->isEnabled();
    }
    bool oneBlock(vx::wavein::SimulatedWaveIn& c) { return vxtest::oneBlock(form->station(), c); }
    bool filesSettled() const {
        return waitUntil([&] { return StationProbe(form->station()).road.mp3File().settled(); });
    }
    QStringList mp3Copies() const {
        filesSettled();
        return mp3CopiesIn(dir.path());
    }
};

// A client that plays the listener program: its agent, then the 514-byte station header, then audio.
inline std::unique_ptr<LoopbackPeer> listenerProgram(int port) {
    auto peer = std::make_unique<LoopbackPeer>(port);
    peer->write("KT-VandorixClient v30");
    return peer;
}

// A remote-control peer, optionally from another local source address (127.0.0.2 and the like).
class RemotePeer {
public:
    RemotePeer(int port, const char* source = nullptr) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (source != nullptr) {
            sockaddr_in s{};
            s.sin_family = AF_INET;
            ::inet_pton(AF_INET, source, &s.sin_addr);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&s), sizeof s) != 0) {
                ::close(fd_);  // not from the address the test meant: every send of this peer fails
                fd_ = -1;
                return;
            }
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RemotePeer() { ::close(fd_); }
    bool connected() const { return connected_; }

    // Sends the bytes and ends the sending side: the station reads everything before it sees the end,
    // so once it has released the connection the command has been handled.
    bool sendLast(const QByteArray& bytes) {
        const bool sent =
            ::send(fd_, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
        ::shutdown(fd_, SHUT_WR);
        return sent;
    }
    // Everything the station sent until it closed; false when it did not close in time.
    bool readUntilClosed(QByteArray& out, int timeoutMs = 10000) {
        return readSocketUntilClosed(fd_, out, timeoutMs);
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

// The station's own codecs behind a gate: each conversion records its input and waits until the test
// opens the gate, and a stream close during a conversion is noted.
class GatedAcm : public vx::acm::SimulatedAcm {
public:
    uint32_t streamConvert(vx::acm::HACMSTREAM stream, vx::acm::ACMSTREAMHEADER* header,
                           uint32_t flags) override {
        std::unique_lock lock(mutex_);
        ++converting_;
        inputs_.emplace_back(reinterpret_cast<const char*>(header->pbSrc), qsizetype(header->cbSrcLength));
        changed_.notify_all();
        changed_.wait(lock, [this] { return gateOpen_; });
        const uint32_t result = SimulatedAcm::streamConvert(stream, header, flags);
        --converting_;
        return result;
    }
    uint32_t streamClose(vx::acm::HACMSTREAM stream, uint32_t flags) override {
        {
            std::lock_guard lock(mutex_);
            closedDuringConversion_ |= converting_ > 0;
        }
        return SimulatedAcm::streamClose(stream, flags);
    }
    void openGate() {
        std::lock_guard lock(mutex_);
        gateOpen_ = true;
        changed_.notify_all();
    }
    int conversions() const {
        std::lock_guard lock(mutex_);
        return int(inputs_.size());
    }
    QByteArray input(int i) const {
        std::lock_guard lock(mutex_);
        return inputs_.at(std::size_t(i));
    }
    bool closedDuringConversion() const {
        std::lock_guard lock(mutex_);
        return closedDuringConversion_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool gateOpen_ = false;
    int converting_ = 0;
    bool closedDuringConversion_ = false;
    std::vector<QByteArray> inputs_;
};

}  // namespace vxtest
