// SPDX-License-Identifier: GPL-3.0-or-later
// TACMIn over the simulated device: buffer rotation, error texts, stale notices, throwing handlers.
#include "app/StationApplication.h"
#include "audio/TACMIn.h"
#include "platform/wavein/SimulatedWaveIn.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QThread>

#include <condition_variable>
#include <mutex>

using vx::wavein::SimulatedWaveIn;

namespace {

// Errors that escape event delivery, as the application's error report would receive them.
class AppErrors {
public:
    AppErrors() {
        app()->OnException = [this](QObject*, const std::exception& e) { messages.push_back(e.what()); };
    }
    ~AppErrors() { app()->OnException = nullptr; }
    std::vector<std::string> messages;

private:
    static StationApplication* app() {
        return static_cast<StationApplication*>(QCoreApplication::instance());
    }
};

struct Block {
    QByteArray data;
    Qt::HANDLE thread;
};

class CaptureFixture : public ::testing::Test {
protected:
    void SetUp() override {
        acmi.SetBufferSize(16);
        acmi.OnBufferFull = [this](TACMIn* sender, const void* data, int size) {
            EXPECT_EQ(sender, &acmi);
            blocks.push_back({QByteArray(static_cast<const char*>(data), size), QThread::currentThreadId()});
        };
    }
    void settle() { QCoreApplication::processEvents(); }

    std::shared_ptr<SimulatedWaveIn> device = std::make_shared<SimulatedWaveIn>();
    TACMIn acmi{device};
    std::vector<Block> blocks;
};

std::string openFailure(TACMIn& acmi) {
    try {
        acmi.Open(defaultInputFormat());
    } catch (const EACMIn& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace

TEST_F(CaptureFixture, PcmOpensTheWaveMapperAndCompressedFormatsDeviceZeroThroughTheMapper) {
    acmi.Open(defaultInputFormat());
    EXPECT_EQ(device->openedDevice, 0xFFFFFFFFu);
    EXPECT_EQ(device->openedFlags, 0x00010000u);
    EXPECT_EQ(device->openedFormat, defaultInputFormat());
    acmi.Close();
    acmi.Open(defaultOutputFormat());
    EXPECT_EQ(device->openedDevice, 0u);
    EXPECT_EQ(device->openedFlags, 0x00010004u);
    EXPECT_EQ(acmi.Format(), defaultOutputFormat());
}

TEST_F(CaptureFixture, FilledBuffersReachTheOwnerThreadInDeviceOrderAndAreQueuedAgain) {
    acmi.Open(defaultInputFormat());
    ASSERT_EQ(device->queued(), 4);
    // Six blocks through four buffers: the rotation must reuse each returned buffer.
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(device->fillNext(QByteArray(16, char('a' + i))));
        if (i % 2 == 1) {
            settle();
        }
    }
    settle();
    ASSERT_EQ(blocks.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(blocks[i].data, QByteArray(16, char('a' + i))) << i;
        EXPECT_EQ(blocks[i].thread, QThread::currentThreadId());
    }
    EXPECT_EQ(device->queued(), 4);
}

TEST_F(CaptureFixture, EmptyBufferStillRaisesTheEventWithSizeZeroAndIsRequeued) {
    acmi.Open(defaultInputFormat());
    ASSERT_TRUE(device->fillNext(QByteArray()));
    settle();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_TRUE(blocks[0].data.isEmpty());
    EXPECT_EQ(device->queued(), 4);
}

TEST_F(CaptureFixture, WithoutHandlerBuffersKeepCirculating) {
    acmi.OnBufferFull = nullptr;
    acmi.Open(defaultInputFormat());
    for (int i = 0; i < 9; ++i) {
        ASSERT_TRUE(device->fillNext(QByteArray(16, 'x')));
        settle();
    }
    EXPECT_EQ(device->queued(), 4);
}

TEST_F(CaptureFixture, SizeAndCountChangesWhileActiveAreIgnoredAndApplyAfterClose) {
    acmi.Open(defaultInputFormat());
    acmi.SetBufferSize(100);
    acmi.SetNumBuffers(2);
    EXPECT_EQ(acmi.BufferSize(), 16);
    EXPECT_EQ(acmi.NumBuffers(), 4);
    acmi.Close();
    acmi.SetBufferSize(100);
    acmi.SetNumBuffers(2);
    acmi.Open(defaultInputFormat());
    EXPECT_EQ(device->queued(), 2);
    ASSERT_TRUE(device->fillNext(QByteArray(200, 'k')));
    settle();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].data.size(), 100);
}

TEST_F(CaptureFixture, SecondOpenKeepsTheRunningCaptureAndItsFormat) {
    acmi.Open(defaultInputFormat());
    acmi.Open(defaultOutputFormat());
    EXPECT_EQ(device->opens, 1);
    EXPECT_EQ(acmi.Format(), defaultInputFormat());
    EXPECT_EQ(device->queued(), 4);
}

TEST_F(CaptureFixture, NoticesOfAClosedCaptureAreIgnoredAlsoAfterReopening) {
    acmi.Open(defaultInputFormat());
    ASSERT_TRUE(device->fillNext(QByteArray(16, 'a')));
    ASSERT_TRUE(device->fillNext(QByteArray(16, 'b')));
    // The two filled notices and the four the reset returns are still waiting when the capture closes
    // and opens again.
    acmi.Close();
    EXPECT_FALSE(device->isOpen());
    acmi.Open(defaultInputFormat());
    settle();
    EXPECT_TRUE(blocks.empty());
    EXPECT_EQ(device->queued(), 4);
    ASSERT_TRUE(device->fillNext(QByteArray(16, 'c')));
    settle();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].data, QByteArray(16, 'c'));
    acmi.Close();
    settle();
    EXPECT_EQ(blocks.size(), 1u);
}

TEST_F(CaptureFixture, DestroyingAnActiveCaptureClosesTheDevice) {
    {
        TACMIn other(device);
        other.Open(defaultInputFormat());
        ASSERT_TRUE(device->isOpen());
    }
    EXPECT_FALSE(device->isOpen());
    EXPECT_EQ(device->queued(), 0);
    settle();  // the returned buffers' notices find no component
}

TEST_F(CaptureFixture, ThrowingHandlerTakesItsBufferOutOfRotationAndCaptureGoesOn) {
    AppErrors errors;
    int calls = 0;
    acmi.OnBufferFull = [&](TACMIn*, const void* data, int size) {
        ++calls;
        if (calls == 1) {
            throw std::runtime_error("handler failed");
        }
        blocks.push_back({QByteArray(static_cast<const char*>(data), size), QThread::currentThreadId()});
    };
    acmi.Open(defaultInputFormat());
    ASSERT_TRUE(device->fillNext(QByteArray(16, '1')));
    settle();
    ASSERT_EQ(errors.messages.size(), 1u);
    EXPECT_EQ(errors.messages[0], "handler failed");
    EXPECT_EQ(device->queued(), 3);
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(device->fillNext(QByteArray(16, char('2' + i))));
        settle();
    }
    ASSERT_EQ(blocks.size(), 7u);
    EXPECT_EQ(blocks[6].data, QByteArray(16, '8'));
    EXPECT_EQ(device->queued(), 3);
    EXPECT_TRUE(acmi.Active());
    acmi.Close();
    EXPECT_FALSE(device->isOpen());
}

struct OpenFailureCase {
    const char* op;
    int okCalls;
    uint32_t code;
    const char* message;
};

TEST(CaptureOpenFailure, EveryStepNamesItselfWithTheCodeText) {
    const OpenFailureCase cases[] = {
        {"open", 0, 2, "WaveIn-Open The specified resource does not exist."},
        {"open", 0, 4, "WaveIn-Open The specified resource is already in use."},
        {"open", 0, 5, "WaveIn-Open The specified handle is invalid."},
        {"open", 0, 6, "WaveIn-Open A suitable driver is not available to provide valid format selections."},
        {"open", 0, 7, "WaveIn-Open The system is unable to allocate resources."},
        {"open", 0, 10, "WaveIn-Open At least one flag is invalid."},
        {"open", 0, 11, "WaveIn-Open At least one parameter is invalid."},
        {"open", 0, 32, "WaveIn-Open Unsupported audio format."},
        {"open", 0, 35, "WaveIn-Open The specified device does not support asynchronous operation."},
        {"prepare", 2, 512, "WaveIn-PrepareHeader The requested operation cannot be performed."},
        {"add", 3, 513, "WaveIn-AddBuffer The conversion stream is already in use."},
        {"add", 0, 514,
         "WaveIn-AddBuffer Cannot perform this action on a header that has not been prepared."},
        {"start", 0, 1, "WaveIn-Start raised an unknown error (code #1)"},
        {"start", 0, 33, "WaveIn-Start raised an unknown error (code #33)"},
    };
    for (const auto& c : cases) {
        auto device = std::make_shared<SimulatedWaveIn>();
        TACMIn acmi(device);
        device->setResult(c.op, c.code, c.okCalls);
        EXPECT_EQ(openFailure(acmi), c.message) << c.op << " " << c.code;
        EXPECT_FALSE(acmi.Active());
        // A failed open gives the device back, so the next open is not refused as busy.
        EXPECT_FALSE(device->isOpen()) << c.op;
        device->clearResults();
        acmi.Open(defaultInputFormat());
        EXPECT_TRUE(acmi.Active());
        EXPECT_EQ(device->queued(), 4) << c.op;
        acmi.Close();
        QCoreApplication::processEvents();
    }
}

TEST(CaptureErrorText, ZeroIsNoErrorAndUnlistedCodesUseTheUnknownFormat) {
    EXPECT_EQ(TACMIn::ErrorText("WaveIn-Open", 0), "");
    EXPECT_EQ(TACMIn::ErrorText("WaveIn-Open", 3), "WaveIn-Open raised an unknown error (code #3)");
    EXPECT_EQ(TACMIn::ErrorText("X", 4294967295u), "X raised an unknown error (code #-1)");
}

TEST_F(CaptureFixture, RequeueFailuresNameTheirStepAndTheBufferLeavesTheRotation) {
    struct Case {
        const char* op;
        const char* message;
    };
    const Case cases[] = {
        {"unprepare", "WaveIn-UnprepareHeader The specified handle is invalid."},
        {"prepare", "WaveIn-PrepareHeader The specified handle is invalid."},
        {"add", "WaveInAddBuffer The specified handle is invalid."},
    };
    for (const auto& c : cases) {
        AppErrors errors;
        blocks.clear();
        acmi.Open(defaultInputFormat());
        device->setResult(c.op, 5);
        ASSERT_TRUE(device->fillNext(QByteArray(16, 'e')));
        settle();
        ASSERT_EQ(errors.messages.size(), 1u) << c.op;
        EXPECT_EQ(errors.messages[0], c.message);
        EXPECT_EQ(blocks.size(), 1u) << "the handler runs before the re-queue";
        EXPECT_EQ(device->queued(), 3) << c.op;
        device->clearResults();
        ASSERT_TRUE(device->fillNext(QByteArray(16, 'f')));
        settle();
        EXPECT_EQ(device->queued(), 3) << c.op;
        acmi.Close();
        settle();
    }
}

// The block's road: a real capture thread hands every block over and gets its buffer back at once while
// the owner's thread handles no event at all (twice as many blocks as buffers), and hands over nothing
// once the delivery has stopped, while its done notices go on.
TEST(CaptureHandOver, BlocksReachTheConsumerOnTheCaptureThreadWhileTheOwnerIsBusyAndNoneAfterTheStop) {
    TACMIn acmi(vx::wavein::createWaveIn(QStringLiteral("tone:440")));
    acmi.SetBufferSize(2205 * 2);  // a tenth of a second
    std::mutex mutex;
    std::condition_variable changed;
    int handed = 0;
    bool onOwnerThread = false;
    const Qt::HANDLE owner = QThread::currentThreadId();
    acmi.OnBlockCaptured = [&](TACMIn*, const void*, int size) {
        std::lock_guard lock(mutex);
        handed += size > 0;
        onOwnerThread |= QThread::currentThreadId() == owner;
        changed.notify_all();
    };
    int noticed = 0;
    acmi.OnBufferFull = [&](TACMIn*, const void*, int) { ++noticed; };
    acmi.Open(defaultInputFormat());
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return handed >= 8; }));
        EXPECT_FALSE(onOwnerThread);
    }
    EXPECT_EQ(noticed, 0) << "the owner's thread ran no event loop meanwhile";

    acmi.StopDelivery();
    int handedAtStop = 0;
    {
        std::lock_guard lock(mutex);
        handedAtStop = handed;
    }
    ASSERT_TRUE(vxtest::waitUntil([&] { return noticed >= handedAtStop + 4; }));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(handed, handedAtStop);
    }
    acmi.Close();
}
