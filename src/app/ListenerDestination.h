#pragma once

#include "audio/BlockDestination.h"

#include <functional>

class TServerSocket;

// The admitted listeners of the listener port: each gets one attempt per block, and what its connection
// does not take at once is lost for it. Sessions in their handshake, refused peers and info channels get
// nothing.
// Thread contract: write() on the thread that carries the block; it walks a snapshot of the connection
// list, so connections the window thread releases meanwhile stay valid (closed) in it. A connection's
// session is the record its server made at accept (TServerSocket::NewUserData).
class ListenerDestination : public BlockDestination {
public:
    explicit ListenerDestination(TServerSocket& server) : server_(server) {}

    // Called on the writing thread for every connection that raised while it was served; the loop goes
    // on with the next one.
    std::function<void()> OnSendError;

    // Never throws: a listener's failure is that listener's alone.
    void write(const char* data, int size) override;
    // The listener port closes its connections itself at the stop.
    void close() override {}
    // The admitted listeners the last write met (ready or still in their reply): what the block cost
    // the line, counted on the way instead of in a walk of its own. The writing thread's.
    int admittedAtLastWrite() const { return admitted_; }

private:
    TServerSocket& server_;
    int admitted_ = 0;
};
