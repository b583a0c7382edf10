// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/TServerSocket.h"
#include "platform/BlockDestination.h"
#include "platform/ThreadSafety.h"

#include "net/IcyMetadata.h"

#include <QByteArray>

#include <sys/uio.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TVXSocketData;
class IcySession;

// The admitted listeners of the listener port and of the web port: each gets one attempt per block, in
// the same pass, and what its connection does not take at once is lost for it. Sessions in their
// handshake, refused peers and info channels get nothing. A web listener that asked for metadata gets
// the block with the metadata blocks that fall into it in the same one call (no copy of the block), and
// the destination keeps the most recent blocks for the burst a new web listener starts with.
// Thread contract: write() on the thread that carries the block; it walks a snapshot of the connection
// list, so connections the window thread releases meanwhile stay valid (closed) in it. A connection's
// session is the record its server made at accept (TServerSocket::NewUserData); whoever admits a peer
// tells the server (TServerSocket::SessionsChanged).
class ListenerDestination : public BlockDestination {
public:
    // `web`: the web port's server, whose sessions are IcySessions; null without one.
    explicit ListenerDestination(TServerSocket& server, TServerSocket* web = nullptr)
        : server_(server), web_(web) {}

    // How much recent audio a new web listener gets at once; set before the first block.
    void setBurstBytes(int bytes) { burstBytes_ = bytes; }
    // The title metadata listeners are sent.
    icy::TitleBoard& titles() { return titles_; }
    // Admits a web listener with its burst: `admit` gets the most recent audio, from the start of an
    // MPEG frame when `mpeg`, sends it after its reply and makes the session a listener. It runs between
    // two blocks as the send pass sees them, so the listener gets every block exactly once: in the burst
    // or live. The window thread's; it never waits for a send pass.
    void admitWithBurst(bool mpeg, const std::function<void(const QByteArray& recent)>& admit);

    // Called on the writing thread for every connection that raised while it was served; the loop goes
    // on with the next one.
    std::function<void()> OnSendError;

    // Never throws: a listener's failure is that listener's alone.
    void write(const char* data, int size) override;
    // Lets go of the connections the last write met; the listener port closes them itself at the stop.
    void close() override;
    // The admitted listeners now (ready or still in their reply): what the next block costs the line.
    // Takes in a changed connection list, which the write that follows then finds taken in, so the
    // count costs no walk of its own. The writing thread's.
    int admitted();
    // The ready listeners that took nothing of the last block; any thread. While it is 0 no listener
    // is stalled, and nobody needs to look for one.
    int refusingAtLastWrite() const { return refusingCount_.load(std::memory_order_relaxed); }
    // Audio bytes the listeners' connections took, since the program started; any thread.
    uint64_t sentBytes() const { return sentBytes_.load(std::memory_order_relaxed); }

private:
    // The ready listeners of one snapshot, made when the snapshot changes rather than sorted out of the
    // connections for every block. The send loop reads one entry per listener: the descriptor, valid
    // for as long as the snapshot holds the connection; the connection only when a send fails, the
    // session only when the listener refuses a block or takes one again after refusing.
    struct Listener {
        int fd;
        uint8_t refusing;  // refused the last block, or not yet sent to
        TServerClientWinSocket* connection;
        TVXSocketData* session;
        IcySession* metadata;  // a web listener that asked for metadata; null for every other
    };
    // Takes in the servers' connection lists when they differ from those ready_ was made from.
    void followServer() REQUIRES(mutex_);
    void takeIn(const TServerSocket::ConnectionSnapshot& snapshot, bool web, int& admitted) REQUIRES(mutex_);
    // One block to a metadata listener, with the metadata blocks due in it; what it took.
    int sendFramed(const Listener& listener, const char* data, int size, const icy::TitleBoard::Title* title)
        REQUIRES(mutex_);
    void remember(const char* data, int size) REQUIRES(recentMutex_);

    TServerSocket& server_;
    TServerSocket* const web_;
    vx::Mutex mutex_;  // a write under way, or close
    int admitted_ GUARDED_BY(mutex_) = 0;
    // Hold ready_'s connections.
    std::shared_ptr<const TServerSocket::ConnectionSnapshot> snapshot_ GUARDED_BY(mutex_);
    std::shared_ptr<const TServerSocket::ConnectionSnapshot> webSnapshot_ GUARDED_BY(mutex_);
    std::vector<Listener> ready_ GUARDED_BY(mutex_);
    std::vector<iovec> iov_ GUARDED_BY(mutex_);  // the sender's, reused
    icy::TitleBoard titles_;
    int burstBytes_ = 0;
    // The recent blocks and their sum; recentMutex_ is held by a write only to remember its block and
    // take in the lists, so that an admission never waits for a send pass.
    vx::Mutex recentMutex_;
    std::deque<QByteArray> recent_ GUARDED_BY(recentMutex_);
    int recentBytes_ GUARDED_BY(recentMutex_) = 0;
    std::atomic<int> refusingCount_{0};
    std::atomic<uint64_t> sentBytes_{0};
};
