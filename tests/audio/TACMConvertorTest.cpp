// SPDX-License-Identifier: GPL-3.0-or-later
// TACMConvertor over the simulated codec layer: state handling, flags, buffers, error texts, format
// choice and the stored form of the formats.
#include "audio/TACMConvertor.h"
#include "platform/acm/SimulatedAcm.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>

using vx::acm::SimulatedAcm;

namespace {

class ConvertorFixture : public ::testing::Test {
protected:
    std::shared_ptr<SimulatedAcm> acm = std::make_shared<SimulatedAcm>();
    TACMConvertor acmc{acm};
};

TAudioFormat gsmFormat() {
    TAudioFormat f;
    f.setFormatTag(0x31);
    f.setChannels(1);
    f.setSamplesPerSec(8000);
    f.setAvgBytesPerSec(1625);
    f.setBlockAlign(65);
    f.setExtraSize(2);
    f.set16(18, 320);
    return f;
}

}  // namespace

TEST_F(ConvertorFixture, ConstructionGivesBothFormatsTheBuiltInPcmFormat) {
    TAudioFormat expected;
    expected.setFormatTag(1);
    expected.setChannels(1);
    expected.setSamplesPerSec(22050);
    expected.setAvgBytesPerSec(22050);
    expected.setBlockAlign(1);
    expected.setBitsPerSample(8);
    expected.setExtraSize(129);
    EXPECT_EQ(acmc.FormatIn, expected);
    EXPECT_EQ(acmc.FormatOut, expected);
    EXPECT_EQ(acmc.InputBufferSize(), 2048);
    EXPECT_FALSE(acmc.UseRealTime());
    EXPECT_FALSE(acmc.Active());
}

TEST_F(ConvertorFixture, SizeAndRealTimeChangesWhileActiveAreRefusedAndKeepTheOldValue) {
    acmc.SetInputBufferSize(4000);
    acmc.SetActive(true);
    EXPECT_EQ(vxtest::failureOf<EACMConvertor>([&] { acmc.SetInputBufferSize(10); }, "no error"),
              "You cannot change the buffer size while active.");
    EXPECT_EQ(vxtest::failureOf<EACMConvertor>([&] { acmc.SetUseRealTime(true); }, "no error"),
              "You cannot change the real time flag while active.");
    EXPECT_EQ(acmc.InputBufferSize(), 4000);
    EXPECT_FALSE(acmc.UseRealTime());
    acmc.SetActive(false);
    acmc.SetUseRealTime(true);
    EXPECT_TRUE(acmc.UseRealTime());
}

TEST_F(ConvertorFixture, OpeningUsesTheFormatsTheRealTimeFlagAndTheCodecsOutputSize) {
    acmc.FormatIn = defaultInputFormat();
    acmc.FormatOut = defaultOutputFormat();
    acmc.SetInputBufferSize(22050);
    acm->outputSize = 12345;
    acmc.SetActive(true);
    acmc.SetActive(true);
    EXPECT_EQ(acm->opens, 1);
    EXPECT_EQ(acm->openFlags, 0x4u);
    EXPECT_EQ(acm->openedSource, defaultInputFormat());
    EXPECT_EQ(acm->openedDest, defaultOutputFormat());
    EXPECT_EQ(acm->sizeAsked, 22050u);
    EXPECT_EQ(acmc.OutputBufferSize(), 12345u);
    EXPECT_NE(acmc.BufferIn(), nullptr);
    acmc.SetActive(false);
    acmc.SetActive(false);
    EXPECT_EQ(acm->closes, 1);
    EXPECT_EQ(acmc.BufferIn(), nullptr);
    acmc.SetUseRealTime(true);
    acmc.SetActive(true);
    EXPECT_EQ(acm->openFlags, 0x0u);
}

TEST_F(ConvertorFixture, OnlyTheFirstConversionAfterEachOpeningCarriesTheStartFlag) {
    acmc.SetActive(true);
    EXPECT_TRUE(acmc.FirstConversion());
    acmc.Convert();
    acmc.Convert();
    acmc.Convert();
    acmc.SetActive(false);
    acmc.SetActive(true);
    acmc.Convert();
    EXPECT_EQ(acm->convertFlags, (std::vector<uint32_t>{0x14, 0x04, 0x04, 0x14}));
    // Every conversion is followed by a reset.
    EXPECT_EQ(std::count(acm->calls.begin(), acm->calls.end(), "reset"), 4);
}

TEST_F(ConvertorFixture, OutputBufferIsZeroedBeforeEachConversion) {
    acm->outputSize = 32;
    acmc.SetActive(true);
    std::memset(acmc.BufferOut(), 0xFF, 32);
    EXPECT_EQ(acmc.Convert(), 7);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(acmc.BufferOut()[i], i < 7 ? 0xAB : 0x00) << i;
    }
}

TEST_F(ConvertorFixture, EveryOperationNamesItselfAndUsesTheSmallerCodeTable) {
    struct Case {
        const char* op;
        uint32_t code;
        const char* message;
    };
    const Case cases[] = {
        {"open", 5, "acmStreamOpen: The specified handle is invalid."},
        {"open", 6, "acmStreamOpen: A suitable driver is not available to provide valid format selections."},
        {"open", 512, "acmStreamOpen: The requested operation cannot be performed."},
        {"open", 2, "acmStreamOpen: raised an unknown error (code #2)"},
        {"open", 32, "acmStreamOpen: raised an unknown error (code #32)"},
        {"size", 7, "acmStreamSize: The system is unable to allocate resources."},
        {"prepare", 11, "acmStreamPrepareHeader: At least one parameter is invalid."},
        {"convert", 514,
         "acmStreamConvert: Cannot perform this action on a header that has not been prepared."},
        {"reset", 10, "acmStreamReset At least one flag is invalid."},
        {"unprepare", 513, "acmStreamUnPrepareHeader: The conversion stream is already in use."},
        {"close", 35, "acmStreamClose: raised an unknown error (code #35)"},
        {"choose", 4, "Choose format raised an unknown error (code #4)"},
        {"suggest", 512, "SuggestFormat The requested operation cannot be performed."},
    };
    for (const auto& c : cases) {
        auto acm = std::make_shared<SimulatedAcm>();
        TACMConvertor acmc(acm);
        const std::string op = c.op;
        const bool afterOpen = op == "convert" || op == "reset" || op == "unprepare" || op == "close";
        if (afterOpen) {
            acmc.SetActive(true);
        }
        acm->setResult(c.op, c.code);
        std::string message;
        if (op == "convert" || op == "reset") {
            message = vxtest::failureOf<EACMConvertor>([&] { acmc.Convert(); }, "no error");
        } else if (op == "choose") {
            message = vxtest::failureOf<EACMConvertor>([&] { acmc.ChooseFormatOut(true); }, "no error");
        } else if (op == "suggest") {
            TAudioFormat dest;
            message = vxtest::failureOf<EACMConvertor>(
                [&] { acmc.SuggestFormat(defaultOutputFormat(), dest); }, "no error");
        } else if (afterOpen) {
            message = vxtest::failureOf<EACMConvertor>([&] { acmc.SetActive(false); }, "no error");
        } else {
            message = vxtest::failureOf<EACMConvertor>([&] { acmc.SetActive(true); }, "no error");
        }
        EXPECT_EQ(message, c.message) << c.op;
        acm->clearResults();
    }
}

TEST_F(ConvertorFixture, FailedOpeningStaysInactiveAndClosesTheStreamItOpened) {
    for (const char* op : {"size", "prepare"}) {
        acm->setResult(op, 7);
        EXPECT_NE(vxtest::failureOf<EACMConvertor>([&] { acmc.SetActive(true); }, "no error"), "no error");
        EXPECT_FALSE(acmc.Active());
        EXPECT_FALSE(acm->open) << op << ": the stream must not stay open";
        EXPECT_EQ(acmc.BufferIn(), nullptr);
        acm->clearResults();
        acmc.SetActive(true);
        EXPECT_TRUE(acmc.Active());
        acmc.SetActive(false);
    }
}

TEST_F(ConvertorFixture, FailedConversionKeepsTheStartFlagForTheNextOne) {
    acmc.SetActive(true);
    acm->setResult("convert", 512);
    EXPECT_NE(vxtest::failureOf<EACMConvertor>([&] { acmc.Convert(); }, "no error"), "no error");
    EXPECT_TRUE(acmc.FirstConversion());
    acm->clearResults();
    acmc.Convert();
    EXPECT_EQ(acm->convertFlags.back(), 0x14u);
}

TEST_F(ConvertorFixture, FailedCloseStaysActiveAndALaterCloseTriesAgain) {
    acmc.SetActive(true);
    acm->setResult("unprepare", 5);
    EXPECT_NE(vxtest::failureOf<EACMConvertor>([&] { acmc.SetActive(false); }, "no error"), "no error");
    EXPECT_TRUE(acmc.Active());
    EXPECT_NE(acmc.BufferIn(), nullptr);
    acm->clearResults();
    acmc.SetActive(false);
    EXPECT_FALSE(acmc.Active());
    EXPECT_FALSE(acm->open);
}

TEST_F(ConvertorFixture, ConvertWithoutAnOpenStreamIsAnErrorNotACrash) {
    EXPECT_EQ(vxtest::failureOf<EACMConvertor>([&] { acmc.Convert(); }, "no error"),
              "acmStreamConvert: The specified handle is invalid.");
}

TEST_F(ConvertorFixture, CancelledChoiceLeavesTheFormatByteForByte) {
    acmc.FormatOut = defaultOutputFormat();
    acm->chooseResult = 515;
    EXPECT_FALSE(acmc.ChooseFormatOut(true));
    EXPECT_EQ(acmc.FormatOut, defaultOutputFormat());
    EXPECT_EQ(acm->chooseStart, defaultOutputFormat());
    EXPECT_EQ(acm->lastChoose.cbStruct, 232u);
    EXPECT_EQ(acm->lastChoose.fdwStyle, 0x40u);
    EXPECT_EQ(acm->lastChoose.cbwfx, 129u);
}

TEST_F(ConvertorFixture, ChosenFormatReplacesOnlyItsTarget) {
    acmc.FormatIn = defaultInputFormat();
    acmc.FormatOut = defaultOutputFormat();
    acm->chooseResult = 0;
    acm->chooseAnswer = gsmFormat();
    EXPECT_TRUE(acmc.ChooseFormatIn(true));
    EXPECT_EQ(acmc.FormatIn, gsmFormat());
    EXPECT_EQ(acmc.FormatOut, defaultOutputFormat());
}

TEST_F(ConvertorFixture, ChoiceWithoutCurrentStartsOnGsm) {
    acmc.FormatIn = defaultInputFormat();
    acmc.ChooseFormatIn(false);
    EXPECT_EQ(acm->chooseStart.formatTag(), 0x31);
    EXPECT_EQ(acm->chooseStart.samplesPerSec(), 8000u);
    EXPECT_EQ(acm->chooseStart.avgBytesPerSec(), 8000u);
    EXPECT_EQ(acm->chooseStart.bitsPerSample(), 8);
    EXPECT_EQ(acm->chooseStart.extraSize(), 129);
    EXPECT_EQ(acmc.FormatIn, defaultInputFormat());
}

TEST_F(ConvertorFixture, FailedChoiceLeavesTheFormatUnchanged) {
    acmc.FormatOut = defaultOutputFormat();
    acm->chooseResult = 11;
    EXPECT_EQ(vxtest::failureOf<EACMConvertor>([&] { acmc.ChooseFormatOut(true); }, "no error"),
              "Choose format At least one parameter is invalid.");
    EXPECT_EQ(acmc.FormatOut, defaultOutputFormat());
}

TEST_F(ConvertorFixture, SuggestionFillsTheWholeDestination) {
    acm->suggestAnswer = gsmFormat();
    TAudioFormat dest = defaultOutputFormat();
    acmc.SuggestFormat(defaultOutputFormat(), dest);
    EXPECT_EQ(dest, gsmFormat());
}

TEST(FormatStreaming, AFormatIsStoredAs133BytesAndReadBack) {
    TACMConvertor source(std::make_shared<SimulatedAcm>());
    source.FormatIn = defaultInputFormat();
    source.FormatOut = defaultOutputFormat();
    QBuffer stored;
    stored.open(QIODevice::ReadWrite);
    source.WriteACMFormatIn(stored);
    EXPECT_EQ(stored.size(), 133);
    source.WriteACMFormatOut(stored);
    ASSERT_EQ(stored.size(), 266);
    const QByteArray bytes = stored.data();
    EXPECT_EQ(bytes.left(4), QByteArray::fromHex("81000000"));
    EXPECT_EQ(bytes.mid(133, 4), QByteArray::fromHex("81000000"));

    TACMConvertor target(std::make_shared<SimulatedAcm>());
    stored.seek(0);
    target.ReadACMFormatIn(stored);
    target.ReadACMFormatOut(stored);
    EXPECT_EQ(target.FormatIn, defaultInputFormat());
    EXPECT_EQ(target.FormatOut, defaultOutputFormat());
}

TEST(FormatStreaming, ALongerStoredRecordFillsTheFormatAndTheRestIsPassedOver) {
    QByteArray data = QByteArray::fromHex("8c000000") + defaultOutputFormat().toBytes() + QByteArray(11, 'x');
    data += formatPropertyData(defaultInputFormat());
    QBuffer stored(&data);
    stored.open(QIODevice::ReadOnly);
    TACMConvertor target(std::make_shared<SimulatedAcm>());
    target.ReadACMFormatOut(stored);
    target.ReadACMFormatIn(stored);
    EXPECT_EQ(target.FormatOut, defaultOutputFormat());
    EXPECT_EQ(target.FormatIn, defaultInputFormat());
}

TEST(FormatStreaming, StoredDefaultsAreTheStationsFormatsByteForByte) {
    // PCM, mono, 11025 Hz, 22050 B/s, align 2, 16 bit, extra size 129.
    EXPECT_EQ(defaultInputFormat().toBytes(), QByteArray::fromHex("01000100112b0000") +
                                                  QByteArray::fromHex("2256000002001000") +
                                                  QByteArray::fromHex("8100") + QByteArray(111, '\0'));
    // MPEG Layer-3, mono, 11025 Hz, 2250 B/s, align 1, 0 bit, extra 12: 01 00 02 00 00 00 D4 01 04 00 71 05.
    EXPECT_EQ(defaultOutputFormat().toBytes(),
              QByteArray::fromHex("55000100112b0000ca08000001000000") + QByteArray::fromHex("0c00") +
                  QByteArray::fromHex("010002000000d40104007105") + QByteArray(99, '\0'));
}
