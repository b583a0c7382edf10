// SPDX-License-Identifier: GPL-3.0-or-later
// Capture devices by name, and the built-in tone device recording through TACMIn.
#include "audio/TACMIn.h"
#include "platform/wavein/AlsaWaveIn.h"
#include "platform/wavein/ToneWaveIn.h"
#include "support/SignalTools.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <memory>
#include <vector>

using namespace vx::wavein;

TEST(CaptureDeviceSpec, EachSpecBuildsItsBackendAndBadOnesAreRefusedWithAReason) {
    EXPECT_NE(dynamic_cast<AlsaWaveIn*>(createWaveIn(QStringLiteral("alsa:default")).get()), nullptr);
    EXPECT_NE(dynamic_cast<AlsaWaveIn*>(createWaveIn(QStringLiteral("alsa:hw:1,0")).get()), nullptr);
    auto tone = std::dynamic_pointer_cast<ToneWaveIn>(createWaveIn(QStringLiteral("tone")));
    ASSERT_NE(tone, nullptr);
    EXPECT_EQ(tone->frequency(), 440.0);
    tone = std::dynamic_pointer_cast<ToneWaveIn>(createWaveIn(QStringLiteral("tone:880")));
    ASSERT_NE(tone, nullptr);
    EXPECT_EQ(tone->frequency(), 880.0);
    for (const char* bad : {"", "alsa:", "tone:", "tone:abc", "tone:-5", "pulse:default", "default"}) {
        QString error;
        EXPECT_EQ(createWaveIn(QString::fromLatin1(bad), &error), nullptr) << bad;
        EXPECT_TRUE(error.contains(QString::fromLatin1(bad))) << error.toStdString();
    }
}

TEST(ToneDevice, RecordsItsSineInTheOpenedFormatAtThePaceOfRealTime) {
    struct Case {
        TAudioFormat format;
        double hz;
    };
    TAudioFormat stereo8;
    stereo8.setFormatTag(1);
    stereo8.setChannels(2);
    stereo8.setSamplesPerSec(8000);
    stereo8.setAvgBytesPerSec(16000);
    stereo8.setBlockAlign(2);
    stereo8.setBitsPerSample(8);
    const Case cases[] = {{defaultInputFormat(), 880.0}, {stereo8, 440.0}};
    for (const auto& c : cases) {
        TACMIn acmi(std::make_shared<ToneWaveIn>(c.hz));
        // A tenth of a second per buffer.
        acmi.SetBufferSize(int(c.format.avgBytesPerSec() / 10));
        QByteArray recorded;
        int blocks = 0;
        acmi.OnBufferFull = [&](TACMIn*, const void* data, int size) {
            recorded.append(static_cast<const char*>(data), size);
            ++blocks;
        };
        QElapsedTimer clock;
        clock.start();
        acmi.Open(c.format);
        ASSERT_TRUE(vxtest::waitUntil([&] { return blocks >= 5; }));
        const qint64 elapsed = clock.elapsed();
        acmi.Close();
        // Half a second of sound cannot have been produced in much less than half a second.
        EXPECT_GE(elapsed, 400);
        const int channels = c.format.channels();
        std::vector<int16_t> s;
        if (c.format.bitsPerSample() == 8) {
            for (char ch : recorded) {
                s.push_back(int16_t((int(uint8_t(ch)) - 128) * 256));
            }
        } else {
            s = vxtest::samples16(recorded);
        }
        const std::size_t frames = s.size() / std::size_t(channels);
        for (int ch = 0; ch < channels; ++ch) {
            EXPECT_NEAR(vxtest::frequency(s, channels, ch, long(c.format.samplesPerSec()), 0, frames), c.hz,
                        2.0);
            EXPECT_NEAR(vxtest::rms(s, channels, ch, 0, frames), 0.5 / std::sqrt(2.0), 0.02);
        }
    }
}

TEST(ToneDevice, CompressedFormatsAreRefusedAsUnsupported) {
    ToneWaveIn device;
    QObject target;
    HWAVEIN handle = nullptr;
    EXPECT_EQ(device.open(
                  &handle, 0, defaultOutputFormat(), &target, [](WAVEHDR*, uint32_t) {}, CALLBACK_WINDOW),
              WAVERR_BADFORMAT);
    TACMIn acmi(std::make_shared<ToneWaveIn>());
    try {
        acmi.Open(defaultOutputFormat());
        FAIL() << "no error";
    } catch (const EACMIn& e) {
        EXPECT_STREQ(e.what(), "WaveIn-Open Unsupported audio format.");
    }
}

TEST(ToneDevice, BufferTooSmallForOneFrameIsRefusedInsteadOfSpinning) {
    for (int size : {0, 1}) {
        TACMIn acmi(std::make_shared<ToneWaveIn>());
        acmi.SetBufferSize(size);
        try {
            acmi.Open(defaultInputFormat());
            FAIL() << "no error for " << size;
        } catch (const EACMIn& e) {
            EXPECT_STREQ(e.what(), "WaveIn-AddBuffer At least one parameter is invalid.");
        }
        EXPECT_FALSE(acmi.Active());
        acmi.SetBufferSize(2);
        acmi.Open(defaultInputFormat());
        EXPECT_TRUE(acmi.Active()) << "the failed open left the device free";
        acmi.Close();
    }
}

// The layer's table of open devices: closing one leaves the other recording, a closed handle is refused,
// and a device still recording when the layer goes is stopped and freed with it (the sanitizers watch).
TEST(ToneDevice, EachOpenDeviceIsItsOwnAndAClosedHandleIsRefused) {
    auto device = std::make_unique<ToneWaveIn>();
    QObject target;
    int filled = 0;
    const auto notice = [&filled](WAVEHDR* h, uint32_t) { filled += h != nullptr ? 1 : 0; };
    HWAVEIN first = nullptr;
    HWAVEIN second = nullptr;
    ASSERT_EQ(device->open(&first, 0, defaultInputFormat(), &target, notice, CALLBACK_WINDOW), 0u);
    ASSERT_EQ(device->open(&second, 0, defaultInputFormat(), &target, notice, CALLBACK_WINDOW), 0u);
    ASSERT_NE(first, second);
    ASSERT_EQ(device->close(first), 0u);
    WAVEHDR header;
    std::vector<uint8_t> bytes(2206);  // about a tenth of a second, whole frames
    header.lpData = bytes.data();
    header.dwBufferLength = uint32_t(bytes.size());
    EXPECT_EQ(device->prepareHeader(first, &header, sizeof header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(device->close(first), MMSYSERR_INVALHANDLE);
    ASSERT_EQ(device->prepareHeader(second, &header, sizeof header), 0u);
    ASSERT_EQ(device->addBuffer(second, &header, sizeof header), 0u);
    ASSERT_EQ(device->start(second), 0u);
    EXPECT_TRUE(vxtest::waitUntil([&] { return filled == 1; }));
    EXPECT_EQ(header.dwBytesRecorded, header.dwBufferLength);
    ASSERT_EQ(device->addBuffer(second, &header, sizeof header), 0u);
    device.reset();  // still recording into the queued header
}
