// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/IcyMetadata.h"
#include "net/TVXSocketData.h"
#include "platform/ThreadSafety.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>

// Bounds the web port's connections that are not (yet) listeners, in all and per peer address, so that
// idle or dribbling peers hold a bounded number of descriptors and one host cannot take them all.
// Thread contract: any thread (a session may go with its connection on the sending thread).
class WebGate {
public:
    WebGate(int total, int perPeer) : total_(total), perPeer_(perPeer) {}
    // True when one more waiting connection from `peer` is let in; it is then counted until leave().
    // `anyNumber`: the peer stands for many (a reverse proxy on this machine): the bound in all only.
    bool enter(const QString& peer, bool anyNumber = false) {
        vx::MutexLock lock(mutex_);
        int& mine = byPeer_[peer];
        if (count_ >= total_ || (!anyNumber && mine >= perPeer_)) {
            if (mine == 0) {
                byPeer_.erase(peer);
            }
            return false;
        }
        ++mine;
        ++count_;
        return true;
    }
    void leave(const QString& peer) {
        vx::MutexLock lock(mutex_);
        const auto it = byPeer_.find(peer);
        if (it == byPeer_.end()) {
            return;
        }
        --count_;
        if (--it->second == 0) {
            byPeer_.erase(it);
        }
    }
    int waiting() const {
        vx::MutexLock lock(mutex_);
        return count_;
    }

private:
    mutable vx::Mutex mutex_;
    const int total_;
    const int perPeer_;
    int count_ GUARDED_BY(mutex_) = 0;
    std::map<QString, int> byPeer_ GUARDED_BY(mutex_);
};

// One piece of what a metadata listener is sent in one call, in order.
struct FrameSegment {
    enum Kind : uint8_t {
        Carry,      // the rest of a metadata block the connection did not take before
        Audio,      // part of the block
        Meta,       // the empty metadata block
        TitleMeta,  // the title's metadata block
    };
    Kind kind;
    int length;
};

// The session of one web-port connection: a listener record like the listener port's (so the send
// table, the count and the list treat both alike), with the request it is reading and, for a
// listener that asked for metadata, where the next metadata block falls.
// Thread contract: the request fields and the gate belong to the window thread; `metadata` is set
// before Kind says listener and only read afterwards; the framing state is the sender's alone.
class WebSession : public TVXSocketData {
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
    bool metadata = false;

    // The sender's: audio bytes until the next metadata block, the version of the title this listener
    // was last sent, and a metadata block (or its rest) that the connection has not taken yet, which goes
    // out before any further audio.
    int untilMeta = icy::kMetaInterval;
    uint64_t titleSent = 0;
    QByteArray carry;
    int carryFrom = 0;

    // The connection took `sent` bytes (a send's result) of the `count` segments (`title`: the one a
    // TitleMeta segment carried). The listener counts the audio it received, so that decides where the
    // next metadata block falls; a metadata block it took part of (or none of, where its audio was
    // taken whole) goes on before anything else. Audio it did not take is lost, as for any listener.
    void tookFramed(const FrameSegment* segments, int count, int64_t sent,
                    const icy::TitleBoard::Title* title) {
        int64_t left = std::max<int64_t>(sent, 0);
        for (int i = 0; i < count; ++i) {
            const int taken = int(std::min<int64_t>(left, segments[i].length));
            left -= taken;
            if (segments[i].kind == FrameSegment::Carry) {
                carryFrom += taken;
                if (taken < segments[i].length) {
                    return;
                }
                carry.clear();
                carryFrom = 0;
            } else if (segments[i].kind == FrameSegment::Audio) {
                untilMeta -= taken;
                if (taken < segments[i].length) {
                    return;
                }
            } else {
                untilMeta = icy::kMetaInterval;
                const bool isTitle = segments[i].kind == FrameSegment::TitleMeta;
                if (isTitle) {
                    titleSent = title->version;
                }
                if (taken < segments[i].length) {
                    carry = isTitle ? title->block : icy::emptyBlock();
                    carryFrom = taken;
                    return;
                }
            }
        }
    }

private:
    std::shared_ptr<WebGate> gate_;
    QString peer_;
};
