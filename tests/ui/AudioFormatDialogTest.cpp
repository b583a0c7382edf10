// SPDX-License-Identifier: GPL-3.0-or-later
// The format-choice dialog opens on the current format and answers with the selected record.
#include "platform/acm/Codecs.h"
#include "ui/AudioFormatDialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>

TEST(AudioFormatDialog, OpensOnTheCurrentFormatAndReturnsItsRecordUnchanged) {
    struct Case {
        TAudioFormat current;
        const char* codec;
        const char* attributes;
    };
    const Case cases[] = {
        {defaultOutputFormat(), "MPEG Layer-3", "11.025 kHz, Mono, 18 kBit/s"},
        {vx::acm::pcmFormat(44100, 16, 2), "PCM", "44.100 kHz, 16 Bit, Stereo"},
        {vx::acm::mp3Format(48000, 2, 320), "MPEG Layer-3", "48.000 kHz, Stereo, 320 kBit/s"},
    };
    for (const auto& c : cases) {
        AudioFormatDialog dialog(vx::acm::offeredFormats(), c.current);
        EXPECT_EQ(dialog.codecBox()->currentText().toStdString(), c.codec);
        ASSERT_NE(dialog.attributeList()->currentItem(), nullptr);
        EXPECT_EQ(dialog.attributeList()->currentItem()->text().toStdString(), c.attributes);
        ASSERT_TRUE(dialog.chosenFormat().has_value());
        EXPECT_EQ(dialog.chosenFormat()->toBytes(), c.current.toBytes());
    }
}

TEST(AudioFormatDialog, SwitchingTheCodecListsOnlyItsFormats) {
    AudioFormatDialog dialog(vx::acm::offeredFormats(), defaultOutputFormat());
    dialog.codecBox()->setCurrentText(QStringLiteral("PCM"));
    EXPECT_EQ(dialog.attributeList()->count(), 36);
    dialog.attributeList()->setCurrentRow(3);
    ASSERT_TRUE(dialog.chosenFormat().has_value());
    EXPECT_EQ(dialog.chosenFormat()->formatTag(), 1);
    EXPECT_EQ(dialog.chosenFormat()->samplesPerSec(), 8000u);
    EXPECT_EQ(dialog.chosenFormat()->bitsPerSample(), 16);
    EXPECT_EQ(dialog.chosenFormat()->channels(), 2);
}
