// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusService.h"

#include "net/HttpMessage.h"
#include "platform/ErrorLine.h"
#include "station/Station.h"
#include "status/StatusPage.h"

namespace vx::status {

namespace {

using Response = StatusHttpServer::Response;

Response withCommonHeaders(Response r) {
    r.headers.emplace_back("Cache-Control", "no-store");
    r.headers.emplace_back("X-Content-Type-Options", "nosniff");
    r.headers.emplace_back("Referrer-Policy", "no-referrer");
    return r;
}

}  // namespace

StatusService::StatusService(Station& station, QObject* parent)
    : QObject(parent),
      station_(station),
      server_([this](const std::string& method, const std::string& path) { return respond(method, path); }) {}

StatusService::~StatusService() {
    server_.stop();
}

bool StatusService::listen(const QString& host, int port, QString* error) {
    return server_.start(host, port, error);
}

Response StatusService::respond(const std::string& method, const std::string& path) const {
    if (!http::readsOnly(QByteArray::fromStdString(method))) {
        return withCommonHeaders(http::methodNotAllowed("Only GET and HEAD are answered here."));
    }
    if (path == "/") {
        Response r{200, "text/html; charset=utf-8", statusPage(), {}};
        r.headers.emplace_back("Content-Security-Policy", statusPagePolicy());
        return withCommonHeaders(std::move(r));
    }
    if (path == "/status.json") {
        return withCommonHeaders(
            {200, "application/json; charset=utf-8", renderStatusJson(*station_.status()), {}});
    }
    if (path == "/metrics") {
        return withCommonHeaders(
            {200, "text/plain; version=0.0.4; charset=utf-8", renderMetrics(*station_.status()), {}});
    }
    return withCommonHeaders(http::plainText(404, "Not found: try /, /status.json or /metrics."));
}

std::unique_ptr<StatusService> startStatus(Station& station, const StatusOptions& options) {
    station.setSilenceRule(options.silenceThresholdDb, options.silenceAfterSeconds);
    if (!options.enabled) {
        return nullptr;
    }
    auto service = std::make_unique<StatusService>(station);
    service->setHostNames(options.hostNames + QStringList{options.host});
    QString error;
    if (!service->listen(options.host, options.port, &error)) {
        vx::writeErrorLine(
            QStringLiteral("The status port %1:%2 cannot be opened (%3); the station runs without it")
                .arg(options.host)
                .arg(options.port)
                .arg(error));
        return nullptr;
    }
    return service;
}

}  // namespace vx::status
