// SPDX-License-Identifier: GPL-3.0-or-later
// The remote-control service on its own port: local peers only, one command per read.
#include "platform/Ansi.h"
#include "platform/ErrorLine.h"
#include "station/Station.h"

#include <QStringDecoder>
#include <QThread>

#include <algorithm>

#include <cstring>
#include <string_view>

bool Station::CheckLocalAddress(const QString& Address) {
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

void Station::RemoteControlClientConnect(const std::shared_ptr<TServerClientWinSocket>& Socket) {
    trace("RemoteControlClientConnect");
    step(2);
    if (!CheckLocalAddress(Socket->PeerAddress())) {
        step(3);
        Socket->CloseConnection();
    }
}

void Station::RemoteControlClientError(const std::shared_ptr<TServerClientWinSocket>& Socket,
                                       int& ErrorCode) {
    trace("RemoteControlClientError");
    step(2);
    // The socket layer closes the connection after this; the peer's address is still known here. One
    // line, not the error report: any local program could otherwise flood it by resetting connections.
    vx::writeErrorLine(QStringLiteral("Remote control: connection from %1 dropped: %2")
                           .arg(Socket->PeerAddress(), QString::fromLocal8Bit(std::strerror(ErrorCode))));
    ErrorCode = 0;
}

void Station::RemoteControlClientRead(const std::shared_ptr<TServerClientWinSocket>& Socket) {
    trace("RemoteControlClientRead");
    step(2);
    // The whole of one read is the command: a command split across reads, two in one read or one with
    // a line end are no command.
    const QByteArray R = Socket->ReadAvailableText();
    step(3);
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

void Station::beforeProcessEnd(std::function<void()> action) {
    EndProcess = [action = std::move(action), end = std::move(EndProcess)] {
        action();
        end();
    };
}

void Station::End() {
    trace("RemoteControlClientRead");
    step(6);
    auto ende = [this] {
        // The process ends even when the stop failed part-way; the failure has been reported.
        Guarded([this] {
            if (state() == StationState::Stopped) {
                DirectoryOffAir();  // the stop's report, with no broadcast to stop
            } else {
                Stop();
            }
        });
        step(7);
        QThread::msleep(2000);
        EndProcess();
    };
    // A playback runs beneath this command, in its waits: it ends first, then the station.
    if (!AfterPlayback([this, ende] {
            trace("RemoteControlClientRead");
            step(6);
            Guarded(ende);
        })) {
        ende();
    }
}

void Station::remoteCommand(const QByteArray& R, const std::shared_ptr<TServerClientWinSocket>& Socket) {
    trace("RemoteControlClientRead");
    if (R == command(vx::kRemoteStart)) {
        step(4);
        if (state() == StationState::Stopped) {
            Start();
        }
    } else if (R == command(vx::kRemoteStop)) {
        step(5);
        if (broadcasting()) {
            Stop();
        }
    } else if (R == command(vx::kRemoteEnd)) {
        End();
    } else if (R == command(vx::kRemoteList)) {
        step(8);
        // The list as the last connection test saw it; each element in one call, nothing retried.
        try {
            for (const ListenerRow& row : *status()->clients) {
                if (!Socket->IsOpen()) {
                    break;
                }
                Socket->SendString(row.address.toLatin1() + kTerminator);
            }
        } catch (const std::exception&) {
            step(9);
        }
    } else if (isInfoCommand(R)) {
        step(10);
        QString text;
        QString problem;
        if (infoText(R, text, problem)) {
            setInfoText(text);
        } else {
            vx::writeErrorLine(QStringLiteral("Remote control: the Info text is refused: %1").arg(problem));
        }
    }
}
