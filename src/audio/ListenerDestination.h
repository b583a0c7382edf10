#pragma once

#include "net/TServerSocket.h"
#include "platform/BlockDestination.h"
#include "platform/ThreadSafety.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TVXSocketData;

// The admitted listeners of the listener port: each gets one attempt per block, and what its connection
// does not take at once is lost for it. Sessions in their handshake, refused peers and info channels get
// nothing.
// Thread contract: write() on the thread that carries the block; it walks a snapshot of the connection
// list, so connections the window thread releases meanwhile stay valid (closed) in it. A connection's
// session is the record its server made at accept (TServerSocket::NewUserData); whoever admits a peer
// tells the server (TServerSocket::SessionsChanged).
class ListenerDestination : public BlockDestination {
public:
    explicit ListenerDestination(TServerSocket& server) : server_(server) {}

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
    };
    // Takes in the server's connection list when it differs from the one ready_ was made from.
    void followServer() REQUIRES(mutex_);

    TServerSocket& server_;
    vx::Mutex mutex_;  // a write under way, or close
    int admitted_ GUARDED_BY(mutex_) = 0;
    // Holds ready_'s connections.
    std::shared_ptr<const TServerSocket::ConnectionSnapshot> snapshot_ GUARDED_BY(mutex_);
    std::vector<Listener> ready_ GUARDED_BY(mutex_);
    std::atomic<int> refusingCount_{0};
    std::atomic<uint64_t> sentBytes_{0};
};
