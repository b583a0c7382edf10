// SPDX-License-Identifier: GPL-3.0-or-later
// The real ALSA backend records a known signal: a capture PCM of ALSA's file plugin reads a generated
// tone from a file (its slave is the null device), so no sound card is needed.
#include "audio/TACMIn.h"
#include "platform/wavein/AlsaWaveIn.h"
#include "support/SignalTools.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QThread>

using vx::wavein::AlsaWaveIn;

namespace {

class AlsaFilePcm : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        tone = vxtest::sine16(11025, 1, 440.0, 11025 * 6);
        tonePath = vxtest::writeFile(dir.path(), QStringLiteral("tone.raw"), tone);
        const QByteArray config =
            "pcm.vxtone {\n"
            "    type file\n"
            "    slave.pcm { type null }\n"
            "    file \"/dev/null\"\n"
            "    infile \"" +
            tonePath.toUtf8() +
            "\"\n"
            "    format \"raw\"\n"
            "}\n";
        configPath = vxtest::writeFile(dir.path(), QStringLiteral("asound.conf"), config);
    }

    QTemporaryDir dir;
    QByteArray tone;
    QString tonePath;
    QString configPath;
};

}  // namespace

TEST_F(AlsaFilePcm, CapturedBlocksArriveOnTheOwnerThreadInOrderWithTheRecordedSignal) {
    TACMIn acmi(std::make_shared<AlsaWaveIn>(QStringLiteral("vxtone"), configPath));
    const TAudioFormat format = defaultInputFormat();
    acmi.SetBufferSize(int(format.avgBytesPerSec()));
    std::vector<QByteArray> blocks;
    std::vector<Qt::HANDLE> threads;
    acmi.OnBufferFull = [&](TACMIn*, const void* data, int size) {
        blocks.emplace_back(static_cast<const char*>(data), size);
        threads.push_back(QThread::currentThreadId());
    };
    acmi.Open(format);
    ASSERT_TRUE(vxtest::waitUntil([&] { return blocks.size() >= 5; }));
    acmi.Close();

    QByteArray joined;
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(blocks[i].size(), 22050) << i;
        EXPECT_EQ(threads[i], QThread::currentThreadId());
        joined += blocks[i];
    }
    // In order and complete: the five seconds are the file's first five seconds, byte for byte.
    ASSERT_EQ(joined.size(), 5 * 22050);
    EXPECT_TRUE(joined == tone.left(joined.size()));
    const std::vector<int16_t> s = vxtest::samples16(joined);
    EXPECT_NEAR(vxtest::frequency(s, 1, 0, 11025, 0, s.size()), 440.0, 1.0);
}

TEST_F(AlsaFilePcm, DeviceRefusalsMapToCaptureCodes) {
    struct Case {
        QString pcm;
        TAudioFormat format;
        uint32_t code;
    };
    TAudioFormat twelveBit = defaultInputFormat();
    twelveBit.setBitsPerSample(12);
    const Case cases[] = {
        {QStringLiteral("nosuchpcm"), defaultInputFormat(), 2},  // no such device
        {QStringLiteral("vxtone"), defaultOutputFormat(), 32},   // compressed: the layer cannot record it
        {QStringLiteral("vxtone"), twelveBit, 32},
    };
    QObject target;
    for (const auto& c : cases) {
        AlsaWaveIn device(c.pcm, configPath);
        vx::wavein::HWAVEIN handle = nullptr;
        EXPECT_EQ(device.open(
                      &handle, 0, c.format, &target, [](vx::wavein::WAVEHDR*, uint32_t) {}, 0x10000),
                  c.code)
            << c.pcm.toStdString();
        EXPECT_EQ(handle, nullptr);
    }
}

TEST_F(AlsaFilePcm, ReopenedCaptureStartsAgainAfterAClose) {
    TACMIn acmi(std::make_shared<AlsaWaveIn>(QStringLiteral("vxtone"), configPath));
    acmi.SetBufferSize(2206);
    int count = 0;
    acmi.OnBufferFull = [&](TACMIn*, const void*, int size) {
        EXPECT_EQ(size, 2206);
        ++count;
    };
    acmi.Open(defaultInputFormat());
    ASSERT_TRUE(vxtest::waitUntil([&] { return count >= 3; }));
    acmi.Close();
    const int afterClose = count;
    QCoreApplication::processEvents();
    EXPECT_EQ(count, afterClose) << "no block after Close";
    acmi.Open(defaultInputFormat());
    ASSERT_TRUE(vxtest::waitUntil([&] { return count >= afterClose + 3; }));
    acmi.Close();
}
