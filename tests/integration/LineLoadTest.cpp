// SPDX-License-Identifier: GPL-3.0-or-later
// The line-load bar and the displays the worker updates, with the real codec on the tone device.
#include "StationHarness.h"
#include "platform/acm/Codecs.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>

using vxtest::LiveStation;

namespace {

TEST(LineLoad, TheUploadTextScalesTheBarAndNeverSilencesTheBroadcast) {
    struct Row {
        const char* upload;
        int maximum;  // of the bar once a block reached the listener
        bool full;
    };
    const Row rows[] = {
        {"64", 64 * 128, true},  // 8192 B/s against one listener of a 128 kb/s stream (16000 B/s)
        {"1000", 1000 * 128, false},
        {"abc", 1, true},  // no capacity to compare with: the bar shows full, the audio still goes out
    };
    for (const Row& row : rows) {
        LiveStation s(vx::wavein::createWaveIn(QStringLiteral("tone")));
        TMainform& w = s.w();
        StationProbe(w.station()).road.codec().FormatIn = vx::acm::pcmFormat(44100, 16, 1);
        StationProbe(w.station()).road.codec().FormatOut = vx::acm::mp3Format(44100, 1, 128);
        w.Upload->setText(QString::fromLatin1(row.upload));
        w.Connectrbtn->click();
        ASSERT_TRUE(s.broadcasting()) << row.upload;
        auto listener = vxtest::listenerProgram(s.port());
        ASSERT_TRUE(vxtest::waitUntil([&] { return w.station().GetUseranzahl() == 1; }));
        ASSERT_TRUE(listener->waitForBytes(514 + 2 * 15000, 20000)) << row.upload << ": no audio";
        ASSERT_TRUE(vxtest::waitUntil([&] { return w.Auslastung->value() > 0; })) << row.upload;
        EXPECT_EQ(w.Auslastung->maximum(), row.maximum) << row.upload;
        EXPECT_EQ(w.Auslastung->value() == w.Auslastung->maximum(), row.full) << row.upload;
        const int block = w.Bytesvandorixclient->text().toInt();
        EXPECT_NEAR(block, 16000, 1000) << row.upload;
        if (!row.full) {
            EXPECT_EQ(w.Auslastung->value(), block) << row.upload;  // one listener times one block
        }
        EXPECT_EQ(StationProbe(w.station()).road.errorCount(), 0u);
        w.Disconnectrbtn->click();
        EXPECT_EQ(w.Auslastung->value(), 0) << row.upload;
    }
}

TEST(LineLoad, WithoutConnectionsTheBarShowsZeroAndTheMp3CopyStillGetsEveryBlock) {
    auto capture = vx::wavein::createWaveIn(QStringLiteral("tone"));
    LiveStation s(capture);
    TMainform& w = s.w();
    w.Mp3Aufz->setChecked(true);
    w.Auslastung->setValue(5);
    w.Connectrbtn->click();
    ASSERT_TRUE(s.broadcasting());
    ASSERT_TRUE(
        vxtest::waitUntil([&] { return w.Bytesvandorixclient->text() != QLatin1String("0"); }, 20000));
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.Auslastung->value() == 0; }));
    ASSERT_TRUE(vxtest::waitUntil([&] { return w.Refreshedit->text() != QLatin1String("0"); }));
    const QString copy = s.path(s.mp3Copies().value(0));
    ASSERT_TRUE(vxtest::waitUntil([&] { return vxtest::readFile(copy).size() > 4 * 2000; }, 20000));
    w.Disconnectrbtn->click();
    ASSERT_TRUE(s.filesSettled());
    const vxtest::Decoded decoded = vxtest::decodeMp3(vxtest::readFile(copy));
    ASSERT_TRUE(decoded.ok);
    // The blocks follow each other in the copy as one stream of over three seconds.
    EXPECT_GE(decoded.frameCount(), std::size_t(3 * 11025));
    EXPECT_EQ(vxtest::dominantFrequency(decoded.samples, decoded.rate, decoded.samples.size() - 11025,
                                        decoded.samples.size()),
              440.0);
    EXPECT_EQ(w.Errorsvandorixclient->text(), QStringLiteral("0"));
}

TEST(Broadcast, ClosingTheWindowStopsTheBroadcastFirst) {
    LiveStation s(vx::wavein::createWaveIn(QStringLiteral("tone")));
    TMainform& w = s.w();
    w.Connectrbtn->click();
    ASSERT_TRUE(s.broadcasting());
    auto listener = vxtest::listenerProgram(s.port());
    ASSERT_TRUE(listener->waitForBytes(514));
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(s.broadcasting());
    EXPECT_FALSE(StationProbe(w.station()).road.codec().Active());
    EXPECT_FALSE(StationProbe(w.station()).road.capture().Active());
    EXPECT_TRUE(listener->waitForClose());
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

}  // namespace
