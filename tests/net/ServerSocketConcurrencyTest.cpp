// SPDX-License-Identifier: GPL-3.0-or-later
// One thread streams to every connection while the window thread accepts, closes and releases them:
// the sender must never touch a released connection (run under ThreadSanitizer and AddressSanitizer).
#include "support/LoopbackPeer.h"

#include "net/TServerSocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using vxtest::LoopbackPeer;
using vxtest::waitUntil;

namespace {

using SocketPtr = std::shared_ptr<TServerClientWinSocket>;

// User data the sender reads on every pass, so a freed record would show up under the sanitizers.
class Session : public TSocketUserData {
public:
    std::atomic<int> kind{1};
};

TEST(ServerSocketConcurrency, SenderThreadNeverTouchesConnectionsReleasedUnderIt) {
    // On the heap: ThreadSanitizer keeps no history for a stack slot that held an earlier test's mutex.
    const auto owned = std::make_unique<TServerSocket>();
    TServerSocket& server = *owned;
    std::atomic<int> sendErrors{0};
    server.OnClientError = [&](TServerSocket*, const SocketPtr&, TErrorEvent kind, int& code) {
        if (kind == TErrorEvent::eeSend) {
            ++sendErrors;
        }
        code = 0;
    };
    server.OnClientConnect = [](TServerSocket*, const SocketPtr& s) {
        s->SetUserData(std::make_shared<Session>());
    };
    server.OnClientRead = [](TServerSocket*, const SocketPtr& s) { s->ReadAvailableText(); };
    server.SetActive(true);
    const int port = server.LocalPort();

    std::atomic<bool> stop{false};
    std::atomic<long> taken{0};
    std::atomic<long> passes{0};
    std::thread sender([&] {
        const QByteArray block(2250, 'a');
        while (!stop.load()) {
            for (const SocketPtr& c : server.Connections()) {
                const auto session = c->UserDataAs<Session>();
                if (session && session->kind.load() == 1 &&
                    c->SendBytes(block.constData(), int(block.size())) > 0) {
                    ++taken;
                }
            }
            ++passes;
            std::this_thread::yield();
        }
    });
    // Joins on every way out, a failed assertion included.
    const std::unique_ptr<std::thread, void (*)(std::thread*)> joiner(&sender, [](std::thread* t) {
        if (t->joinable()) {
            t->join();
        }
    });
    struct StopFlag {
        std::atomic<bool>& flag;
        ~StopFlag() { flag = true; }
    } stopOnExit{stop};

    constexpr int kWaves = 20;
    constexpr int kPerWave = 50;
    int accepted = 0;
    for (int wave = 0; wave < kWaves; ++wave) {
        std::vector<std::unique_ptr<LoopbackPeer>> peers;
        for (int i = 0; i < kPerWave; ++i) {
            peers.push_back(std::make_unique<LoopbackPeer>(port));
            ASSERT_TRUE(peers.back()->connected());
        }
        ASSERT_TRUE(waitUntil([&] { return server.ConnectionCount() == kPerWave; }));
        accepted += kPerWave;
        const long passesBefore = passes.load();
        ASSERT_TRUE(waitUntil([&] { return passes.load() > passesBefore + 2; }));  // the sender saw them

        if (wave % 4 == 3) {
            server.SetActive(false);  // everything at once, while the sender may be inside a send
            server.Port = port;
            server.SetActive(true);
            continue;
        }
        for (int i = 0; i < kPerWave; ++i) {
            switch (i % 3) {
                case 0:
                    server.ConnectionAt(i)->CloseConnection();
                    break;
                case 1:
                    peers[std::size_t(i)]->close();
                    break;
                default:
                    peers[std::size_t(i)]->reset();
                    break;
            }
        }
        peers.clear();
        ASSERT_TRUE(waitUntil([&] { return server.ConnectionCount() == 0; }));
    }
    stop = true;
    sender.join();

    EXPECT_EQ(accepted, kWaves * kPerWave);
    EXPECT_GT(taken.load(), 0);
    EXPECT_EQ(server.ConnectionCount(), 0);
}

}  // namespace
