#pragma once

#include <mutex>

class QObject;
class TServerSocket;

// What a connection knows of its server. Shared, so that a connection that another thread still holds
// after the server is gone finds null pointers instead of a freed server.
struct ServerLink {
    std::mutex mutex;
    TServerSocket* server = nullptr;  // guarded by mutex
    QObject* context = nullptr;       // the server's posting target on its thread; guarded by mutex
};
