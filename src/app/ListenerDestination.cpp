#include "app/ListenerDestination.h"

#include "app/TVXSocketData.h"
#include "net/TServerSocket.h"

#include <chrono>

void ListenerDestination::write(const char* data, int size) {
    admitted_ = 0;
    if (size <= 0) {
        return;
    }
    const auto snapshot = server_.Snapshot();
    const auto sendTime = std::chrono::steady_clock::now();
    for (const auto& connection : snapshot->connections) {
        try {
            auto* const session = listenerSession(*connection);
            if (!session || session->Kind.load() != TVXSocketData::KindListener) {
                continue;
            }
            ++admitted_;
            if (session->Ready.load() == 0) {
                continue;
            }
            if (connection->IsOpen()) {
                session->blockSent(connection->SendBytes(data, size), sendTime);
            }
        } catch (const std::exception&) {
            if (OnSendError) {
                OnSendError();
            }
        }
    }
}
