// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/IcySession.h"
#include "web/WebGate.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The session of one web-port connection: a listener record with its metadata framing, and while it is
// no listener yet, the request it is reading and its place in the gate.
// Thread contract: the request and the gate belong to the window thread, except that a session may go
// with its connection on the sending thread (the gate takes any thread).
class WebSession : public IcySession {
public:
    ~WebSession() override { leaveGate(); }

    // The gate counts this connection while it waits; leaving it is once only.
    void enterGate(std::shared_ptr<WebGate> gate, const QString& peer) {
        gate_ = std::move(gate);
        peer_ = peer;
    }
    void leaveGate() {
        if (gate_) {
            gate_->leave(peer_);
            gate_.reset();
        }
    }

    QByteArray head;  // the request head read so far

private:
    std::shared_ptr<WebGate> gate_;
    QString peer_;
};
