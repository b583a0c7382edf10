// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/RemoteControlService.h"

#include "net/ESocketError.h"
#include "net/TServerSocket.h"
#include "platform/Ansi.h"
#include "platform/ErrorLine.h"
#include "platform/StationConstants.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <string_view>

bool RemoteControlService::CheckLocalAddress(const QString& Address) {
    if (Address.startsWith(QLatin1String("192.168.")) || Address.startsWith(QLatin1String("10.")) ||
        Address == QLatin1String("127.0.0.1")) {
        return true;
    }
    if (!Address.startsWith(QLatin1String("172."))) {
        return false;
    }
    // Only the private block 172.16.0.0/12: the second number decides.
    const qsizetype end = Address.indexOf(QLatin1Char('.'), 4);
    if (end < 0) {
        return false;
    }
    const QStringView second = QStringView(Address).mid(4, end - 4);
    if (second.isEmpty() || second.size() > 3) {
        return false;
    }
    int value = 0;
    for (const QChar c : second) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
        value = value * 10 + (c.unicode() - '0');
    }
    return value >= 16 && value <= 31;
}

namespace {

const QByteArray kTerminator(vx::kRemoteTerminator.data(), qsizetype(vx::kRemoteTerminator.size()));

// A command as one read brings it: the name and the terminator.
QByteArray command(std::string_view name) {
    return QByteArray(name.data(), qsizetype(name.size())) + kTerminator;
}

// "Info", the text and the terminator.
bool isInfoCommand(const QByteArray& r) {
    const QByteArray name(vx::kRemoteInfo.data(), qsizetype(vx::kRemoteInfo.size()));
    return r.startsWith(name) && r.endsWith(kTerminator) && r.size() >= name.size() + kTerminator.size();
}

// The text of an "Info" command; false, with the reason, for one the info channels could not carry.
bool infoText(const QByteArray& r, QString& text, QString& problem) {
    const QByteArray bytes = r.mid(qsizetype(vx::kRemoteInfo.size()),
                                   r.size() - qsizetype(vx::kRemoteInfo.size()) - kTerminator.size());
    QStringDecoder decoder(QStringDecoder::Utf8);
    text = decoder.decode(bytes);
    if (decoder.hasError()) {
        problem = QStringLiteral("not UTF-8");
    } else if (text.size() > 255) {
        problem = QStringLiteral("longer than 255 characters");
    } else if (std::any_of(text.begin(), text.end(),
                           [](QChar c) { return c.category() == QChar::Other_Control; })) {
        problem = QStringLiteral("holds a control character");
    } else if (vx::fromAnsi(vx::toAnsi(text)) != text) {
        // The info channels and "Optionen.ini" carry Windows-1252.
        problem = QStringLiteral("holds a character that Windows-1252 cannot represent");
    }
    return problem.isEmpty();
}

}  // namespace

RemoteControlService::RemoteControlService(int port, const QString& address, Commands commands)
    : commands_(std::move(commands)), RemoteControl(std::make_unique<TServerSocket>()) {
    RemoteControl->Port = port;
    RemoteControl->Name = "Remote control";
    RemoteControl->Address = address.toStdString();
    // Any local program may connect: half a command must not hold a descriptor for good, nor may a
    // flood of connections take every descriptor from the listeners.
    RemoteControl->RequestTimeoutMs = vx::kRemoteCommandTimeoutMs;
    RemoteControl->MaxConnections = vx::kRemoteMaxConnections;
    RemoteControl->MaxConnectionsPerPeer = vx::kRemoteMaxConnectionsPerPeer;
    RemoteControl->OnClientConnect = [this](TServerSocket*, const auto& socket) {
        commands_.guarded([&] { RemoteControlClientConnect(socket); });
    };
    RemoteControl->OnClientRead = [this](TServerSocket*, const auto& socket) {
        commands_.guarded([&] { RemoteControlClientRead(socket); });
    };
    RemoteControl->OnClientError = [this](TServerSocket*, const auto& socket, TErrorEvent, int& code) {
        RemoteControlClientError(socket, code);
    };
}

RemoteControlService::~RemoteControlService() = default;

QString RemoteControlService::listen() {
    try {
        RemoteControl->SetActive(true);
    } catch (const ESocketError& e) {
        const std::string plain = e.plain();
        return QString::fromStdString(plain.empty() ? e.what() : plain) +
               QStringLiteral("; the station runs without remote control");
    }
    if (RemoteControl->Port == 0) {
        // A port the system chose is of use only to whoever is told which it is.
        vx::writeErrorLine(
            QStringLiteral("The remote control listens on port %1 (--remote-port 0: a free one)")
                .arg(RemoteControl->LocalPort()));
    }
    return {};
}

bool RemoteControlService::listening() const {
    return RemoteControl->Active();
}

int RemoteControlService::localPort() const {
    return RemoteControl->LocalPort();
}

void RemoteControlService::startupFinished() {
    startupDone_ = true;
    for (auto& early : std::exchange(earlyCommands_, {})) {
        commands_.guarded([&] { remoteCommand(early.first, early.second); });
    }
}

void RemoteControlService::RemoteControlClientConnect(const std::shared_ptr<TServerClientWinSocket>& Socket) {
    commands_.trace("RemoteControlClientConnect");
    commands_.step(2);
    if (!CheckLocalAddress(Socket->PeerAddress())) {
        commands_.step(3);
        Socket->CloseConnection();
    }
}

void RemoteControlService::RemoteControlClientError(const std::shared_ptr<TServerClientWinSocket>& Socket,
                                                    int& ErrorCode) {
    commands_.trace("RemoteControlClientError");
    commands_.step(2);
    // The socket layer closes the connection after this; the peer's address is still known here. One
    // line, not the error report: any local program could otherwise flood it by resetting connections.
    vx::writeErrorLine(QStringLiteral("Remote control: connection from %1 dropped: %2")
                           .arg(Socket->PeerAddress(), QString::fromLocal8Bit(std::strerror(ErrorCode))));
    ErrorCode = 0;
}

void RemoteControlService::RemoteControlClientRead(const std::shared_ptr<TServerClientWinSocket>& Socket) {
    commands_.trace("RemoteControlClientRead");
    commands_.step(2);
    // The whole of one read is the command: a command split across reads, two in one read or one with
    // a line end are no command.
    const QByteArray R = Socket->ReadAvailableText();
    commands_.step(3);
    if (R == command(vx::kRemoteStart) || R == command(vx::kRemoteStop) || R == command(vx::kRemoteEnd) ||
        R == command(vx::kRemoteList) || isInfoCommand(R)) {
        RemoteControl->RequestDone(Socket);  // a whole command renews the connection's time
    }
    // Before start-up has applied the settings, a start would find no radio name: the commands wait for
    // it. "Ende" does not: whatever start-up shows, the program ends.
    if (!startupDone_ && R != command(vx::kRemoteEnd)) {
        earlyCommands_.emplace_back(R, Socket);
        return;
    }
    remoteCommand(R, Socket);
}

void RemoteControlService::remoteCommand(const QByteArray& R,
                                         const std::shared_ptr<TServerClientWinSocket>& Socket) {
    commands_.trace("RemoteControlClientRead");
    if (R == command(vx::kRemoteStart)) {
        commands_.step(4);
        if (commands_.state() == StationState::Stopped) {
            commands_.start();
        }
    } else if (R == command(vx::kRemoteStop)) {
        commands_.step(5);
        if (broadcasting(commands_.state())) {
            commands_.stop();
        }
    } else if (R == command(vx::kRemoteEnd)) {
        commands_.end();
    } else if (R == command(vx::kRemoteList)) {
        commands_.step(8);
        // The list as the last connection test saw it; each element in one call, nothing retried.
        try {
            for (const ListenerRow& row : *commands_.clients()) {
                if (!Socket->IsOpen()) {
                    break;
                }
                Socket->SendString(row.address.toLatin1() + kTerminator);
            }
        } catch (const std::exception&) {
            commands_.step(9);
        }
    } else if (isInfoCommand(R)) {
        commands_.step(10);
        QString text;
        QString problem;
        if (infoText(R, text, problem)) {
            commands_.setInfoText(text);
        } else {
            vx::writeErrorLine(QStringLiteral("Remote control: the Info text is refused: %1").arg(problem));
        }
    }
}
