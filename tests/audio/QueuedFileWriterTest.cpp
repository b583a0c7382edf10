// SPDX-License-Identifier: GPL-3.0-or-later
// The file writer's own thread: a disk that stalls holds up the writer only, never the caller's block.
#include "audio/QueuedFileWriter.h"
#include "platform/IoError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A FIFO whose reader takes nothing until the test says so: a disk that has stalled. Its pipe holds one
// page, so the writer's thread is stuck after the first few blocks.
TEST(QueuedFileWriter, AStalledDiskNeverHoldsTheCallerAndAFullQueueEndsTheCopyWithWholeBlocksKept) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("stalled"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ::fcntl(reader, F_SETPIPE_SZ, 4096);

    QueuedFileWriter writer;
    std::string failure;
    writer.OnFailure = [&](const std::string& message) { failure = message; };
    writer.create(path, 20000);
    std::vector<char> block(1000);
    int accepted = 0;
    try {
        for (; accepted < 100; ++accepted) {
            std::fill(block.begin(), block.end(), char('a' + accepted % 26));
            writer.write(block.data(), int(block.size()));  // returns although the disk takes nothing
        }
    } catch (const EInOutError& e) {
        EXPECT_NE(std::string(e.what()).find("did not keep up"), std::string::npos) << e.what();
    }
    EXPECT_GE(accepted, 20) << "the queue holds what its bound allows";
    EXPECT_LT(accepted, 100) << "a full queue must end the copy, not grow";

    // The disk wakes up: what was accepted arrives, whole and in order.
    QByteArray got;
    char buffer[4096];
    while (got.size() < accepted * 1000) {
        pollfd readable{reader, POLLIN, 0};
        ASSERT_EQ(::poll(&readable, 1, 10000), 1) << "the writer stopped writing";
        const ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n > 0) {
            got.append(buffer, n);
        }
    }
    writer.finish();
    ::close(reader);
    ASSERT_EQ(got.size(), accepted * 1000);
    for (int i = 0; i < accepted; ++i) {
        ASSERT_EQ(got.at(i * 1000), char('a' + i % 26)) << i;
    }
    EXPECT_TRUE(failure.empty()) << failure;
}

// A disk that refuses a block ends the file with one failure on the writer's thread; later blocks are
// dropped without a second report.
TEST(QueuedFileWriter, AFullDiskIsReportedOnceAndTheFileStopsTakingBlocks) {
    QueuedFileWriter writer;
    std::atomic<int> failures{0};
    writer.OnFailure = [&](const std::string& message) {
        EXPECT_NE(message.find("Disk full"), std::string::npos) << message;
        ++failures;
    };
    writer.create(QStringLiteral("/dev/full"), 1 << 20);
    const char block[100] = {};
    writer.write(block, sizeof block);
    ASSERT_TRUE(vxtest::waitUntil([&] { return failures.load() == 1; }));
    EXPECT_FALSE(writer.isOpen());
    writer.write(block, sizeof block);
    writer.finish();
    EXPECT_EQ(failures.load(), 1);
}

}  // namespace
