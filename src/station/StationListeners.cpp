// SPDX-License-Identifier: GPL-3.0-or-later
// The listener port: sessions and limits, the handshake, info updates and the list of listeners.
#include "audio/ListenerDestination.h"
#include "audio/TACMConvertor.h"
#include "net/TVXSocketData.h"
#include "platform/Ansi.h"
#include "station/ListenerProtocol.h"
#include "station/Playback.h"
#include "station/Station.h"

#include <QTimer>

#include <chrono>

namespace {

// A reply goes out in one call, and only to a peer still there. True when the connection is still open
// after the send, so that the handshake may go on.
bool sendIfOpen(TServerClientWinSocket& socket, const QByteArray& reply) {
    if (!socket.IsOpen()) {
        return false;
    }
    socket.SendString(reply);
    return socket.IsOpen();
}

// Marks an answered peer as listener. Only after its reply: the worker may send audio from the moment
// Kind says listener, and no audio byte may precede the reply.
void admitListener(TServerSocket& server, TVXSocketData& session, const QByteArray& clientProgram) {
    session.ClientProgram = vx::fromAnsi(clientProgram);
    session.Ready = 1;
    session.Kind = TVXSocketData::KindListener;
    server.SessionsChanged();  // the worker's table of listeners takes it in
}

}  // namespace

void Station::buildListenerService() {
    ServerVandorixClient = std::make_unique<TServerSocket>();
    ServerVandorixClient->Port = vx::kDefaultListenerPort;
    ServerVandorixClient->Name = "Listener";
    // Every player and the listener program speak at once; a peer silent this long only holds a
    // descriptor, and a single host could take them all.
    ServerVandorixClient->FirstDataTimeoutMs = 30000;
    ServerVandorixClient->NewUserData = [] { return std::make_shared<TVXSocketData>(); };
    ServerVandorixClient->OnClientConnect = [this](TServerSocket*, const auto&) {
        trace("ServerVandorixClientClientConnect");
        // Its session was made with it (NewUserData): the worker reads it from then on without a lock.
        step(2);
    };
    ServerVandorixClient->OnClientRead = [this](TServerSocket*, const auto& socket) {
        Guarded([&] { ServerVandorixClientClientRead(socket); });
    };
    // Not guarded: it cannot fail, and it also runs on the worker's thread, which shows no dialogs.
    ServerVandorixClient->OnClientError = [this](TServerSocket*, const auto&, TErrorEvent, int& code) {
        trace("ServerVandorixClientClientError");
        step(2);
        code = 0;
    };
    connect(ConnectionTest, &QTimer::timeout, this, [this] { Guarded([this] { ConnectionTestTimer(); }); });
}

int Station::GetUseranzahl() {
    int count = 0;
    if (!ServerVandorixClient) {
        return 0;
    }
    // A snapshot of the list: the worker counts while the main thread accepts and releases. The web
    // port's listeners count against the one limit.
    for (const TServerSocket* server : {ServerVandorixClient.get(), webServer()}) {
        if (!server) {
            continue;
        }
        for (const auto& socket : server->Snapshot()->connections) {
            const auto* session = listenerSession(*socket);
            if (session && session->Kind.load() == TVXSocketData::KindListener) {
                ++count;
            }
        }
    }
    return count;
}

void Station::ServerVandorixClientClientRead(const std::shared_ptr<TServerClientWinSocket>& Socket) {
    trace("ServerVandorixClientClientRead");
    step(2);
    const QByteArray R = Socket->ReadAvailableText();
    step(3);
    TVXSocketData* const session = listenerSession(*Socket);  // made with the connection at accept
    if (!session) {
        return;
    }
    switch (listener::classify(R)) {
        case listener::Request::Icy:
            answerPlayer(*Socket, *session, R);
            return;
        case listener::Request::InfoChannel:
            answerInfoChannel(*Socket, *session);
            return;
        case listener::Request::ListenerProgram:
            answerListenerProgram(*Socket, *session, R);
            return;
        case listener::Request::NameQuery:
            step(12);
            sendIfOpen(*Socket, vx::toAnsi(Msg(34)));
            return;
        case listener::Request::InfoPage:
            step(13);
            if (!Socket->IsOpen()) {
                return;
            }
            Socket->SendString(listener::infoPage(vx::toAnsi(settings_.serverName), vx::toAnsi(Msg(32))));
            step(14);
            Socket->CloseConnection();
            return;
    }
}

bool Station::admitsOneMore(QByteArray& name) {
    // The peer under test is still new, so it is not counted among the listeners.
    if (!settings_.limitListeners || GetUseranzahl() + 1 <= MaxUser) {
        name = vx::toAnsi(settings_.radioName + settings_.extRadioName);
        return true;
    }
    name = vx::toAnsi(ReplaceStr(QStringLiteral("{Radioname}"), settings_.radioName, Msg(32)));
    return false;
}

// The stream's formats as the listeners are told them: the codec's, or during a playback the file's.
const TAudioFormat& Station::announcedFormatOut() const {
    return mode_.load().playback ? Player->format() : road_->codec().FormatOut;
}

void Station::answerPlayer(TServerClientWinSocket& socket, TVXSocketData& session, const QByteArray& R) {
    step(4);
    QByteArray name;
    const bool admit = admitsOneMore(name);
    const int bitRate = int(announcedFormatOut().avgBytesPerSec() / 125);
    const QByteArray reply =
        listener::icyReply(vx::toAnsi(Msg(32)), vx::toAnsi(settings_.serverName), name, bitRate);
    step(5);
    if (!sendIfOpen(socket, reply)) {
        return;
    }
    step(6);
    if (admit) {
        admitListener(*ServerVandorixClient, session, listener::icyClientProgram(R));
    } else {
        step(7);
        socket.CloseConnection();
    }
}

void Station::answerInfoChannel(TServerClientWinSocket& socket, TVXSocketData& session) {
    step(8);
    const bool wasListener = session.Kind.exchange(TVXSocketData::KindInfo) == TVXSocketData::KindListener;
    session.Ready = 1;
    if (wasListener) {
        // An admitted listener that turns into an info channel leaves the audience before the next block,
        // the count and the list.
        ServerVandorixClient->SessionsChanged();
    }
    sendIfOpen(socket, vx::toAnsi(settings_.infoText));
}

void Station::answerListenerProgram(TServerClientWinSocket& socket, TVXSocketData& session,
                                    const QByteArray& R) {
    step(9);
    QByteArray name;
    const bool admit = admitsOneMore(name);
    const TAudioFormat& formatIn = mode_.load().playback ? Player->decodeFormat() : road_->codec().FormatIn;
    const QByteArray header = listener::stationHeader(name, formatIn, announcedFormatOut());
    step(10);
    if (!sendIfOpen(socket, header)) {
        return;
    }
    step(11);
    if (admit) {
        admitListener(*ServerVandorixClient, session, listener::agentClientProgram(R));
    }
}

void Station::uploadChanged() {
    trace("BeschrChange");
    step(2);
    bool ok = false;
    const int upload = settings_.upload.toInt(&ok, 10);
    const int kbits = int(road_->codec().FormatOut.avgBytesPerSec() / 125);
    step(3);
    MaxUser = (!ok || kbits == 0) ? 0 : upload / kbits;
    step(4);
    emit limitChanged(MaxUser);
}

void Station::UpdateInfo() {
    trace("UpdateClick");
    step(3);
    const int count = ServerVandorixClient->ConnectionCount();
    for (int i = 0; i < count; ++i) {
        const auto socket = ServerVandorixClient->ConnectionAt(i);
        if (!socket) {
            continue;
        }
        const auto* session = listenerSession(*socket);
        if (session && session->Kind.load() == TVXSocketData::KindInfo && socket->IsOpen()) {
            step(4);
            socket->SendString(vx::toAnsi(settings_.infoText));
        }
    }
    road_->setTitle(settings_.infoText);
}

bool Station::listUnchanged(uint64_t generation) const {
    // Joins, leaves, admissions and a listener turning info channel all change the generation; a
    // listener stalls only by refusing.
    return generation == ListedGeneration && road_->listeners().refusingAtLastWrite() == 0;
}

void Station::ConnectionTestTimer() {
    trace("ConnectionTestTimer");
    try {
        step(2);
        const auto snapshot = ServerVandorixClient->Snapshot();
        const auto webSnapshot = Web ? webServer()->Snapshot() : nullptr;
        // Both only ever rise: their sum changes whenever either list does.
        const uint64_t generation = snapshot->generation + (webSnapshot ? webSnapshot->generation : 0);
        if (!listUnchanged(generation)) {
            refreshListeners(*snapshot, webSnapshot.get());
            ListedGeneration = generation;
        }
        emit listenersChecked();
    } catch (const std::exception&) {
        step(12);  // the list and the count keep what the previous tick showed
    }
}

void Station::refreshListeners(const TServerSocket::ConnectionSnapshot& snapshot,
                               const TServerSocket::ConnectionSnapshot* webSnapshot) {
    // A listener that has taken nothing for so long is gone or stuck, and is closed so that its slot
    // goes to others.
    step(4);
    const ListenerSnapshot shown = listeners();
    auto rows = std::make_shared<std::vector<ListenerRow>>();
    rows->reserve(shown->size());
    bool same = true;
    // The web port's connections are numbered above the listener port's: the rows stay in order.
    std::vector<std::pair<const std::shared_ptr<TServerClientWinSocket>*, bool>> all;
    all.reserve(snapshot.connections.size() + (webSnapshot ? webSnapshot->connections.size() : 0));
    for (const auto& socket : snapshot.connections) {
        all.emplace_back(&socket, false);
    }
    if (webSnapshot) {
        for (const auto& socket : webSnapshot->connections) {
            all.emplace_back(&socket, true);
        }
    }
    for (const auto& [entry, web] : all) {
        const auto& socket = *entry;
        step(5);
        const auto* session = listenerSession(*socket);
        step(6);
        if (!session || session->Kind.load() != TVXSocketData::KindListener) {
            continue;
        }
        if (session->stalledFor() >= std::chrono::milliseconds(StalledListenerLimitMs)) {
            socket->CloseConnection();
            continue;
        }
        step(7);
        const std::size_t i = rows->size();
        // A connection's address is fixed at accept: its id stands for it.
        if (same && i < shown->size() && (*shown)[i].id == socket->Id() &&
            (*shown)[i].program == session->ClientProgram) {
            rows->push_back((*shown)[i]);
            continue;
        }
        same = false;
        rows->push_back(
            {socket->Id(), socket->PeerAddress(), session->ClientProgram, session->ConnectedSince, web});
    }
    step(3);
    if (same && rows->size() == shown->size()) {
        step(11);
        return;  // nobody joined, left or was renamed
    }
    {
        vx::MutexLock lock(listenersMutex_);
        listeners_ = std::move(rows);
    }
    step(11);
    emit listenersChanged();
}

void Station::clearListeners() {
    {
        vx::MutexLock lock(listenersMutex_);
        if (listeners_->empty()) {
            return;
        }
        listeners_ = std::make_shared<const std::vector<ListenerRow>>();
    }
    emit listenersChanged();
}
