#include "app/ListenerDestination.h"

#include "app/TVXSocketData.h"

#include <chrono>

void ListenerDestination::takeIn(std::shared_ptr<const TServerSocket::ConnectionSnapshot> snapshot) {
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
            ready_.push_back({connection.get(), session});
        }
    }
    admitted_ = admitted;
    // Unknown until the first block: each session is told once how its listener took it.
    refusing_.assign(ready_.size(), 1);
}

void ListenerDestination::write(const char* data, int size) {
    if (size <= 0) {
        admitted_ = 0;
        return;
    }
    auto snapshot = server_.Snapshot();
    if (snapshot != snapshot_) {
        takeIn(std::move(snapshot));
    }
    const auto sendTime = std::chrono::steady_clock::now();
    int refusing = 0;
    for (std::size_t i = 0; i < ready_.size(); ++i) {
        const Listener& listener = ready_[i];
        int taken = -1;
        try {
            taken = listener.connection->SendBytes(data, size);
        } catch (const std::exception&) {
            if (OnSendError) {
                OnSendError();
            }
        }
        if (taken <= 0 || refusing_[i] != 0) {
            listener.session->blockSent(taken, sendTime);
            refusing_[i] = taken <= 0 ? 1 : 0;
            refusing += refusing_[i];
        }
    }
    refusingCount_.store(refusing, std::memory_order_relaxed);
}
