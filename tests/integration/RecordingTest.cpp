// SPDX-License-Identifier: GPL-3.0-or-later
// Recording the encoded stream: record mode with the tone device and LAME, and "Start" during an
// ordinary broadcast, which diverts the blocks from the listeners to the file.
#include "StationHarness.h"
#include "audio/QueuedFileWriter.h"
#include "station/Recorder.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>

#include <QFileInfo>

using vxtest::CoreStation;
using vxtest::LiveStation;

namespace {

constexpr int kHeaderSize = 514;
constexpr int kFormatSize = TAudioFormat::kSize;

// The recording's writer has closed every file it was given.
bool closed(Station& st) {
    return vxtest::waitUntil([&] { return !StationProbe(st).recording().writer()->busy(); }, 20000);
}

// Waits until the recording file holds its format and at least `blocks` encoded blocks.
bool waitForBlocks(const QString& path, int blocks) {
    return vxtest::waitUntil([&] { return vxtest::readFile(path).size() >= kFormatSize + blocks * 1500; },
                             20000);
}

// The stream part of a recording decodes to the 440 Hz tone.
void expectTone(const QByteArray& stream) {
    const vxtest::Decoded d = vxtest::decodeMp3(stream);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.rate, 11025);
    ASSERT_GE(d.samples.size(), std::size_t(2 * 11025));
    EXPECT_NEAR(vxtest::dominantFrequency(d.samples, d.rate, d.samples.size() - 11025, d.samples.size()),
                440.0, 1.0);
}

TEST(Recording, RecordModeWritesTheFormatThenTheEncodedToneAndOpensNoListenerPort) {
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone:440")));
    Station& st = s.station();
    const QString path = s.path(QStringLiteral("aufnahme.ktv"));
    s.command(&Station::RecordtoFile, path);
    ASSERT_TRUE(st.status()->mode.recordArmed);
    ASSERT_TRUE(StationProbe(st).road.codec().Active()) << s.dialogs.messages.join('|').toStdString();
    EXPECT_EQ(st.state(), StationState::RecordOnly);
    EXPECT_FALSE(s.broadcasting());
    EXPECT_FALSE(vxtest::LoopbackPeer(s.port()).connected()) << "record mode opened the listener port";

    s.command(&Station::StartRecording);
    ASSERT_EQ(s.dialogs.messages, QStringList{path});  // "Start" names the file first
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.status()->mode.recording; }));
    ASSERT_TRUE(waitForBlocks(path, 3));
    s.command(&Station::StopRecording);
    EXPECT_FALSE(st.status()->mode.recording);
    EXPECT_FALSE(st.status()->mode.recordArmed);
    ASSERT_TRUE(closed(st));
    EXPECT_EQ(s.dialogs.messages.size(), 1) << s.dialogs.messages.join('|').toStdString();

    const QByteArray file = vxtest::readFile(path);
    EXPECT_EQ(file.left(kFormatSize), StationProbe(st).road.codec().FormatOut.toBytes());
    expectTone(file.mid(kFormatSize));
    s.stop();
    EXPECT_EQ(st.state(), StationState::Stopped);
}

TEST(Recording, StartDuringABroadcastDivertsTheBlocksFromTheListenersToTheFileUntilStop) {
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone:440")));
    Station& st = s.station();
    s.start();
    ASSERT_TRUE(s.broadcasting());
    auto listener = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(listener->waitForBytes(kHeaderSize + 1000, 15000));

    // The broadcast captures already: record mode starts nothing a second time.
    const QString path = s.path(QStringLiteral("mitschnitt.ktv"));
    s.command(&Station::RecordtoFile, path);
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
    s.command(&Station::StartRecording);
    const qsizetype atStart = listener->received().size();
    ASSERT_TRUE(waitForBlocks(path, 3));
    const qsizetype atStop = listener->received().size();
    s.command(&Station::StopRecording);
    ASSERT_TRUE(closed(st));
    // A run that was sending when "Start" came may finish its block.
    EXPECT_LE(atStop - atStart, 3500) << "listeners received blocks while they went to the file";
    EXPECT_TRUE(listener->waitForBytes(atStop + 3000, 15000)) << "the listeners get no blocks after Stop";
    EXPECT_TRUE(s.broadcasting());
    EXPECT_EQ(s.dialogs.messages, QStringList{path});

    const QByteArray file = vxtest::readFile(path);
    EXPECT_EQ(file.left(kFormatSize), StationProbe(st).road.codec().FormatOut.toBytes());
    expectTone(file.mid(kFormatSize));
    s.stop();
}

// "RecordtoFile" cancelled starts nothing; "Start" leaves the file with its header alone until the first
// block. A recording that fails, at its header or at a later block, is reported once, ends record mode
// and its record-only capture and closes its file; the "Stop" after it reports nothing more.
TEST(Recording, TheFileHoldsItsHeaderAloneUntilTheFirstBlockAndAFailedRecordingEndsRecordModeOnce) {
    auto capture = std::make_shared<vx::wavein::SimulatedWaveIn>();
    LiveStation s(capture, std::make_shared<vx::acm::SimulatedAcm>());  // 7 bytes a block
    TMainform& w = s.w();
    Station& st = w.station();
    w.RecordtoFileBtn->click();  // the save dialog cancelled
    EXPECT_FALSE(st.status()->mode.recordArmed);
    EXPECT_FALSE(StationProbe(st).road.codec().Active());
    EXPECT_TRUE(s.settingsUnlocked());
    EXPECT_TRUE(s.dialogs.messages.isEmpty());

    const QString path = s.path(QStringLiteral("aufnahme.ktv"));
    s.dialogs.fileAnswers = {path};
    w.RecordtoFileBtn->click();
    ASSERT_TRUE(StationProbe(st).road.codec().Active());
    {
        // The writer meets the limit on its own thread, after the click has returned.
        const vxtest::FileSizeLimit fullDisk(100);
        w.Button1->click();
        ASSERT_TRUE(vxtest::waitUntil([&] { return s.dialogs.messages.size() == 2; }))
            << s.dialogs.messages.join('|').toStdString();
    }
    ASSERT_EQ(s.dialogs.messages.size(), 2);
    EXPECT_EQ(s.dialogs.messages[1], Station::reportText("Disk full", "Button1Click", 5));
    EXPECT_FALSE(st.status()->mode.recording);
    EXPECT_FALSE(st.status()->mode.recordArmed) << "a failed recording left the record mode armed";
    EXPECT_FALSE(StationProbe(st).road.codec().Active())
        << "the record-only capture went on encoding for no file";
    EXPECT_FALSE(capture->isOpen());
    EXPECT_FALSE(StationProbe(st).recording().writer()->isOpen());
    EXPECT_TRUE(s.settingsUnlocked());
    w.Button2->click();
    EXPECT_EQ(s.dialogs.messages.size(), 2) << s.dialogs.messages.join('|').toStdString();

    s.dialogs.fileAnswers = {path};
    w.RecordtoFileBtn->click();
    w.Button1->click();
    ASSERT_TRUE(vxtest::waitUntil([&] { return st.status()->mode.recording; }));
    const QByteArray header = StationProbe(st).road.codec().FormatOut.toBytes();
    EXPECT_EQ(vxtest::readFile(path), header);
    ASSERT_TRUE(s.oneBlock(*capture));
    const QByteArray oneBlock = header + QByteArray(7, '\xAB');
    EXPECT_TRUE(vxtest::waitUntil([&] { return vxtest::readFile(path) == oneBlock; }));
    ASSERT_EQ(s.dialogs.messages.size(), 3);

    // The disk fills up under the next block: one report, and the recording ends as above.
    {
        const vxtest::FileSizeLimit fullDisk(rlim_t(oneBlock.size()) + 3);
        // Not oneBlock(): the failure closes the capture, which then never gets its buffer back.
        ASSERT_TRUE(capture->fillNext(QByteArray(StationProbe(st).road.codec().InputBufferSize(), 'A')));
        ASSERT_TRUE(vxtest::waitUntil([&] { return !StationProbe(st).road.codec().Active(); }))
            << s.dialogs.messages.join('|').toStdString();
    }
    ASSERT_EQ(s.dialogs.messages.size(), 4) << s.dialogs.messages.join('|').toStdString();
    EXPECT_TRUE(s.dialogs.messages[3].startsWith(QStringLiteral("Disk full")))
        << s.dialogs.messages[3].toStdString();
    EXPECT_FALSE(st.status()->mode.recordArmed);
    EXPECT_FALSE(StationProbe(st).recording().writer()->isOpen());
    EXPECT_EQ(vxtest::readFile(path), oneBlock) << "the file does not end with its last whole block";
    w.Button2->click();
    EXPECT_EQ(s.dialogs.messages.size(), 4) << s.dialogs.messages.join('|').toStdString();
    EXPECT_TRUE(s.settingsUnlocked());
}

}  // namespace
