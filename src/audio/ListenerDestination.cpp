// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/ListenerDestination.h"

#include "audio/MpegFrames.h"
#include "net/IcySession.h"
#include "net/TVXSocketData.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

void ListenerDestination::followServer() {
    auto snapshot = server_.Snapshot();
    auto webSnapshot = web_ ? web_->Snapshot() : nullptr;
    if (snapshot == snapshot_ && webSnapshot == webSnapshot_) {
        return;
    }
    snapshot_ = std::move(snapshot);
    webSnapshot_ = std::move(webSnapshot);
    ready_.clear();
    int admitted = 0;
    takeIn(*snapshot_, false, admitted);
    if (webSnapshot_) {
        takeIn(*webSnapshot_, true, admitted);
    }
    admitted_ = admitted;
}

void ListenerDestination::takeIn(const TServerSocket::ConnectionSnapshot& snapshot, bool web, int& admitted) {
    for (const auto& connection : snapshot.connections) {
        auto* const session = listenerSession(*connection);
        if (!session || session->Kind.load() != TVXSocketData::KindListener) {
            continue;
        }
        ++admitted;
        if (session->Ready.load() != 0) {
            auto* const webSession = web ? static_cast<IcySession*>(session) : nullptr;
            // Each session is told once how its listener took the first block.
            ready_.push_back({connection->Handle(), 1, connection.get(), session,
                              webSession && webSession->metadata ? webSession : nullptr});
        }
    }
}

int ListenerDestination::admitted() {
    vx::MutexLock lock(mutex_);
    followServer();
    return admitted_;
}

void ListenerDestination::remember(const char* data, int size) {
    if (burstBytes_ <= 0) {
        return;
    }
    recent_.emplace_back(data, size);
    recentBytes_ += size;
    while (recentBytes_ - int(recent_.front().size()) >= burstBytes_) {
        recentBytes_ -= int(recent_.front().size());
        recent_.pop_front();
    }
}

void ListenerDestination::admitWithBurst(bool mpeg, const std::function<void(const QByteArray&)>& admit) {
    vx::MutexLock lock(recentMutex_);
    QByteArray recent;
    if (burstBytes_ > 0 && recentBytes_ > 0) {
        recent.reserve(recentBytes_);
        for (const QByteArray& block : recent_) {
            recent += block;
        }
        recent = recent.right(burstBytes_);
        if (mpeg) {
            recent = recent.mid(mpeg::firstFrameStart(recent.constData(), int(recent.size())));
        }
    }
    admit(recent);
}

int ListenerDestination::sendFramed(const Listener& listener, const char* data, int size,
                                    const icy::TitleBoard::Title* title) {
    IcySession& s = *listener.metadata;
    using Kind = FrameSegment::Kind;
    using enum FrameSegment::Kind;
    FrameSegment segments[64];
    int count = 0;
    iov_.clear();
    // Named outside the lambda, which the thread-safety analysis sees as a function of its own.
    std::vector<iovec>* iov = &iov_;
    auto add = [&](Kind kind, const char* from, int length) {
        iov->push_back({const_cast<char*>(from), std::size_t(length)});
        segments[count++] = {kind, length};
    };
    if (!s.carry.isEmpty()) {
        add(Carry, s.carry.constData() + s.carryFrom, int(s.carry.size()) - s.carryFrom);
    }
    bool titleDue = title && title->version != s.titleSent;
    int pos = 0;
    int until = s.untilMeta;
    // A block holds a few intervals at most; one that held more would end its call early and lose the
    // rest, as a listener that takes only part of a block does.
    while (size - pos >= until && count + 2 <= int(std::size(segments))) {
        add(Audio, data + pos, until);
        pos += until;
        const QByteArray& meta = titleDue ? title->block : icy::emptyBlock();
        add(titleDue ? TitleMeta : Meta, meta.constData(), int(meta.size()));
        titleDue = false;
        until = icy::kMetaInterval;
    }
    if (pos < size && count < int(std::size(segments))) {
        add(Audio, data + pos, size - pos);
    }
    msghdr message{};
    message.msg_iov = iov_.data();
    message.msg_iovlen = iov_.size();
    const ssize_t sent = ::sendmsg(listener.fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    const int error = errno;
    s.tookFramed(segments, count, sent, title);
    errno = error;
    return int(sent);
}

void ListenerDestination::write(const char* data, int size) {
    vx::MutexLock lock(mutex_);
    if (size <= 0) {
        return;
    }
    {
        // A web listener admitted before this is sent this block live, one admitted after it has it in
        // its burst.
        vx::MutexLock recentLock(recentMutex_);
        followServer();
        remember(data, size);
    }
    const auto title = titles_.current();
    const auto sendTime = std::chrono::steady_clock::now();
    int refusing = 0;
    uint64_t takenByAll = 0;
    for (Listener& listener : ready_) {
        // Without the connection's lock: the snapshot keeps the descriptor from going to another
        // connection, and a connection closed meanwhile refuses the send.
        const ssize_t sent = listener.metadata
                                 ? sendFramed(listener, data, size, title.get())
                                 : ::send(listener.fd, data, std::size_t(size), MSG_DONTWAIT | MSG_NOSIGNAL);
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
    webSnapshot_.reset();
    vx::MutexLock recentLock(recentMutex_);
    recent_.clear();
    recentBytes_ = 0;
}
