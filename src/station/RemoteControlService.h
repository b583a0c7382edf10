// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "station/ListenerSnapshot.h"
#include "station/StationState.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class TServerSocket;
class TServerClientWinSocket;

// The remote-control port: local peers only, one command per read ("Start", "Stop", "Ende", "Liste",
// "Info"), each ending in four bytes 255. It parses the commands and carries them out through the
// station's commands; until start-up has finished, every command but "Ende" waits.
// Thread contract: the thread that made it (Qt's main thread).
class RemoteControlService {
public:
    // What the commands reach: the station's trace and commands, and the list its last connection test
    // built.
    struct Commands {
        std::function<void(const char* name)> trace;
        std::function<void(int step)> step;
        // Runs a handler; an error that escapes it ends in the error report.
        std::function<void(const std::function<void()>&)> guarded;
        std::function<StationState()> state;
        std::function<void()> start;
        std::function<void()> stop;
        std::function<void()> end;  // the stop, a pause, the end of the process
        std::function<ListenerSnapshot()> clients;
        std::function<void(const QString& text)> setInfoText;
    };

    // Port 0: one the system chooses. `address`: the address it listens on.
    RemoteControlService(int port, const QString& address, Commands commands);
    ~RemoteControlService();
    RemoteControlService(const RemoteControlService&) = delete;
    RemoteControlService& operator=(const RemoteControlService&) = delete;

    // Opens the port. Empty on success, else the line that says the station runs without remote control.
    QString listen();
    bool listening() const;
    int localPort() const;
    // Start-up has applied the settings: the commands that came meanwhile are carried out now.
    void startupFinished();
    // The server socket, for tests that watch its connections.
    TServerSocket& socket() { return *RemoteControl; }

    // "192.168.", "10.", 172.16/12 and 127.0.0.1 only.
    static bool CheckLocalAddress(const QString& Address);
    // The socket's events; public so that a test can hand a read over at once.
    void RemoteControlClientConnect(const std::shared_ptr<TServerClientWinSocket>& Socket);
    void RemoteControlClientRead(const std::shared_ptr<TServerClientWinSocket>& Socket);

private:
    void RemoteControlClientError(const std::shared_ptr<TServerClientWinSocket>& Socket, int& ErrorCode);
    void remoteCommand(const QByteArray& command, const std::shared_ptr<TServerClientWinSocket>& socket);

    Commands commands_;
    std::unique_ptr<TServerSocket> RemoteControl;
    // Commands that arrived before start-up finished, with the connection to answer on.
    bool startupDone_ = false;
    std::vector<std::pair<QByteArray, std::shared_ptr<TServerClientWinSocket>>> earlyCommands_;
};
