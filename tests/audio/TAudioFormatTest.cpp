// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a format record can be carried by a codec or a capture device.
#include "platform/TAudioFormat.h"
#include "platform/acm/Codecs.h"

#include <gtest/gtest.h>

TEST(AudioFormatCheck, EveryOfferedFormatAndACompressedInputPass) {
    for (const vx::acm::FormatChoice& choice : vx::acm::offeredFormats()) {
        EXPECT_EQ(choice.format.problem(), "")
            << choice.codec.toStdString() << " " << choice.attributes.toStdString();
    }
    EXPECT_EQ(defaultInputFormat().problem(), "");
    TAudioFormat gsm;  // GSM 6.10, 8 kHz mono: 65-byte blocks of 320 samples
    gsm.setFormatTag(0x0031);
    gsm.setChannels(1);
    gsm.setSamplesPerSec(8000);
    gsm.setAvgBytesPerSec(1625);
    gsm.setBlockAlign(65);
    gsm.setExtraSize(2);
    gsm.set16(18, 320);
    EXPECT_EQ(gsm.problem(), "");
}
