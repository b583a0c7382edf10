// SPDX-License-Identifier: GPL-3.0-or-later
// The window's format buttons and where the formats live: defaults, message 35 on a new data rate,
// cancel, restart.
#include "app/TMainform.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "platform/acm/Codecs.h"
#include "platform/acm/SimulatedAcm.h"
#include "platform/wavein/SimulatedWaveIn.h"
#include "settings/TOptionsRecord.h"
#include "support/MainformFixture.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>

#include <QPushButton>

namespace {

class FormatButtons : public ::testing::Test, protected vxtest::MainformFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        vxtest::writeFile(dir.path(), QStringLiteral("Server.ini"), "http://127.0.0.1:9/\n");
        env.arguments = QStringList{QStringLiteral("vandorixserver"), QStringLiteral("/WO")};
        env.waveIn = std::make_shared<vx::wavein::SimulatedWaveIn>();
    }
    std::unique_ptr<TMainform> makeWindow() {
        auto w = std::make_unique<TMainform>(env);
        EXPECT_FALSE(w->StartupAborted());
        return w;
    }
};

}  // namespace

TEST_F(FormatButtons, WithoutSettingsTheStationStartsOnItsStoredFormats) {
    auto w = makeWindow();
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatIn, defaultInputFormat());
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatOut, defaultOutputFormat());
    EXPECT_EQ(StationProbe(w->station()).road.codec().InputBufferSize(), 2048);
    EXPECT_EQ(StationProbe(w->station()).road.capture().BufferSize(), 8192);
    EXPECT_EQ(StationProbe(w->station()).road.capture().NumBuffers(), 4);
    EXPECT_FALSE(StationProbe(w->station()).road.capture().Active());
}

TEST_F(FormatButtons, NewDataRateShowsMessage35OnceAndTheSameRateNothing) {
    auto w = makeWindow();
    const QString msg35 = w->Msg(35);
    ASSERT_FALSE(msg35.isEmpty());
    const TAudioFormat stereo22 = vx::acm::pcmFormat(22050, 16, 2);

    dialogs.formatAnswers = {stereo22, stereo22, std::nullopt};
    w->InpForm->click();
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatIn, stereo22);
    ASSERT_EQ(dialogs.formatStarts.size(), 1u);
    EXPECT_EQ(dialogs.formatStarts[0], defaultInputFormat()) << "the dialog starts on the current format";
    EXPECT_GT(dialogs.offeredCount, 0);
    EXPECT_EQ(dialogs.messages, QStringList{msg35});
    w->InpForm->click();  // the same format again
    w->InpForm->click();  // cancelled
    EXPECT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatIn, stereo22);
    EXPECT_EQ(StationProbe(w->station()).DebugStr.value(), QStringLiteral("InpFormClick"));
    EXPECT_EQ(StationProbe(w->station()).DebugNum.load(), 3);
}

TEST_F(FormatButtons, OutputFormatWithTheSameRateChangesSilently) {
    auto w = makeWindow();
    const TAudioFormat stereo18 = vx::acm::mp3Format(11025, 2, 18);
    ASSERT_EQ(stereo18.avgBytesPerSec(), defaultOutputFormat().avgBytesPerSec());
    dialogs.formatAnswers = {stereo18, vx::acm::mp3Format(44100, 2, 128)};
    w->OutpForm->click();
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatOut, stereo18);
    EXPECT_TRUE(dialogs.messages.isEmpty());
    w->OutpForm->click();
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatOut.avgBytesPerSec(), 16000u);
    EXPECT_EQ(dialogs.messages, QStringList{w->Msg(35)});
    EXPECT_EQ(StationProbe(w->station()).DebugStr.value(), QStringLiteral("OutpFormClick"));
    EXPECT_EQ(StationProbe(w->station()).DebugNum.load(), 4);
}

TEST_F(FormatButtons, CancelledDialogsLeaveBothFormatsByteForByte) {
    auto w = makeWindow();
    w->InpForm->click();
    w->OutpForm->click();
    EXPECT_EQ(dialogs.formatStarts.size(), 2u);
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatIn.toBytes(), defaultInputFormat().toBytes());
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatOut.toBytes(), defaultOutputFormat().toBytes());
    EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(FormatButtons, HeadlessChoiceIsAlwaysCancelled) {
    HeadlessUserDialogs headless;
    env.dialogs = &headless;
    auto w = makeWindow();
    w->InpForm->click();
    w->OutpForm->click();
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatIn, defaultInputFormat());
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatOut, defaultOutputFormat());
}

TEST_F(FormatButtons, ChosenFormatsComeBackAfterARestart) {
    const TAudioFormat in = vx::acm::pcmFormat(44100, 16, 2);
    const TAudioFormat out = vx::acm::mp3Format(44100, 2, 128);
    {
        auto w = makeWindow();
        dialogs.formatAnswers = {in, out};
        w->InpForm->click();
        w->OutpForm->click();
        w->close();
    }
    auto w = makeWindow();
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatIn.toBytes(), in.toBytes());
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatOut.toBytes(), out.toBytes());
}

TEST_F(FormatButtons, DialogFailureEndsInTheErrorReportAndKeepsTheFormat) {
    auto acm = std::make_shared<vx::acm::SimulatedAcm>();
    acm->chooseResult = 2;
    env.acm = acm;
    auto w = makeWindow();
    const TAudioFormat before = StationProbe(w->station()).road.codec().FormatOut;
    w->OutpForm->click();
    EXPECT_EQ(StationProbe(w->station()).road.codec().FormatOut, before);
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(
        dialogs.messages[0].contains(QStringLiteral("Choose format raised an unknown error (code #2)")))
        << dialogs.messages[0].toStdString();
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("OutpFormClick")));
}

// Formats come back from "Optionen.ini" unchecked. One that no codec and no capture device could carry
// (it sized the buffers from 2 bytes per second, or 2*10^8) is refused before the start opens anything,
// and the buttons still choose good ones.
TEST_F(FormatButtons, UnusableStoredFormatsAreRefusedAtTheStartAndTheButtonsChooseGoodOnes) {
    auto in = [](auto change) {
        TAudioFormat f = defaultInputFormat();
        change(f);
        return f;
    };
    auto out = [](auto change) {
        TAudioFormat f = defaultOutputFormat();
        change(f);
        return f;
    };
    const struct {
        const char* name;
        TAudioFormat in;
        TAudioFormat out;
    } cases[] = {
        {"2 bytes per second", in([](TAudioFormat& f) { f.setAvgBytesPerSec(2); }), defaultOutputFormat()},
        {"2*10^8 bytes per second", in([](TAudioFormat& f) { f.setAvgBytesPerSec(200000000); }),
         defaultOutputFormat()},
        {"384 kHz", vx::acm::pcmFormat(384000, 16, 1), defaultOutputFormat()},
        {"16 channels", vx::acm::pcmFormat(11025, 16, 16), defaultOutputFormat()},
        {"silent output", defaultInputFormat(), out([](TAudioFormat& f) { f.setAvgBytesPerSec(2); })},
        {"output without channels", defaultInputFormat(), out([](TAudioFormat& f) { f.setChannels(0); })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto capture = std::make_shared<vx::wavein::SimulatedWaveIn>();
        env.waveIn = capture;
        TOptionsRecord settings;
        settings.Port = vxtest::freeTcpPort();
        settings.Radioname = QStringLiteral("Welle");
        settings.FormatIn = c.in;
        settings.FormatOut = c.out;
        settings.Upload = 64;
        vxtest::writeFile(dir.path(), QStringLiteral("Optionen.ini"), settings.toBytes());
        auto w = makeWindow();
        dialogs.messages.clear();
        w->Connectrbtn->click();
        ASSERT_EQ(dialogs.messages.size(), 1);
        const bool input = c.out == defaultOutputFormat();
        EXPECT_TRUE(dialogs.messages[0].startsWith(input
                                                       ? QStringLiteral("The input format cannot be used")
                                                       : QStringLiteral("The output format cannot be used")))
            << dialogs.messages[0].toStdString();
        EXPECT_FALSE(StationProbe(w->station()).road.codec().Active());
        EXPECT_EQ(capture->opens, 0);
        EXPECT_FALSE(StationProbe(w->station()).ServerVandorixClient->Active());
        ASSERT_TRUE(w->InpForm->isEnabled() && w->OutpForm->isEnabled());

        dialogs.formatAnswers = {defaultInputFormat(), defaultOutputFormat()};
        w->InpForm->click();
        w->OutpForm->click();
        dialogs.messages.clear();
        w->Connectrbtn->click();
        EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
        EXPECT_TRUE(StationProbe(w->station()).ServerVandorixClient->Active());
        w->Disconnectrbtn->click();
    }
}
