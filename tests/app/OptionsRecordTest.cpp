// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TAudioFormat.h"
#include "settings/TOptionsRecord.h"

#include <gtest/gtest.h>
#include <QtEndian>

namespace {

TOptionsRecord sampleRecord() {
    TOptionsRecord r;
    r.Port = 7000;
    r.Radioname = QStringLiteral("Radio Ü");
    r.ExtRadioname = QStringLiteral("extension");
    r.EMail = QStringLiteral("a@b.de");
    r.Passwort = QStringLiteral("geheim€");
    r.FormatIn = defaultInputFormat();
    r.FormatOut = defaultOutputFormat();
    r.Upload = 128;
    r.Beschr = true;
    return r;
}

TEST(OptionsRecord, FieldsLieAtTheirFileOffsets) {
    const QByteArray b = sampleRecord().toBytes();
    ASSERT_EQ(b.size(), 1044);
    EXPECT_EQ(qFromLittleEndian<int32_t>(b.constData() + 0), 7000);
    EXPECT_EQ(b.at(4), 7);  // "Radio Ü" is 7 bytes in Windows-1252
    EXPECT_EQ(b.mid(5, 7), QByteArray("Radio \xDC"));
    EXPECT_EQ(b.at(25), 9);
    EXPECT_EQ(b.mid(26, 9), QByteArray("extension"));
    EXPECT_EQ(b.at(261), 6);
    EXPECT_EQ(b.mid(262, 6), QByteArray("a@b.de"));
    EXPECT_EQ(b.at(517), 7);
    EXPECT_EQ(b.mid(518, 7), QByteArray("geheim\x80"));
    EXPECT_EQ(b.mid(773, 129), defaultInputFormat().toBytes());
    EXPECT_EQ(b.mid(902, 129), defaultOutputFormat().toBytes());
    EXPECT_EQ(qFromLittleEndian<int32_t>(b.constData() + 1032), 128);
    EXPECT_EQ(b.at(1040), 1);
}

TEST(OptionsRecord, RoundTripKeepsEveryField) {
    const TOptionsRecord in = sampleRecord();
    const TOptionsRecord out = TOptionsRecord::fromBytes(in.toBytes());
    EXPECT_EQ(out.Port, in.Port);
    EXPECT_EQ(out.Radioname, in.Radioname);
    EXPECT_EQ(out.ExtRadioname, in.ExtRadioname);
    EXPECT_EQ(out.EMail, in.EMail);
    EXPECT_EQ(out.Passwort, in.Passwort);
    EXPECT_EQ(out.FormatIn, in.FormatIn);
    EXPECT_EQ(out.FormatOut, in.FormatOut);
    EXPECT_EQ(out.Upload, in.Upload);
    EXPECT_EQ(out.Beschr, in.Beschr);
}

TEST(OptionsRecord, TextsLongerThanTheirCapacityAreCut) {
    TOptionsRecord r;
    r.Radioname = QString(25, QLatin1Char('r'));
    r.ExtRadioname = QString(300, QLatin1Char('e'));
    r.EMail = QString(400, QLatin1Char('m'));
    r.Passwort = QString(256, QLatin1Char('p'));
    const QByteArray b = r.toBytes();
    ASSERT_EQ(b.size(), 1044);
    EXPECT_EQ(uint8_t(b.at(4)), 20);
    EXPECT_EQ(uint8_t(b.at(25)), 235);
    EXPECT_EQ(uint8_t(b.at(261)), 255);
    EXPECT_EQ(uint8_t(b.at(517)), 255);
    // The cut never spills into the next field.
    EXPECT_EQ(b.at(25 + 236 - 1), 'e');
    EXPECT_EQ(uint8_t(b.at(261)), 255);
    const TOptionsRecord back = TOptionsRecord::fromBytes(b);
    EXPECT_EQ(back.Radioname, QString(20, QLatin1Char('r')));
    EXPECT_EQ(back.ExtRadioname, QString(235, QLatin1Char('e')));
}

TEST(OptionsRecord, AnyNonZeroLimitByteReadsAsOn) {
    QByteArray b = TOptionsRecord().toBytes();
    b[1040] = char(7);
    EXPECT_TRUE(TOptionsRecord::fromBytes(b).Beschr);
}

TEST(OptionsRecord, LengthByteBeyondCapacityReadsOnlyTheCapacity) {
    QByteArray b = TOptionsRecord().toBytes();
    b[4] = char(200);  // a damaged file must not read into the next field
    EXPECT_EQ(TOptionsRecord::fromBytes(b).Radioname.size(), 20);
}

}  // namespace
