#pragma once

#include "net/TServerClientWinSocket.h"

#include <QString>

#include <atomic>
#include <cstdint>

// The session record of one listener connection, owned by the connection (its UserData).
// Thread contract: Kind and Ready are written on the window thread after the peer's reply was handed
// over, and read by the worker that streams the audio; ClientProgram belongs to the window thread.
class TVXSocketData : public TSocketUserData {
public:
    static constexpr uint8_t KindNew = 0;       // accepted, not (yet) admitted
    static constexpr uint8_t KindListener = 1;  // admitted, receives the audio stream
    static constexpr uint8_t KindInfo = 2;      // the listener program's info channel

    std::atomic<uint8_t> Kind{KindNew};
    std::atomic<uint8_t> Ready{0};
    QString ClientProgram;
};
