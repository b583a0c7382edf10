// Listener service: sessions and limits, the handshake, info updates and the client list.
#include "app/FocusLeaveWatcher.h"
#include "app/ListenerDestination.h"
#include "app/ListenerProtocol.h"
#include "app/TMainform.h"
#include "app/TVXSocketData.h"
#include "audio/TACMConvertor.h"
#include "platform/Ansi.h"
#include "ui/ListenerListModel.h"
#include "ui/UserDialogs.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <chrono>

namespace {

const QString kApplicationTitle = QString::fromLatin1(vx::kStationTitle);

// A reply goes out in one call, and only to a peer still there. True when the connection is still open
// after the send, so that the handshake may go on.
bool sendIfOpen(TServerClientWinSocket& socket, const QByteArray& reply) {
    if (!socket.IsOpen()) {
        return false;
    }
    socket.SendString(reply);
    return socket.IsOpen();
}

// Whether a player or the listener program gets in, and the name it is told: the station's, or the
// notice that the station is full. The peer under test is still new, so it is not counted among the
// listeners.
struct Admission {
    bool admit;
    QByteArray station;
};

Admission admission(TMainform& f) {
    const bool admit = !f.Beschr->isChecked() || f.GetUseranzahl() + 1 <= f.MaxUser;
    if (admit) {
        return {true, vx::toAnsi(f.RadioName->text() + f.ExtRadioname->text())};
    }
    return {false, vx::toAnsi(f.ReplaceStr(QStringLiteral("{Radioname}"), f.RadioName->text(), f.Msg(32)))};
}

// The stream's formats as the listeners are told them: the codec's, or during a playback the file's.
const TAudioFormat& formatOut(const TMainform& f) {
    return f.Playing ? f.PlaybackFormat : f.ACMC->FormatOut;
}

const TAudioFormat& formatIn(const TMainform& f) {
    return f.Playing ? f.PlaybackDecodeFormat : f.ACMC->FormatIn;
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

void TMainform::buildListenerService() {
    ServerVandorixClient = std::make_unique<TServerSocket>();
    ServerVandorixClient->Port = vx::kDefaultListenerPort;
    // Every player and the listener program speak at once; a peer silent this long only holds a
    // descriptor, and a single host could take them all.
    ServerVandorixClient->FirstDataTimeoutMs = 30000;
    ServerVandorixClient->NewUserData = [] { return std::make_shared<TVXSocketData>(); };
    ServerVandorixClient->OnClientConnect = [this](TServerSocket* sender, const auto& socket) {
        Guarded(this, [&] { ServerVandorixClientClientConnect(sender, socket); });
    };
    ServerVandorixClient->OnClientRead = [this](TServerSocket* sender, const auto& socket) {
        Guarded(this, [&] { ServerVandorixClientClientRead(sender, socket); });
    };
    // Not guarded: it cannot fail, and it also runs on the worker's thread, which shows no dialogs.
    ServerVandorixClient->OnClientError = [this](TServerSocket* sender, const auto& socket, TErrorEvent event,
                                                 int& code) {
        ServerVandorixClientClientError(sender, socket, event, code);
    };

    connect(Upload, &QLineEdit::textChanged, this,
            [this] { Guarded(Upload, [this] { BeschrChange(Upload); }); });
    new FocusLeaveWatcher(Upload, [this] { Guarded(Upload, [this] { BeschrExit(Upload); }); });
    connect(Update, &QPushButton::clicked, this,
            [this] { Guarded(Update, [this] { UpdateClick(Update); }); });
    connect(ConnectionTest, &QTimer::timeout, this,
            [this] { Guarded(ConnectionTest, [this] { ConnectionTestTimer(ConnectionTest); }); });
}

int TMainform::GetUseranzahl() {
    int count = 0;
    if (!ServerVandorixClient) {
        return 0;
    }
    // A snapshot of the list: the worker counts while the window thread accepts and releases.
    for (const auto& socket : ServerVandorixClient->Snapshot()->connections) {
        const auto* session = listenerSession(*socket);
        if (session && session->Kind.load() == TVXSocketData::KindListener) {
            ++count;
        }
    }
    return count;
}

void TMainform::ServerVandorixClientClientConnect(TServerSocket* /*Sender*/,
                                                  const std::shared_ptr<TServerClientWinSocket>& /*Socket*/) {
    trace("ServerVandorixClientClientConnect");
    // Its session was made with it (NewUserData): the worker reads it from then on without a lock.
    step(2);
}

void TMainform::ServerVandorixClientClientError(TServerSocket* /*Sender*/,
                                                const std::shared_ptr<TServerClientWinSocket>& /*Socket*/,
                                                TErrorEvent /*ErrorEvent*/, int& ErrorCode) {
    trace("ServerVandorixClientClientError");
    step(2);
    ErrorCode = 0;
}

void TMainform::ServerVandorixClientClientRead(TServerSocket* /*Sender*/,
                                               const std::shared_ptr<TServerClientWinSocket>& Socket) {
    trace("ServerVandorixClientClientRead");
    step(2);
    const QByteArray R = Socket->ReadAvailableText();
    step(3);
    TVXSocketData* const session = listenerSession(*Socket);  // made with the connection at accept
    if (!session) {
        return;
    }
    switch (listener::classify(R)) {
        case listener::Request::Icy: {
            step(4);
            const Admission a = admission(*this);
            const int bitRate = int(formatOut(*this).avgBytesPerSec() / 125);
            const QByteArray reply =
                listener::icyReply(vx::toAnsi(Msg(32)), vx::toAnsi(ServerName->text()), a.station, bitRate);
            step(5);
            if (!sendIfOpen(*Socket, reply)) {
                return;
            }
            step(6);
            if (a.admit) {
                admitListener(*ServerVandorixClient, *session, listener::icyClientProgram(R));
            } else {
                step(7);
                Socket->CloseConnection();
            }
            return;
        }
        case listener::Request::InfoChannel:
            step(8);
            session->Kind = TVXSocketData::KindInfo;
            session->Ready = 1;
            sendIfOpen(*Socket, vx::toAnsi(AktInfo->text()));
            return;
        case listener::Request::ListenerProgram: {
            step(9);
            const Admission a = admission(*this);
            const QByteArray header = listener::stationHeader(a.station, formatIn(*this), formatOut(*this));
            step(10);
            if (!sendIfOpen(*Socket, header)) {
                return;
            }
            step(11);
            if (a.admit) {
                admitListener(*ServerVandorixClient, *session, listener::agentClientProgram(R));
            }
            return;
        }
        case listener::Request::NameQuery:
            step(12);
            sendIfOpen(*Socket, vx::toAnsi(Msg(34)));
            return;
        case listener::Request::InfoPage:
            step(13);
            if (!Socket->IsOpen()) {
                return;
            }
            Socket->SendString(listener::infoPage(vx::toAnsi(ServerName->text()), vx::toAnsi(Msg(32))));
            step(14);
            Socket->CloseConnection();
            return;
    }
}

void TMainform::BeschrChange(QObject* /*Sender*/) {
    trace("BeschrChange");
    step(2);
    bool ok = false;
    const int upload = Upload->text().toInt(&ok, 10);
    const int kbits = int(ACMC->FormatOut.avgBytesPerSec() / 125);
    step(3);
    MaxUser = (!ok || kbits == 0) ? 0 : upload / kbits;
    step(4);
    Beschr->setText(ReplaceStr(QStringLiteral("{User}"), QString::number(MaxUser), Msg(21)));
}

void TMainform::BeschrExit(QObject* /*Sender*/) {
    trace("BeschrExit");
    step(2);
    if (ACMC->Active()) {
        step(3);
        env_.dialogs->showMessage(kApplicationTitle, Msg(35));
    }
}

void TMainform::UpdateClick(QObject* /*Sender*/) {
    trace("UpdateClick");
    step(2);
    Update->setEnabled(false);
    step(3);
    const int count = ServerVandorixClient->ConnectionCount();
    for (int i = 0; i < count; ++i) {
        const auto socket = ServerVandorixClient->ConnectionAt(i);
        if (!socket) {
            continue;
        }
        const auto session = socket->UserDataAs<TVXSocketData>();
        if (session && session->Kind.load() == TVXSocketData::KindInfo && socket->IsOpen()) {
            step(4);
            socket->SendString(vx::toAnsi(AktInfo->text()));
        }
    }
    RelayUpdateInfo();
    step(5);
    Update->setEnabled(true);
}

void TMainform::ConnectionTestTimer(QObject* /*Sender*/) {
    trace("ConnectionTestTimer");
    try {
        step(2);
        const auto snapshot = ServerVandorixClient->Snapshot();
        // Joins, leaves and admissions all change the generation; a listener stalls only by refusing.
        if (snapshot->generation == ListedGeneration &&
            (!Listeners || Listeners->refusingAtLastWrite() == 0) &&
            Hoerer->text() == QString::number(ClientslistRows->rowCount())) {
            return;
        }
        // The admitted listener a connection carries, or null; one that has taken nothing for so long
        // is gone or stuck, and is closed so that its slot goes to others.
        auto listener = [this](TServerClientWinSocket& socket) -> const TVXSocketData* {
            step(5);
            const auto* session = listenerSession(socket);
            step(6);
            if (!session || session->Kind.load() != TVXSocketData::KindListener) {
                return nullptr;
            }
            if (session->stalledFor() >= std::chrono::milliseconds(StalledListenerLimitMs)) {
                socket.CloseConnection();
                return nullptr;
            }
            return session;
        };
        // Most ticks nobody joined or left: the walk then only compares with the rows shown, which
        // costs no allocation and no copy per listener. Otherwise the rows are gathered and applied as
        // a difference, so the list shows the same rows as one rebuilt from scratch.
        step(4);
        int count = 0;
        bool same = true;
        for (const auto& socket : snapshot->connections) {
            const TVXSocketData* session = listener(*socket);
            if (!session) {
                continue;
            }
            step(7);
            if (same) {
                same = count < ClientslistRows->rowCount() && [&] {
                    const ListenerListModel::Row& shown = ClientslistRows->row(count);
                    // A connection's address is fixed at accept: its id stands for it.
                    return shown.id == socket->Id() && shown.program == session->ClientProgram;
                }();
            }
            ++count;
        }
        if (!same || count != ClientslistRows->rowCount()) {
            std::vector<ListenerListModel::Row> rows;
            rows.reserve(std::size_t(count));
            for (const auto& socket : snapshot->connections) {
                if (const TVXSocketData* session = listener(*socket)) {
                    rows.push_back({socket->Id(), socket->PeerAddress(), session->ClientProgram});
                }
            }
            count = int(rows.size());
            step(3);
            ClientslistRows->update(std::move(rows));
        }
        step(11);
        Hoerer->setText(QString::number(count));
        ListedGeneration = snapshot->generation;
    } catch (const std::exception&) {
        step(12);  // the list and the count keep what the previous tick showed
    }
}
