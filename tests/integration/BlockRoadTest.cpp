// SPDX-License-Identifier: GPL-3.0-or-later
// The block's road: capture hands each block to the worker on its own thread, so neither a busy main
// thread nor a disk that stalls under the MP3 copy holds a listener's block.
#include "StationHarness.h"
#include "audio/QueuedFileWriter.h"
#include "status/StatusService.h"
#include "support/StationProbe.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <thread>

using vxtest::CoreStation;

namespace {

using Clock = std::chrono::steady_clock;

// A FIFO standing in for a disk that takes one block every 3 s: its pipe holds one page, and its reader
// takes 2 KiB at a time, so every write of the copy waits for the next read. `flow()` lets it drain.
class StallingDisk {
public:
    explicit StallingDisk(const QString& dir) : path_(dir + QStringLiteral("/stalling.mp3")) {
        ::mkfifo(QFile::encodeName(path_).constData(), 0600);
        fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ::fcntl(fd_, F_SETPIPE_SZ, 4096);
        reader_ = std::thread([this] { drain(); });
    }
    ~StallingDisk() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        reader_.join();
        ::close(fd_);
    }
    const QString& path() const { return path_; }
    void flow() {
        std::lock_guard lock(mutex_);
        flowing_ = true;
        changed_.notify_all();
    }

private:
    void drain() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            char buffer[2048];
            (void)::read(fd_, buffer, flowing_ ? sizeof buffer : 2048);
            changed_.wait_for(lock, std::chrono::milliseconds(flowing_ ? 5 : 3000),
                              [this, was = flowing_] { return stop_ || flowing_ != was; });
        }
    }

    QString path_;
    int fd_ = -1;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    bool flowing_ = false;
    std::thread reader_;
};

// An ICY listener that reads on a thread of its own and notes when each burst of bytes (a block)
// arrives, so that a blocked main thread cannot hide a late block.
class TimedListener {
public:
    explicit TimedListener(int port) : peer_(port) {
        peer_.write("GET / HTTP/1.0\r\n\r\n");
        reader_ = std::thread([this] { read(); });
    }
    ~TimedListener() {
        stop_ = true;
        reader_.join();
    }
    std::vector<Clock::time_point> blocks() const {
        std::lock_guard lock(mutex_);
        return blocks_;
    }

private:
    void read() {
        Clock::time_point last{};
        while (!stop_) {
            pollfd readable{peer_.fd(), POLLIN, 0};
            if (::poll(&readable, 1, 50) != 1) {
                continue;
            }
            char buffer[65536];
            if (::recv(peer_.fd(), buffer, sizeof buffer, MSG_DONTWAIT) <= 0) {
                continue;
            }
            const auto now = Clock::now();
            std::lock_guard lock(mutex_);
            if (blocks_.empty() || now - last > std::chrono::milliseconds(300)) {
                blocks_.push_back(now);
            }
            last = now;
        }
    }

    vxtest::LoopbackPeer peer_;
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> blocks_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

TEST(BlockRoad, AStallingCopyAndTheStatusAskedTwentyTimesASecondCostTheListenerNoBlock) {
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone:440")));
    Station& st = s.station();
    st.editSettings([](StationSettings& settings) { settings.mp3Copy = true; });
    vx::status::StatusService status(st);
    s.start();
    ASSERT_TRUE(s.broadcasting()) << s.dialogs.messages.join('|').toStdString();
    StallingDisk disk(s.dir.path());
    StationProbe(st).road.mp3File().create(disk.path(), 1 << 20);
    qint64 longestRefreshMs = 0;
    QTimer asking;
    asking.setInterval(50);
    QObject::connect(&asking, &QTimer::timeout, [&] {
        QElapsedTimer took;
        took.start();
        status.respond("GET", "/status.json");
        longestRefreshMs = std::max(longestRefreshMs, took.elapsed());
    });
    asking.start();

    TimedListener listener(s.port());
    // The first burst is the reply with the first block; six more follow, one a second.
    ASSERT_TRUE(vxtest::waitUntil([&] { return listener.blocks().size() >= 7; }, 15000))
        << listener.blocks().size() << " blocks arrived";
    const auto blocks = listener.blocks();
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        EXPECT_LT(blocks[i] - blocks[i - 1], std::chrono::milliseconds(1700))
            << "block " << i << " came late";
    }
    EXPECT_LT(longestRefreshMs, 1000) << "the status snapshot waited for the disk";
    EXPECT_GE(StationProbe(st).road.mp3File().bytesWritten(), 1) << "the copy's disk took nothing";
    asking.stop();
    disk.flow();
    s.stop();
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

// Capture gets its buffers back on its own thread: a main thread held for six seconds (four buffers
// of a second each) starves neither the capture nor the listener, and no block is dropped.
TEST(BlockRoad, AMainThreadHeldForSixSecondsCostsTheListenerNoBlock) {
    CoreStation s(vx::wavein::createWaveIn(QStringLiteral("tone:440")));
    Station& st = s.station();
    s.start();
    ASSERT_TRUE(s.broadcasting()) << s.dialogs.messages.join('|').toStdString();
    TimedListener listener(s.port());
    ASSERT_TRUE(vxtest::waitUntil([&] { return listener.blocks().size() >= 2; }, 10000));

    const std::size_t before = listener.blocks().size();
    Clock::time_point heldFrom;
    Clock::time_point heldUntil;
    bool held = false;
    QTimer::singleShot(0, [&] {
        heldFrom = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(6));  // the fault: a handler that hangs
        heldUntil = Clock::now();
        held = true;
    });
    ASSERT_TRUE(vxtest::waitUntil([&] { return held; }, 15000));
    const auto blocks = listener.blocks();
    std::vector<Clock::time_point> during;
    for (std::size_t i = before; i < blocks.size(); ++i) {
        if (blocks[i] >= heldFrom && blocks[i] <= heldUntil) {
            during.push_back(blocks[i]);
        }
    }
    EXPECT_GE(during.size(), 5u) << "blocks that reached the listener while the main thread was held";
    for (std::size_t i = 1; i < during.size(); ++i) {
        EXPECT_LT(during[i] - during[i - 1], std::chrono::milliseconds(1700))
            << "block " << i << " came late";
    }
    EXPECT_EQ(StationProbe(st).road.droppedBlocks(), 0u);
    s.stop();
    EXPECT_TRUE(s.dialogs.messages.isEmpty()) << s.dialogs.messages.join('|').toStdString();
}

}  // namespace
