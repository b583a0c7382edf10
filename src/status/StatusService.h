// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "status/StatusData.h"
#include "status/StatusHttpServer.h"
#include "status/StatusOptions.h"

#include <QObject>

#include <memory>

class Station;

namespace vx::status {

// The status port of one station. The HTTP thread answers from the station's newest snapshot, which it
// takes without waiting on the station, so neither a slow client nor a flood of them reaches the
// worker or the send loop.
// Thread contract: made and destroyed on the station's thread.
class StatusService : public QObject {
    Q_OBJECT

public:
    explicit StatusService(Station& station, QObject* parent = nullptr);
    ~StatusService() override;

    // Serves host:port (0: any free port). False, with the reason in *error, when it cannot bind.
    bool listen(const QString& host, int port, QString* error);
    int port() const { return server_.port(); }
    // Names a request's Host may give besides the loopback ones and the address reached; before listen().
    void setHostNames(const QStringList& names) { server_.setHostNames(names); }

    // What the port answers for a request; the server's thread.
    StatusHttpServer::Response respond(const std::string& method, const std::string& path) const;

private:
    const Station& station_;
    // Last: it stops, and its thread with it, before anything it reads goes.
    StatusHttpServer server_;
};

// What main() does for the status: the dead-air settings go to the station, and unless the port is
// off the service serves it. A port that cannot be bound is reported once on standard error; the
// station runs on without it (a null service then).
std::unique_ptr<StatusService> startStatus(Station& station, const StatusOptions& options);

}  // namespace vx::status
