// SPDX-License-Identifier: GPL-3.0-or-later
// The server socket layer on real loopback sockets.
#include "support/LoopbackPeer.h"

#include "app/StationApplication.h"
#include "net/TServerSocket.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <poll.h>
#include <sys/ioctl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using vxtest::LoopbackPeer;
using vxtest::waitUntil;

namespace {

using SocketPtr = std::shared_ptr<TServerClientWinSocket>;

// Waits, without running the event loop, until the kernel holds count unread bytes for the connection.
bool waitForPending(TServerClientWinSocket& conn, int count) {
    pollfd p{conn.SocketHandle(), POLLIN, 0};
    for (int i = 0; i < 1000; ++i) {
        int pending = 0;
        ::ioctl(p.fd, FIONREAD, &pending);
        if (pending >= count) {
            return true;
        }
        ::poll(&p, 1, 10);
    }
    return false;
}

// Waits, without running the event loop, until the server side has seen the peer's reset.
bool waitForReset(TServerClientWinSocket& conn) {
    pollfd p{conn.SocketHandle(), POLLRDHUP, 0};
    return ::poll(&p, 1, 10000) == 1 && (p.revents & (POLLERR | POLLHUP | POLLRDHUP));
}

// Records the order in which connections' user data is freed.
class Tag : public TSocketUserData {
public:
    Tag(int id, std::vector<int>* freed) : id_(id), freed_(freed) {}
    ~Tag() override { freed_->push_back(id_); }

private:
    int id_;
    std::vector<int>* freed_;
};

class ServerSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.OnClientConnect = [this](TServerSocket*, const SocketPtr&) { events.push_back("connect"); };
        server.OnClientRead = [this](TServerSocket*, const SocketPtr& s) {
            events.push_back("read");
            lastRead += s->ReadAvailableText();
        };
        server.SetActive(true);
        port = server.LocalPort();
        ASSERT_GT(port, 0);
    }

    SocketPtr acceptOne(LoopbackPeer& peer) {
        const int before = server.ConnectionCount();
        EXPECT_TRUE(peer.connected());
        EXPECT_TRUE(waitUntil([&] { return server.ConnectionCount() > before; }));
        return server.ConnectionAt(server.ConnectionCount() - 1);
    }

    TServerSocket server;
    int port = 0;
    std::vector<std::string> events;
    QByteArray lastRead;
};

TEST_F(ServerSocketTest, PortInUseFailsActivationWithTheSystemsTextCodeAndCall) {
    TServerSocket second;
    second.Port = port;
    const std::string expected = std::string("Windows socket error: ") + std::strerror(EADDRINUSE) + " (" +
                                 std::to_string(EADDRINUSE) + "), on API 'bind'";
    try {
        second.SetActive(true);
        FAIL() << "a second listener on the same port was accepted";
    } catch (const ESocketError& e) {
        EXPECT_EQ(e.what(), expected);
    }
    EXPECT_FALSE(second.Active());
}

TEST_F(ServerSocketTest, RestartOnTheSamePortSucceedsAfterConnectionsWereClosed) {
    // Connections closed by the server linger in TIME_WAIT; a stop and start must not fail on them.
    LoopbackPeer peer(port);
    acceptOne(peer);
    server.SetActive(false);
    ASSERT_TRUE(peer.waitForClose());
    server.Port = port;
    ASSERT_NO_THROW(server.SetActive(true));
    EXPECT_EQ(server.LocalPort(), port);
}

TEST_F(ServerSocketTest, ConnectFiresBeforeTheFirstReadAndListKeepsAcceptOrder) {
    LoopbackPeer a(port);
    const SocketPtr first = acceptOne(a);
    LoopbackPeer b(port);
    const SocketPtr second = acceptOne(b);
    ASSERT_TRUE(b.write("hello"));
    ASSERT_TRUE(waitUntil([&] { return lastRead == "hello"; }));
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "connect", "read"}));
    EXPECT_EQ(server.ConnectionAt(0), first);
    EXPECT_EQ(server.ConnectionAt(1), second);
    EXPECT_EQ(server.ConnectionAt(2), nullptr);
    EXPECT_EQ(first->PeerAddress(), QStringLiteral("127.0.0.1"));
}

TEST_F(ServerSocketTest, ReadAvailableTextReturnsEverythingWaitingInOnePiece) {
    LoopbackPeer peer(port);
    const SocketPtr conn = acceptOne(peer);
    // The event loop is not run here, so both writes pile up unread.
    ASSERT_TRUE(peer.write("one,"));
    ASSERT_TRUE(peer.write("two,"));
    ASSERT_TRUE(waitForPending(*conn, 8));
    EXPECT_EQ(conn->ReadAvailableText(), "one,two,");
    EXPECT_TRUE(conn->ReadAvailableText().isEmpty());
}

TEST_F(ServerSocketTest, PeerCloseMarksClosedThenReleasesFromTheList) {
    LoopbackPeer peer(port);
    const SocketPtr conn = acceptOne(peer);
    peer.close();
    ASSERT_TRUE(waitUntil([&] { return server.ConnectionCount() == 0; }));
    EXPECT_FALSE(conn->IsOpen());
    EXPECT_EQ(conn->PeerAddress(), QString());
    EXPECT_EQ(conn->SendBytes("x", 1), 0);
}

TEST_F(ServerSocketTest, CloseConnectionClosesAtOnceButReleasesOnlyThroughTheEventLoop) {
    LoopbackPeer peer(port);
    const SocketPtr conn = acceptOne(peer);
    conn->CloseConnection();
    EXPECT_FALSE(conn->IsOpen());
    EXPECT_EQ(server.ConnectionCount(), 1);  // still listed until pending events are processed
    EXPECT_TRUE(peer.waitForClose());
    EXPECT_TRUE(waitUntil([&] { return server.ConnectionCount() == 0; }));
}

TEST_F(ServerSocketTest, SendResultsFollowTheStacksAnswer) {
    LoopbackPeer peer(port);
    const SocketPtr conn = acceptOne(peer);
    EXPECT_EQ(conn->SendBytes("abc", 3), 3);
    EXPECT_EQ(conn->SendString(QByteArray()), 0);
    EXPECT_EQ(conn->SendBytes(nullptr, 5), 0);
    ASSERT_TRUE(peer.waitForBytes(3));
    EXPECT_EQ(peer.received(), "abc");
    conn->CloseConnection();
    EXPECT_EQ(conn->SendBytes("abc", 3), 0);
}

TEST_F(ServerSocketTest, DeactivationReleasesEveryConnectionAtOnceNewestFirst) {
    std::vector<int> freed;
    std::vector<std::unique_ptr<LoopbackPeer>> peers;
    for (int i = 0; i < 4; ++i) {
        peers.push_back(std::make_unique<LoopbackPeer>(port));
        acceptOne(*peers.back())->SetUserData(std::make_shared<Tag>(i, &freed));
    }
    server.SetActive(false);
    EXPECT_EQ(server.ConnectionCount(), 0);
    EXPECT_EQ(freed, (std::vector<int>{3, 2, 1, 0}));
    for (auto& p : peers) {
        EXPECT_TRUE(p->waitForClose());
    }
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.LocalPort(), 0);
}

TEST_F(ServerSocketTest, ConnectionHeldByAnotherCopyOutlivesItsReleaseSafely) {
    LoopbackPeer peer(port);
    acceptOne(peer);
    const auto snapshot = server.Connections();
    server.SetActive(false);
    ASSERT_EQ(snapshot.size(), 1u);
    EXPECT_FALSE(snapshot[0]->IsOpen());
    EXPECT_EQ(snapshot[0]->SendBytes("x", 1), 0);
    EXPECT_TRUE(snapshot[0]->ReadAvailableText().isEmpty());
}

// The senders of a block walk one shared snapshot and read each session without a lock: a stale
// snapshot would send to a list that changed, a session freed with its user data would be read after free.
TEST_F(ServerSocketTest, SnapshotIsSharedUntilTheListChangesAndSessionsLiveWithTheirConnection) {
    std::vector<int> freed;
    int made = 0;
    server.NewUserData = [&] { return std::make_shared<Tag>(made++, &freed); };
    LoopbackPeer a(port);
    const SocketPtr first = acceptOne(a);
    TSocketUserData* const session = first->Session();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(first->UserData().get(), session);
    const auto one = server.Snapshot();
    EXPECT_EQ(server.Snapshot(), one);

    LoopbackPeer b(port);
    acceptOne(b);
    const auto two = server.Snapshot();
    ASSERT_EQ(two->connections.size(), 2u);
    EXPECT_GT(two->generation, one->generation);
    EXPECT_EQ(one->connections.size(), 1u);

    first->SetUserData(std::make_shared<Tag>(100, &freed));
    EXPECT_EQ(first->Session(), session);
    EXPECT_TRUE(freed.empty());
    a.close();
    ASSERT_TRUE(waitUntil([&] { return server.ConnectionCount() == 1; }));
    ASSERT_EQ(server.Snapshot()->connections.size(), 1u);
    EXPECT_NE(server.Snapshot()->connections[0], first);
    EXPECT_FALSE(two->connections[0]->IsOpen());
    EXPECT_EQ(two->connections[0]->Session(), session);
    server.SetActive(false);  // the sessions report to `freed`, which goes with this test
}

// A send to a peer that reset the connection fails: the handler decides between -1 and an exception,
// and the connection is closed either way.
TEST_F(ServerSocketTest, FailedSendWithClearingHandlerReturnsMinusOneAndCloses) {
    std::vector<TErrorEvent> kinds;
    server.OnClientError = [&](TServerSocket*, const SocketPtr&, TErrorEvent kind, int& code) {
        kinds.push_back(kind);
        EXPECT_NE(code, 0);
        code = 0;
    };
    LoopbackPeer peer(port);
    const SocketPtr conn = acceptOne(peer);
    peer.reset();
    ASSERT_TRUE(waitForReset(*conn));
    EXPECT_EQ(conn->SendBytes("x", 1), -1);
    EXPECT_FALSE(conn->IsOpen());
    EXPECT_EQ(kinds, std::vector<TErrorEvent>{TErrorEvent::eeSend});
    EXPECT_TRUE(waitUntil([&] { return server.ConnectionCount() == 0; }));
}

TEST_F(ServerSocketTest, FailedSendWithoutHandlerRaisesWindowsSocketErrorOnSend) {
    LoopbackPeer peer(port);
    const SocketPtr conn = acceptOne(peer);
    peer.reset();
    ASSERT_TRUE(waitForReset(*conn));
    try {
        conn->SendBytes("x", 1);
        FAIL() << "a failed send without error handler was swallowed";
    } catch (const ESocketError& e) {
        const std::string text = e.what();
        EXPECT_EQ(text.rfind("Windows socket error: ", 0), 0u) << text;
        EXPECT_NE(text.find("), on API 'send'"), std::string::npos) << text;
    }
    EXPECT_FALSE(conn->IsOpen());
}

TEST_F(ServerSocketTest, ResetNoticeReachesTheErrorHandlerAndClosesTheDeadConnection) {
    std::vector<int> codes;
    server.OnClientError = [&](TServerSocket*, const SocketPtr&, TErrorEvent, int& code) {
        codes.push_back(code);
        code = 0;
    };
    LoopbackPeer peer(port);
    const SocketPtr conn = acceptOne(peer);
    peer.reset();
    ASSERT_TRUE(waitUntil([&] { return server.ConnectionCount() == 0; }));
    EXPECT_EQ(codes, std::vector<int>{ECONNRESET});
    EXPECT_FALSE(conn->IsOpen());
}

TEST_F(ServerSocketTest, ResetNoticeWithoutHandlerRaisesAsynchronousSocketError) {
    auto* app = static_cast<StationApplication*>(qApp);
    std::vector<std::string> raised;
    app->OnException = [&](QObject*, const std::exception& e) { raised.push_back(e.what()); };
    LoopbackPeer peer(port);
    const SocketPtr conn = acceptOne(peer);
    peer.reset();
    const bool seen = waitUntil([&] { return !raised.empty(); });
    app->OnException = nullptr;
    ASSERT_TRUE(seen);
    EXPECT_EQ(raised.front(), "Asynchronous socket error " + std::to_string(ECONNRESET));
    EXPECT_FALSE(conn->IsOpen());
}

// A sender that holds a connection sends on its descriptor without the connection's lock: closing must
// end the connection for the peer at once, yet keep the number from newer connections until the last
// holder lets go, or a block meant for a closed listener could reach a peer still in its handshake.
TEST_F(ServerSocketTest, ClosedConnectionKeepsItsDescriptorFromNewerOnesWhileHeld) {
    LoopbackPeer first(port);
    SocketPtr held = acceptOne(first);
    const int fd = held->Handle();
    held->CloseConnection();
    ASSERT_TRUE(first.waitForClose());
    ASSERT_TRUE(waitUntil([&] { return server.ConnectionCount() == 0; }));
    LoopbackPeer second(port);
    const SocketPtr newer = acceptOne(second);
    EXPECT_NE(newer->Handle(), fd);
    const ssize_t sent = ::send(fd, "x", 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    EXPECT_EQ(sent, -1);
    EXPECT_EQ(held->SendResult(sent, errno), 0) << "a send that met the close is no failure";
    held.reset();
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the descriptor outlived its connection";
}

// A peer that connects and says nothing is closed once its time is up; one that spoke is never timed out.
TEST_F(ServerSocketTest, PeerThatSendsNothingAfterItsArrivalIsClosedWhenItsTimeIsUp) {
    server.FirstDataTimeoutMs = 100;
    LoopbackPeer talker(port);
    const SocketPtr spoke = acceptOne(talker);
    ASSERT_TRUE(talker.write("x"));
    ASSERT_TRUE(waitUntil([&] { return lastRead == "x"; }));
    LoopbackPeer silent(port);
    const SocketPtr quiet = acceptOne(silent);
    ASSERT_TRUE(silent.waitForClose());
    EXPECT_FALSE(quiet->IsOpen());
    ASSERT_TRUE(waitUntil([&] { return server.ConnectionCount() == 1; }));
    // The talker arrived first, so its time has run out as well.
    EXPECT_TRUE(spoke->IsOpen());
    EXPECT_FALSE(talker.closedByServer());
}

// A burst of peers connecting while the event loop is busy elsewhere: the kernel completes every
// handshake and holds them for the accept, rather than a handful.
TEST_F(ServerSocketTest, ABurstOfConnectsIsHeldByTheKernelUntilTheLoopAcceptsIt) {
    std::vector<int> burst;
    for (int i = 0; i < 64; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        burst.push_back(fd);
    }
    int established = 0;
    for (const int fd : burst) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (::poll(&p, 1, 500) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 &&
            error == 0) {
            ++established;
        }
    }
    EXPECT_EQ(established, 64);
    EXPECT_TRUE(waitUntil([&] { return server.ConnectionCount() == 64; }));
    for (const int fd : burst) {
        ::close(fd);
    }
}

// One peer holding its share of places leaves the rest to others.
TEST_F(ServerSocketTest, APeerBeyondItsShareIsClosedAtOnceAndAnotherStillGetsIn) {
    server.MaxConnectionsPerPeer = 2;
    std::vector<int> crowd;
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(0x7f000002);  // 127.0.0.2
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        crowd.push_back(fd);
    }
    char byte = 0;
    ASSERT_TRUE(waitUntil([&] { return ::recv(crowd[2], &byte, 1, MSG_DONTWAIT) == 0; }))
        << "the third connection of one peer was kept";
    EXPECT_EQ(server.ConnectionCount(), 2);
    LoopbackPeer other(port);
    acceptOne(other);
    EXPECT_EQ(server.ConnectionCount(), 3);
    EXPECT_FALSE(other.closedByServer());
    for (const int fd : crowd) {
        ::close(fd);
    }
}

// A peer that stops reading: its buffers fill, further sends return -1 at once, the connection stays
// open, and the event loop still serves other peers.
TEST_F(ServerSocketTest, PeerThatStopsReadingNeverBlocksTheSenderOrTheEventLoop) {
    LoopbackPeer stalled(port);
    const SocketPtr conn = acceptOne(stalled);
    const QByteArray block(16000, 'b');
    int taken = 0;
    int refused = 0;
    for (int i = 0; i < 10000 && refused == 0; ++i) {
        const int n = conn->SendBytes(block.constData(), int(block.size()));
        if (n < 0) {
            ++refused;
        } else {
            taken += n;
        }
    }
    EXPECT_EQ(refused, 1) << "the peer's buffers never filled";
    EXPECT_GT(taken, 0);
    EXPECT_EQ(conn->SendBytes(block.constData(), int(block.size())), -1);
    EXPECT_TRUE(conn->IsOpen());

    LoopbackPeer other(port);
    acceptOne(other);
    ASSERT_TRUE(other.write("still served"));
    EXPECT_TRUE(waitUntil([&] { return lastRead == "still served"; }));
}

}  // namespace
