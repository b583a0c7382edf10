// SPDX-License-Identifier: GPL-3.0-or-later
// Playing a recording out: to mpg123 and listener programs pass by pass, the refusals of files that
// cannot be played, and a playback during a live broadcast.
#include "StationHarness.h"
#include "platform/acm/Codecs.h"
#include "platform/acm/PlatformAcm.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStandardPaths>

#include <sys/stat.h>

using vxtest::CoreStation;
using vxtest::LiveStation;

namespace {

constexpr int kHeaderSize = 514;
constexpr int kFormatSize = TAudioFormat::kSize;

// A recording as "Start" writes it: the output format, then `halfSeconds` half-second blocks of a
// tone converted by LAME.
QByteArray makeRecording(const TAudioFormat& in, const TAudioFormat& out, int halfSeconds, double hz) {
    TACMConvertor acmc(std::make_shared<vx::acm::PlatformAcm>());
    acmc.FormatIn = in;
    acmc.FormatOut = out;
    const uint32_t frames = in.samplesPerSec() / 2;
    acmc.SetInputBufferSize(int(frames * in.blockAlign()));
    acmc.SetActive(true);
    QByteArray file = out.toBytes();
    for (int i = 0; i < halfSeconds; ++i) {
        const QByteArray pcm =
            vxtest::sine16(in.samplesPerSec(), in.channels(), hz, frames, uint64_t(i) * frames);
        std::memcpy(acmc.BufferIn(), pcm.constData(), std::size_t(pcm.size()));
        const int n = acmc.Convert();
        file.append(reinterpret_cast<const char*>(acmc.BufferOut()), n);
    }
    acmc.SetActive(false);
    return file;
}

// Runs every 10 ms of the event loop, also inside the playback's waits, which a test cannot leave:
// the playback handler returns only when the playback has ended.
class Ticker {
public:
    explicit Ticker(std::function<void()> tick) {
        QObject::connect(&timer_, &QTimer::timeout, std::move(tick));
        timer_.start(10);
    }

private:
    QTimer timer_;
};

TEST(Playback, ARecordingPlaysToMpg123AndListenerProgramsInChunksOfOneSecondPassByPass) {
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("mpg123")).isEmpty()) << "mpg123 is missing";
    LiveStation s(vx::wavein::createWaveIn(QStringLiteral("tone:1000")));  // never opened by a playback
    TMainform& w = s.w();
    // 44.1 kHz stereo 128 kbit/s: 16000 bytes per second, one and a half seconds, so a pass is one
    // whole chunk and a shorter tail.
    const TAudioFormat format = vx::acm::mp3Format(44100, 2, 128);
    const QByteArray file = makeRecording(vx::acm::pcmFormat(44100, 16, 2), format, 3, 440.0);
    const QByteArray stream = file.mid(kFormatSize);
    ASSERT_GT(stream.size(), 16000);
    ASSERT_LT(stream.size(), 32000);
    const QString path = vxtest::writeFile(s.dir.path(), QStringLiteral("ton.ktv"), file);

    std::unique_ptr<vxtest::ChildProcess> player;
    QByteArray pcm;
    std::unique_ptr<vxtest::LoopbackPeer> first, icy, joiner;
    qsizetype firstBeforeJoin = -1;  // stream bytes the first listener had when the joiner was admitted
    qsizetype seen = 0;
    std::vector<qsizetype> chunks;  // what reached the first listener at once, one second apart
    bool controlsLocked = true;
    int playback = 1;
    bool closed = false;
    bool closeWaited = false;  // the close came only after the playback had ended
    QElapsedTimer clock;
    clock.start();
    Ticker script([&] {
        if (player) {
            pcm += player->readOutput();
        }
        if (!w.station().status()->mode.playback) {
            return;
        }
        controlsLocked &= !w.Button3->isEnabled() && w.RecordtoFileBtn->isEnabled();
        if (!first) {
            // The playback has opened the listener port; its first chunk leaves a second later.
            player = std::make_unique<vxtest::ChildProcess>(
                QStringLiteral("mpg123"),
                QStringList{QStringLiteral("-q"), QStringLiteral("-s"), QStringLiteral("-m"),
                            QStringLiteral("http://127.0.0.1:%1/").arg(s.port())});
            first = vxtest::listenerProgram(s.port());
            icy = std::make_unique<vxtest::LoopbackPeer>(s.port());
            icy->write("GET / HTTP/1.0\r\n\r\n");
            return;
        }
        const qsizetype got = first->received().size();
        if (seen == 0 && got >= kHeaderSize) {
            seen = kHeaderSize;
        } else if (seen > 0 && got > seen) {
            chunks.push_back(got - seen);
            seen = got;
        }
        if (!joiner && got > kHeaderSize) {
            joiner = vxtest::listenerProgram(s.port());
        }
        if (joiner && firstBeforeJoin < 0 && joiner->received().size() >= kHeaderSize) {
            firstBeforeJoin = got - kHeaderSize;
        }
        // The second pass runs: unchecking makes it the last one.
        if (playback == 1 && got - kHeaderSize > stream.size()) {
            w.Loop->setChecked(false);
        }
        // The second playback has played its first pass and waits for the next one's first chunk.
        if (playback == 2 && !closed && got - kHeaderSize >= 3 * stream.size()) {
            closed = true;
            w.close();
            closeWaited = w.station().status()->mode.playback && s.broadcasting();
        }
        if (clock.elapsed() > 40000) {
            ADD_FAILURE() << "the playback did not end";
            w.Disconnectrbtn->click();
        }
    });

    w.Loop->setChecked(true);
    s.dialogs.fileAnswers = {path};
    w.Button3->click();
    EXPECT_FALSE(w.station().status()->mode.playback);
    EXPECT_TRUE(s.broadcasting()) << "the broadcast ends with the playback";
    EXPECT_TRUE(w.Button3->isEnabled() && w.RecordtoFileBtn->isEnabled());
    // One playback at a time; the recording buttons are never locked.
    EXPECT_TRUE(controlsLocked) << "PlayfromFile could be clicked, or RecordtoFile not, during the playback";
    ASSERT_TRUE(first && joiner && icy);
    const QByteArray header = first->received().left(kHeaderSize);
    EXPECT_EQ(header.mid(256, kFormatSize), vx::acm::pcmFormat(44100, 16, 2).toBytes());
    EXPECT_EQ(header.mid(256 + kFormatSize, kFormatSize), file.left(kFormatSize));
    EXPECT_TRUE(icy->received().contains("\r\nicy-br:128\r\n")) << icy->received().toStdString();
    EXPECT_TRUE(first->received().mid(kHeaderSize) == stream + stream)
        << "not two whole passes: " << first->received().size() - kHeaderSize << " of " << 2 * stream.size();
    // The joiner gets the chunks from the cycle after its handshake on.
    const QByteArray joined = joiner->received().mid(kHeaderSize);
    EXPECT_TRUE(first->received().endsWith(joined));
    EXPECT_GE(joined.size(), 2 * stream.size() - firstBeforeJoin);
    EXPECT_LE(joined.size(), 2 * stream.size() - 16000);

    // Played again, this time ended by closing the window: the playback ends, then the window closes.
    playback = 2;
    w.Loop->setChecked(true);
    s.dialogs.fileAnswers = {path};
    w.Button3->click();
    EXPECT_FALSE(w.station().status()->mode.playback);
    EXPECT_TRUE(closeWaited) << "the window closed beneath the playback";
    ASSERT_TRUE(vxtest::waitUntil([&] { return !s.broadcasting(); })) << "the window did not close";
    EXPECT_TRUE(QFile::exists(s.path(QStringLiteral("Optionen.ini")))) << "the close handling did not run";
    EXPECT_TRUE(first->received().mid(kHeaderSize) == stream + stream + stream)
        << first->received().size() - kHeaderSize << " of " << 3 * stream.size();
    // Each pass: the whole frames of its first second (16,000 bytes, give or take a 418-byte frame),
    // then the rest.
    ASSERT_EQ(chunks.size(), 6u);
    for (std::size_t i = 0; i < chunks.size(); i += 2) {
        EXPECT_NEAR(double(chunks[i]), 16000.0, 418.0);
        EXPECT_EQ(chunks[i] + chunks[i + 1], stream.size());
    }
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();

    ASSERT_TRUE(player->waitForFinished());
    pcm += player->readOutput();
    const std::vector<int16_t> samples = vxtest::samples16(pcm);
    ASSERT_GE(samples.size(), std::size_t(44100));
    EXPECT_NEAR(vxtest::dominantFrequency(samples, 44100, samples.size() - 11025, samples.size()), 440.0, 2.0)
        << "mpg123 did not play the tone";
}

// LAME's ABR makes about 1,570 of the 2,250 bytes a second that the default format declares: sent by the
// declared rate, a recording played 1.4 times too fast.
TEST(Playback, ListenersReceiveOneSecondOfSoundEachSecond) {
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone:1000")));
    Station& st = s.station();
    const QByteArray file =
        makeRecording(defaultInputFormat(), StationProbe(st).road.codec().FormatOut, 8, 440.0);
    const QByteArray stream = file.mid(kFormatSize);
    const double recorded = double(vxtest::decodeMp3(stream).frameCount()) / 11025.0;
    ASSERT_GT(recorded, 3.5);
    ASSERT_LT(stream.size(), 4 * 2000) << "the stream is as dense as it declares";

    std::unique_ptr<vxtest::LoopbackPeer> listener;
    std::vector<double> heard;  // seconds of sound the listener had after each chunk
    std::vector<qint64> arrivals;
    qsizetype seen = kHeaderSize;
    QElapsedTimer clock;
    clock.start();
    auto observe = [&] {
        const QByteArray got = listener ? listener->received() : QByteArray();
        if (got.size() <= seen) {
            return;
        }
        seen = got.size();
        // Bytes within half a second of the last ones belong to the same chunk.
        if (arrivals.empty() || clock.elapsed() - arrivals.back() > 500) {
            arrivals.push_back(clock.elapsed());
            heard.push_back(0.0);
        }
        heard.back() = double(vxtest::decodeMp3(got.mid(kHeaderSize)).frameCount()) / 11025.0;
    };
    Ticker script([&] {
        if (st.status()->mode.playback && !listener) {
            listener = vxtest::listenerProgram(s.port());
        }
        observe();
    });
    s.command(&Station::PlayfromFile, vxtest::writeFile(s.dir.path(), QStringLiteral("lang.ktv"), file));
    ASSERT_TRUE(listener);
    // The last chunk left as the playback ended.
    EXPECT_TRUE(listener->waitForBytes(kHeaderSize + stream.size(), 5000));
    observe();
    EXPECT_TRUE(listener->received().mid(kHeaderSize) == stream)
        << "the file did not reach the listener whole";
    ASSERT_GE(heard.size(), 4u);
    for (std::size_t i = 0; i < heard.size(); ++i) {
        // A second is made of whole frames of 576 samples (52 ms); the decoder may hold the last one.
        EXPECT_NEAR(heard[i], std::min(double(i + 1), recorded), 0.11) << "after chunk " << i + 1;
    }
    EXPECT_NEAR(double(arrivals.back() - arrivals.front()) / 1000.0, double(heard.size() - 1), 0.5);
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

// A stream without MPEG frames goes out by its declared rate, a second a chunk, and the pass ends with
// the file's tail rather than leave it unsent; the refresh time reads a second in the window and in the
// status alike.
TEST(Playback, ADeclaredRateStreamGoesOutSecondBySecondWithItsTail) {
    LiveStation s(vx::wavein::createWaveIn(QStringLiteral("tone:1000")));
    TMainform& w = s.w();
    QByteArray stream(20000, '\0');  // 8,000 bytes a second: two chunks and a half
    for (qsizetype i = 0; i < stream.size(); ++i) {
        stream[i] = char(i * 7);
    }
    const QByteArray file = vx::acm::pcmFormat(8000, 8, 1).toBytes() + stream;

    std::unique_ptr<vxtest::LoopbackPeer> listener;
    std::vector<qsizetype> chunks;
    qsizetype seen = kHeaderSize;
    qint64 lastArrival = -1000;
    QStringList refreshShown;
    QElapsedTimer clock;
    clock.start();
    auto observe = [&] {
        const qsizetype got = listener ? listener->received().size() : 0;
        if (got <= seen) {
            return;
        }
        // Bytes within half a second of the last ones belong to the same chunk.
        if (clock.elapsed() - lastArrival > 500) {
            chunks.push_back(0);
            refreshShown.append(
                QStringLiteral("%1/%2").arg(w.Refreshedit->text()).arg(w.station().status()->refreshMs));
        }
        chunks.back() += got - seen;
        seen = got;
        lastArrival = clock.elapsed();
    };
    Ticker script([&] {
        if (w.station().status()->mode.playback && !listener) {
            listener = vxtest::listenerProgram(s.port());
        }
        observe();
    });
    s.dialogs.fileAnswers = {vxtest::writeFile(s.dir.path(), QStringLiteral("pcm.ktv"), file)};
    w.Button3->click();
    ASSERT_TRUE(listener);
    // The tail left as the playback ended.
    EXPECT_TRUE(listener->waitForBytes(kHeaderSize + stream.size(), 3000));
    observe();
    EXPECT_TRUE(listener->received().mid(kHeaderSize) == stream)
        << listener->received().size() - kHeaderSize << " of " << stream.size();
    EXPECT_EQ(chunks, (std::vector<qsizetype>{8000, 8000, 4000}));
    EXPECT_EQ(refreshShown.join(QLatin1Char(' ')).toStdString(), "1000/1000 1000/1000 1000/1000");
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

TEST(Playback, RefusedFilesStartNothingAndTheNextFilePlaysInPlaceOfTheLiveSignal) {
    LiveStation s(vx::wavein::createWaveIn(QStringLiteral("tone:1000")));
    TMainform& w = s.w();
    const QByteArray good =
        makeRecording(defaultInputFormat(), StationProbe(w.station()).road.codec().FormatOut, 4, 440.0);
    auto withRate = [&](uint32_t rate) {
        TAudioFormat f = TAudioFormat::fromBytes(good.left(kFormatSize));
        f.setAvgBytesPerSec(rate);
        return f.toBytes() + good.mid(kFormatSize);
    };
    const QString dir = s.dir.path();
    const QString fifo = s.path(QStringLiteral("fifo.ktv"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        QString file;
        std::string message;
        int step;
    } refusals[] = {
        {vxtest::writeFile(dir, QStringLiteral("kurz.ktv"), good.left(100)), "Read beyond end of file", 10},
        {vxtest::writeFile(dir, QStringLiteral("null.ktv"), withRate(0)), "claims 0 bytes per second", 12},
        {vxtest::writeFile(dir, QStringLiteral("schnell.ktv"), withRate(40001)), "claims 40001 bytes", 12},
        {s.path(QStringLiteral("fehlt.ktv")), "File not found", 5},
        // Nobody writes to it: opened for reading, it would hold the window until someone did.
        {fifo, "it is not a regular file", 5},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.message);
        s.dialogs.messages.clear();
        s.dialogs.fileAnswers = {r.file};
        w.Button3->click();
        ASSERT_EQ(s.dialogs.messages.size(), 1);
        const std::string report = s.dialogs.messages[0].toStdString();
        EXPECT_NE(report.find(r.message), std::string::npos) << report;
        if (r.step == 12 || r.file == fifo) {
            EXPECT_NE(report.find(r.file.toStdString()), std::string::npos)
                << "the report does not name the file";
        }
        EXPECT_TRUE(s.dialogs.messages[0].endsWith(
            QStringLiteral("DebugStr: Button3Click\n\rDebugNum: %1").arg(r.step)))
            << report;
        EXPECT_FALSE(w.station().status()->mode.playback);
        EXPECT_FALSE(s.broadcasting()) << "a refused file started the broadcast";
        EXPECT_TRUE(w.Button3->isEnabled() && w.RecordtoFileBtn->isEnabled());
    }
    s.dialogs.messages.clear();
    w.Button1->click();  // "Start" before any file was chosen
    w.Button2->click();  // "Stop" with no file open
    ASSERT_EQ(s.dialogs.messages.size(), 2);
    EXPECT_TRUE(s.dialogs.messages[0].startsWith(QStringLiteral("No recording file chosen")));
    EXPECT_TRUE(s.dialogs.messages[1].startsWith(QStringLiteral("I/O error 103")));
    EXPECT_TRUE(s.dialogs.messages[1].endsWith(QStringLiteral("DebugStr: Button2Click\n\rDebugNum: 3")));
    EXPECT_FALSE(w.station().status()->mode.recording || w.station().status()->mode.recordArmed);
    s.dialogs.messages.clear();

    // A cancelled open dialog starts nothing; a file of its header alone starts the broadcast and ends
    // the playback quietly.
    w.Button3->click();
    EXPECT_FALSE(s.broadcasting());
    s.dialogs.fileAnswers = {vxtest::writeFile(dir, QStringLiteral("leer.ktv"), good.left(kFormatSize))};
    w.Button3->click();
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
    EXPECT_FALSE(w.station().status()->mode.playback);
    EXPECT_TRUE(s.broadcasting());
    // Chunks that find no connection show no rate and no load.
    w.Bytesvandorixclient->setText(QStringLiteral("7"));
    w.Auslastung->setValue(5);
    s.dialogs.fileAnswers = {vxtest::writeFile(dir, QStringLiteral("ungehoert.ktv"), good)};
    w.Button3->click();
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
    EXPECT_EQ(w.Bytesvandorixclient->text(), QStringLiteral("0"));
    EXPECT_EQ(w.Auslastung->value(), 0);
    w.Disconnectrbtn->click();

    // A live broadcast of another tone; the file's chunks take the place of its blocks, whole and in
    // order, and the live blocks follow again after the playback. An "Upload" that is no number shows
    // the bar full and holds back no chunk.
    w.Connectrbtn->click();
    ASSERT_TRUE(s.broadcasting());
    auto listener = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(listener->waitForBytes(kHeaderSize + 1000, 15000));
    w.Upload->setText(QStringLiteral("abc"));
    s.dialogs.fileAnswers = {vxtest::writeFile(dir, QStringLiteral("gut.ktv"), good)};
    w.Button3->click();
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
    EXPECT_EQ(w.Auslastung->value(), w.Auslastung->maximum());
    const qsizetype afterPlayback = listener->received().size();
    EXPECT_GE(listener->received().indexOf(good.mid(kFormatSize)), kHeaderSize)
        << "the file did not reach the listener whole, or live blocks came between its chunks";
    EXPECT_TRUE(listener->waitForBytes(afterPlayback + 1000, 15000)) << "the live signal did not come back";
    w.Disconnectrbtn->click();
}

// A playback needs the listener port: it starts the broadcast from a stopped station or takes the live
// signal's place. While record mode captures, or is armed so that a start would only capture, "Play" is
// refused with its reason and leaves the recording's capture alone.
TEST(Playback, RecordModeRefusesThePlaybackUntilItHasEnded) {
    LiveStation s(vx::wavein::createWaveIn(QStringLiteral("tone:1000")));
    TMainform& w = s.w();
    const QString header = vxtest::writeFile(s.dir.path(), QStringLiteral("kopf.ktv"),
                                             StationProbe(w.station()).road.codec().FormatOut.toBytes());
    auto play = [&] {
        s.dialogs.messages.clear();
        s.dialogs.fileAnswers = {header};
        w.Button3->click();
        EXPECT_FALSE(w.station().status()->mode.playback);
    };
    s.dialogs.fileAnswers = {s.path(QStringLiteral("aufnahme.ktv"))};
    w.RecordtoFileBtn->click();
    ASSERT_EQ(w.station().state(), StationState::RecordOnly);

    play();
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_TRUE(s.dialogs.messages[0].contains(QStringLiteral("Stoppe Server")))
        << s.dialogs.messages[0].toStdString();
    EXPECT_TRUE(s.dialogs.messages[0].endsWith(QStringLiteral("DebugStr: Button3Click\n\rDebugNum: 6")));
    EXPECT_EQ(w.station().state(), StationState::RecordOnly);
    EXPECT_TRUE(StationProbe(w.station()).road.codec().Active()) << "the recording's capture was closed";
    EXPECT_FALSE(s.broadcasting());

    // Stopped, record mode stays armed: a start would open the capture again, not the listener port.
    w.Disconnectrbtn->click();
    play();
    ASSERT_EQ(s.dialogs.messages.size(), 1);
    EXPECT_TRUE(s.dialogs.messages[0].contains(QStringLiteral("\"Stop\"")))
        << s.dialogs.messages[0].toStdString();
    EXPECT_EQ(w.station().state(), StationState::Stopped);
    EXPECT_FALSE(StationProbe(w.station()).road.codec().Active());

    w.Button2->click();  // ends record mode (and says no file was open)
    play();
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
    EXPECT_TRUE(s.broadcasting()) << "the playback did not start the broadcast";
    w.Disconnectrbtn->click();
}

}  // namespace
