#include "audio/ListenerDestination.h"

#include "net/TVXSocketData.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

void ListenerDestination::followServer() {
    auto snapshot = server_.Snapshot();
    if (snapshot == snapshot_) {
        return;
    }
    snapshot_ = std::move(snapshot);
    ready_.clear();
    int admitted = 0;
    for (const auto& connection : snapshot_->connections) {
        auto* const session = listenerSession(*connection);
        if (!session || session->Kind.load() != TVXSocketData::KindListener) {
            continue;
        }
        ++admitted;
        if (session->Ready.load() != 0) {
            // Each session is told once how its listener took the first block.
            ready_.push_back({connection->Handle(), 1, connection.get(), session});
        }
    }
    admitted_ = admitted;
}

int ListenerDestination::admitted() {
    vx::MutexLock lock(mutex_);
    followServer();
    return admitted_;
}

void ListenerDestination::write(const char* data, int size) {
    vx::MutexLock lock(mutex_);
    if (size <= 0) {
        return;
    }
    followServer();
    const auto sendTime = std::chrono::steady_clock::now();
    int refusing = 0;
    uint64_t takenByAll = 0;
    for (Listener& listener : ready_) {
        // Without the connection's lock: the snapshot keeps the descriptor from going to another
        // connection, and a connection closed meanwhile refuses the send.
        const ssize_t sent = ::send(listener.fd, data, std::size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
        int taken = int(sent);
        if (sent < 0) {
            const int error = errno;
            try {
                taken = listener.connection->SendResult(sent, error);
            } catch (const std::exception&) {
                if (OnSendError) {
                    OnSendError();
                }
            }
        }
        takenByAll += uint64_t(std::max(taken, 0));
        if (taken <= 0 || listener.refusing != 0) {
            listener.session->blockSent(taken, sendTime);
            listener.refusing = taken <= 0 ? 1 : 0;
            refusing += listener.refusing;
        }
    }
    refusingCount_.store(refusing, std::memory_order_relaxed);
    sentBytes_.fetch_add(takenByAll, std::memory_order_relaxed);
}

void ListenerDestination::close() {
    vx::MutexLock lock(mutex_);
    ready_.clear();
    snapshot_.reset();
}
