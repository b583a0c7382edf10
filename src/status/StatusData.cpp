// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusData.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cmath>

#ifndef VX_VERSION
#define VX_VERSION "unknown"
#endif

namespace vx::status {

namespace {

const QString version = QStringLiteral(VX_VERSION);

QString relayState(IcecastRelay::State state) {
    switch (state) {
        case IcecastRelay::State::Stopped:
            return QStringLiteral("stopped");
        case IcecastRelay::State::Connecting:
            return QStringLiteral("connecting");
        case IcecastRelay::State::OnAir:
            return QStringLiteral("on_air");
        case IcecastRelay::State::Error:
            return QStringLiteral("error");
    }
    return {};
}

QString listenUrl(const IcecastTarget& target) {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(target.host);
    url.setPort(target.port);
    url.setPath(target.mount);
    return url.toString(QUrl::FullyEncoded);
}

QJsonValue orNull(const QDateTime& t) {
    return t.isValid() ? QJsonValue(t.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonValue fileJson(const std::optional<StationStatus::File>& f, const char* bytesKey) {
    if (!f) {
        return QJsonValue();
    }
    return QJsonObject{{QStringLiteral("file"), f->name}, {QLatin1String(bytesKey), double(f->bytes)}};
}

QJsonObject listenersJson(const StationStatus& d) {
    QJsonArray clients;
    if (d.clients) {
        for (const ListenerRow& row : *d.clients) {
            clients.append(QJsonObject{
                {QStringLiteral("address"), row.address},
                {QStringLiteral("program"), row.program},
                {QStringLiteral("via"), row.web ? QStringLiteral("web") : QStringLiteral("listener-port")},
                {QStringLiteral("connected_since"), orNull(row.connectedSince)}});
        }
    }
    return {{QStringLiteral("count"), clients.size()},
            {QStringLiteral("limit"), d.listenerLimit ? QJsonValue(*d.listenerLimit) : QJsonValue()},
            {QStringLiteral("clients"), clients}};
}

QJsonObject captureJson(const StationStatus& d) {
    return {{QStringLiteral("device"), d.captureDevice},
            {QStringLiteral("ok"), d.captureOk},
            {QStringLiteral("open"), d.captureOpen},
            {QStringLiteral("level"), QJsonObject{{QStringLiteral("peak_dbfs"), d.level.peakDbfs},
                                                  {QStringLiteral("rms_dbfs"), d.level.rmsDbfs}}},
            {QStringLiteral("silence_seconds"), d.silenceSeconds},
            {QStringLiteral("silent_since"), orNull(d.deadAirSince)},
            {QStringLiteral("silence_threshold_dbfs"), d.silenceThresholdDb},
            {QStringLiteral("silence_after_seconds"), d.silenceAfterSeconds}};
}

QJsonArray relaysJson(const StationStatus& d) {
    QJsonArray relays;
    for (const StationStatus::Relay& r : d.relays) {
        relays.append(QJsonObject{{QStringLiteral("target"), r.target.displayName()},
                                  {QStringLiteral("state"), relayState(r.status.state)},
                                  {QStringLiteral("reason"), r.status.reason},
                                  {QStringLiteral("dropped_blocks"), double(r.droppedBlocks)},
                                  {QStringLiteral("listen_url"), listenUrl(r.target)}});
    }
    return relays;
}

QJsonArray historyJson(const StationStatus& d) {
    QJsonArray history;
    for (std::size_t i = 0; i < d.history.size(); ++i) {
        history.append(QJsonObject{
            {QStringLiteral("time"), i < d.historyTimes.size() ? orNull(d.historyTimes[i]) : QJsonValue()},
            {QStringLiteral("listeners"), d.history[i]}});
    }
    return history;
}

// Metrics in the text format: a family's HELP and TYPE lines, then its samples.
class MetricsWriter {
public:
    void family(const char* name, const char* type, const char* help) {
        out_ += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char* name, double value, const QString& label = {}, const QString& labelValue = {}) {
        out_ += name;
        if (!label.isEmpty()) {
            out_ += '{' + label.toUtf8() + "=\"" + escape(labelValue) + "\"}";
        }
        out_ += ' ' + number(value) + '\n';
    }
    QByteArray take() { return std::move(out_); }

private:
    static QByteArray escape(const QString& value) {
        QByteArray v = value.toUtf8();
        v.replace('\\', "\\\\").replace('"', "\\\"").replace('\n', "\\n");
        return v;
    }
    static QByteArray number(double v) {
        if (std::isinf(v)) {
            return v > 0 ? "+Inf" : "-Inf";
        }
        if (std::isnan(v)) {
            return "NaN";
        }
        return QByteArray::number(v, 'g', 15);
    }
    QByteArray out_;
};

}  // namespace

QByteArray renderStatusJson(const StationStatus& d) {
    const QJsonObject stream{
        {QStringLiteral("bit_rate_kbps"), d.streamFormat.avgBytesPerSec() * 8 / 1000.0},
        {QStringLiteral("sample_rate"), double(d.streamFormat.samplesPerSec())},
        {QStringLiteral("channels"), d.streamFormat.channels()},
        {QStringLiteral("bytes_last_block"), d.bytesLastBlock},
        {QStringLiteral("refresh_ms"), double(d.refreshMs)},
        {QStringLiteral("line_load"), d.lineLoad ? QJsonValue(*d.lineLoad) : QJsonValue()},
        {QStringLiteral("transmission_errors"), double(d.errorCount)},
        {QStringLiteral("sent_bytes_total"), double(d.sentBytesTotal)}};
    const QJsonObject directory{
        {QStringLiteral("offline"), d.offline},
        {QStringLiteral("last_request"),
         d.lastDirectoryRequest.action.isEmpty()
             ? QJsonValue()
             : QJsonObject{{QStringLiteral("action"), d.lastDirectoryRequest.action},
                           {QStringLiteral("time"), orNull(d.lastDirectoryRequest.at)},
                           {QStringLiteral("result"), d.lastDirectoryRequest.result}}}};
    const QJsonObject root{{QStringLiteral("version"), version},
                           {QStringLiteral("generated_at"), orNull(d.takenAt)},
                           {QStringLiteral("radio_name"), d.settings.radioName},
                           {QStringLiteral("ext_radio_name"), d.settings.extRadioName},
                           {QStringLiteral("server_name"), d.settings.serverName},
                           {QStringLiteral("info_text"), d.settings.infoText},
                           {QStringLiteral("state"), QString::fromLatin1(stateName(d.state))},
                           {QStringLiteral("state_since"), orNull(d.stateSince)},
                           {QStringLiteral("on_air"), d.onAir},
                           {QStringLiteral("listeners"), listenersJson(d)},
                           {QStringLiteral("stream"), stream},
                           {QStringLiteral("capture"), captureJson(d)},
                           {QStringLiteral("mp3_copy"), fileJson(d.mp3File, "bytes_written")},
                           {QStringLiteral("recording"), fileJson(d.recordFile, "bytes_written")},
                           {QStringLiteral("playback"), fileJson(d.playback, "bytes_played")},
                           {QStringLiteral("relays"), relaysJson(d)},
                           {QStringLiteral("directory"), directory},
                           {QStringLiteral("history"), historyJson(d)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray renderMetrics(const StationStatus& d) {
    MetricsWriter m;
    m.family("vandorix_info", "gauge", "The program's version; always 1.");
    m.sample("vandorix_info", 1, QStringLiteral("version"), version);
    m.family("vandorix_on_air", "gauge", "1 while listeners are served (on air or playing a file), else 0.");
    m.sample("vandorix_on_air", d.onAir ? 1 : 0);
    m.family("vandorix_listeners", "gauge", "Admitted listeners.");
    m.sample("vandorix_listeners", d.clients ? double(d.clients->size()) : 0.0);
    m.family("vandorix_listener_limit", "gauge",
             "Most listeners admitted at once; +Inf while the limit is off.");
    m.sample("vandorix_listener_limit", d.listenerLimit ? double(*d.listenerLimit) : INFINITY);
    m.family("vandorix_sent_bytes_total", "counter", "Audio bytes the listeners' connections took.");
    m.sample("vandorix_sent_bytes_total", double(d.sentBytesTotal));
    m.family("vandorix_transmission_errors_total", "counter",
             "Transmission errors (failed sends, conversions and file writes).");
    m.sample("vandorix_transmission_errors_total", double(d.transmissionErrorsTotal));
    m.family("vandorix_bytes_last_block", "gauge", "Bytes of the last encoded block.");
    m.sample("vandorix_bytes_last_block", d.bytesLastBlock);
    m.family("vandorix_line_load_ratio", "gauge", "What the last block cost the upload line, 0 to 1.");
    m.sample("vandorix_line_load_ratio", d.lineLoad.value_or(0.0));
    m.family("vandorix_capture_ok", "gauge", "0 while the capture device is lost, else 1.");
    m.sample("vandorix_capture_ok", d.captureOk ? 1 : 0);
    m.family("vandorix_input_peak_dbfs", "gauge", "Peak level of the last captured block (floor -120).");
    m.sample("vandorix_input_peak_dbfs", d.level.peakDbfs);
    m.family("vandorix_input_rms_dbfs", "gauge", "RMS level of the last captured block (floor -120).");
    m.sample("vandorix_input_rms_dbfs", d.level.rmsDbfs);
    m.family("vandorix_silence_seconds", "gauge", "How long the input has been below the silence threshold.");
    m.sample("vandorix_silence_seconds", d.silenceSeconds);
    m.family("vandorix_dead_air", "gauge", "1 once the silence has lasted long enough to count as dead air.");
    m.sample("vandorix_dead_air", d.deadAirSince.isValid() ? 1 : 0);
    m.family("vandorix_relay_up", "gauge", "1 while the relay to this Icecast mount is on air.");
    for (const StationStatus::Relay& r : d.relays) {
        m.sample("vandorix_relay_up", r.status.state == IcecastRelay::State::OnAir ? 1 : 0,
                 QStringLiteral("target"), r.target.displayName());
    }
    m.family("vandorix_relay_dropped_blocks_total", "counter",
             "Blocks dropped for this mount because its queue was full.");
    for (const StationStatus::Relay& r : d.relays) {
        m.sample("vandorix_relay_dropped_blocks_total", double(r.droppedBlocks), QStringLiteral("target"),
                 r.target.displayName());
    }
    return m.take();
}

}  // namespace vx::status
