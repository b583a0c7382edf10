// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/IcyMetadata.h"
#include "net/TServerSocket.h"
#include "web/WebPage.h"

#include <QByteArray>
#include <QString>

#include <exception>
#include <functional>
#include <memory>

class WebGate;
class WebSession;
struct WebRequest;

// The public web port: the stream for every player (with its title as ICY metadata), the page,
// /now.json and the playlists. It owns its server socket, the gate for connections that are no
// listeners yet, and their sessions; its listeners join the listener port's send table, count and list.
// It knows the station only through the hooks below: what it shows comes from the station's newest
// snapshot, and a listener gets in through the send table's admission.
// Thread contract: made, opened and destroyed on the station's thread, where its events run; the hooks
// are called there.
class WebPort {
public:
    struct Options {
        QString listen;     // "host:port", "[v6]:port"
        QString publicUrl;  // the address the public knows the stream by (a reverse proxy); may be empty
        int burstBytes = 48 * 1024;
        // Connections that are not (yet) listeners: in all, and from one address.
        int maxWaiting = 1024;
        int maxWaitingPerPeer = 64;
    };
    // Sends the reply with the burst (`recent`, framed from the start of an MPEG frame) and, when it was
    // taken whole, makes the session a listener. `title`: the title metadata listeners get now.
    using Admit = std::function<void(const QByteArray& recent, const icy::TitleBoard::Title* title)>;
    struct Hooks {
        // The public values of the station's newest snapshot (streamUrl left empty).
        std::function<WebNow()> now;
        // Whether the listener limit lets one more in.
        std::function<bool()> admitsOneMore;
        // Runs `admit` between two blocks of the send table, so the listener gets every block exactly
        // once. `firstTitle` is the title the listeners get while nobody has set one.
        std::function<void(const QString& firstTitle, const Admit& admit)> admitWithBurst;
        // An error that escaped a handler: the station's error report.
        std::function<void(const std::exception&)> failed;
    };

    WebPort(Options options, Hooks hooks);
    ~WebPort();
    WebPort(const WebPort&) = delete;
    WebPort& operator=(const WebPort&) = delete;

    // Binds and listens. A port that cannot be opened is said once on standard error, as an admin reads
    // it; the station runs on without it. False then.
    bool open();
    // The port bound; 0 when it does not listen.
    int port() const;
    // The server whose connections are the port's: the send table and the list walk them.
    TServerSocket& server() { return server_; }
    const TServerSocket& server() const { return server_; }
    // Whether any peer is connected, listener or not.
    bool anyoneConnected() const { return server_.ConnectionCount() > 0; }
    // The listeners leave with the broadcast; the page stays.
    void closeListeners();

private:
    void clientConnect(const std::shared_ptr<TServerClientWinSocket>& socket);
    void clientRead(const std::shared_ptr<TServerClientWinSocket>& socket);
    void answer(const std::shared_ptr<TServerClientWinSocket>& socket, WebSession& session,
                const WebRequest& request);
    void answerStream(const std::shared_ptr<TServerClientWinSocket>& socket, WebSession& session,
                      const WebRequest& request, const WebNow& now);
    // What the public is shown for a request that reached the port by `host`.
    WebNow now(const QByteArray& host) const;
    template <class F>
    void guarded(F&& handler);

    const Options options_;
    const Hooks hooks_;
    std::shared_ptr<WebGate> gate_;
    TServerSocket server_;
};
