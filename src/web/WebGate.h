// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/ThreadSafety.h"

#include <QString>

#include <map>

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
