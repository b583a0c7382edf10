#include "status/StatusData.h"

#include "audio/ListenerDestination.h"
#include "audio/QueuedFileWriter.h"
#include "audio/TACMConvertor.h"
#include "audio/TACMIn.h"
#include "platform/wavein/WaveIn.h"
#include "station/RelayBoard.h"
#include "station/Station.h"

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

void collectStream(const Station& s, StatusData& d) {
    const TAudioFormat format = s.Playing ? s.PlaybackFormat : s.ACMC->FormatOut;
    d.bitRateKbps = format.avgBytesPerSec() * 8 / 1000.0;
    d.sampleRate = format.samplesPerSec();
    d.channels = format.channels();
    d.bytesLastBlock = s.BytesLastBlock;
    d.refreshMs = s.RefreshMs;
    // The load's own capacity is 0 while nobody listens; the line's is known all the same.
    const int capacity = s.LineCapacity;
    if (capacity > 0) {
        d.lineLoad = std::min(1.0, double(uint32_t(uint64_t(s.LineLoad))) / capacity);
    }
    d.transmissionErrors = s.ErrorCount;
    d.sentBytesTotal = s.Listeners->sentBytes();
}

void collectCapture(const Station& s, StatusData& d) {
    d.captureDevice = s.environment().waveIn ? s.environment().waveIn->deviceName() : QString();
    d.captureOk = !s.CaptureLost;
    d.captureOpen = s.ACMI->Active();
    d.level = s.inputLevel();
    d.silenceSeconds = s.silenceSeconds();
    d.silentSince = s.deadAirSince();
    d.silenceThresholdDb = s.SilenceThresholdDb;
    d.silenceAfterSeconds = s.SilenceAfterSeconds;
}

void collectFiles(const Station& s, StatusData& d) {
    if (s.Mp3Recording) {
        d.mp3Copy = StatusData::File{s.Mp3File->fileName(), s.Mp3File->bytesWritten()};
    }
    if (s.Recording) {
        d.recording = StatusData::File{s.RecordFileName, s.RecordFile->bytesWritten()};
    }
    if (s.Playing) {
        d.playback = StatusData::File{s.PlaybackFileName, s.PlaybackBytes};
    }
}

QJsonValue orNull(const QDateTime& t) {
    return t.isValid() ? QJsonValue(t.toUTC().toString(Qt::ISODate)) : QJsonValue();
}

QJsonValue fileJson(const std::optional<StatusData::File>& f, const char* bytesKey) {
    if (!f) {
        return QJsonValue();
    }
    return QJsonObject{{QStringLiteral("file"), f->name}, {QLatin1String(bytesKey), double(f->bytes)}};
}

QJsonObject listenersJson(const StatusData& d) {
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

QJsonObject captureJson(const StatusData& d) {
    return {{QStringLiteral("device"), d.captureDevice},
            {QStringLiteral("ok"), d.captureOk},
            {QStringLiteral("open"), d.captureOpen},
            {QStringLiteral("level"), QJsonObject{{QStringLiteral("peak_dbfs"), d.level.peakDbfs},
                                                  {QStringLiteral("rms_dbfs"), d.level.rmsDbfs}}},
            {QStringLiteral("silence_seconds"), d.silenceSeconds},
            {QStringLiteral("silent_since"), orNull(d.silentSince)},
            {QStringLiteral("silence_threshold_dbfs"), d.silenceThresholdDb},
            {QStringLiteral("silence_after_seconds"), d.silenceAfterSeconds}};
}

QJsonArray relaysJson(const StatusData& d) {
    QJsonArray relays;
    for (const StatusData::Relay& r : d.relays) {
        relays.append(QJsonObject{{QStringLiteral("target"), r.target},
                                  {QStringLiteral("state"), r.state},
                                  {QStringLiteral("reason"), r.reason},
                                  {QStringLiteral("dropped_blocks"), double(r.droppedBlocks)},
                                  {QStringLiteral("listen_url"), r.listenUrl}});
    }
    return relays;
}

QJsonArray historyJson(const StatusData& d) {
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

StatusData StatusData::collect(const Station& s, uint64_t transmissionErrorsTotal) {
    StatusData d;
    d.generatedAt = QDateTime::currentDateTimeUtc();
    d.version = QStringLiteral(VX_VERSION);
    const StationSettings& settings = s.settings();
    d.radioName = settings.radioName;
    d.extRadioName = settings.extRadioName;
    d.serverName = settings.serverName;
    d.infoText = settings.infoText;
    d.state = QString::fromLatin1(stateName(s.state()));
    d.stateSince = s.stateSince();
    d.onAir = s.state() == StationState::OnAir || s.state() == StationState::Playing;
    d.clients = s.listeners();
    if (settings.limitListeners) {
        d.listenerLimit = s.MaxUser;
    }
    collectStream(s, d);
    d.transmissionErrorsTotal = transmissionErrorsTotal;
    collectCapture(s, d);
    collectFiles(s, d);
    for (const RelayBoard::Entry& entry : s.RelayStates->entries) {
        d.relays.push_back({entry.relay->target().displayName(), relayState(entry.status.state),
                            entry.status.reason, entry.relay->droppedBlocks(),
                            listenUrl(entry.relay->target())});
    }
    d.offline = s.OfflineMode;
    d.directoryAction = s.LastDirectoryRequest.action;
    d.directoryAt = s.LastDirectoryRequest.at;
    d.directoryResult = s.LastDirectoryRequest.result;
    d.history = s.listenerHistory();
    d.historyTimes = s.listenerHistoryTimes();
    return d;
}

QByteArray renderStatusJson(const StatusData& d) {
    const QJsonObject stream{
        {QStringLiteral("bit_rate_kbps"), d.bitRateKbps},
        {QStringLiteral("sample_rate"), double(d.sampleRate)},
        {QStringLiteral("channels"), d.channels},
        {QStringLiteral("bytes_last_block"), d.bytesLastBlock},
        {QStringLiteral("refresh_ms"), double(d.refreshMs)},
        {QStringLiteral("line_load"), d.lineLoad ? QJsonValue(*d.lineLoad) : QJsonValue()},
        {QStringLiteral("transmission_errors"), double(d.transmissionErrors)},
        {QStringLiteral("sent_bytes_total"), double(d.sentBytesTotal)}};
    const QJsonObject directory{
        {QStringLiteral("offline"), d.offline},
        {QStringLiteral("last_request"), d.directoryAction.isEmpty()
                                             ? QJsonValue()
                                             : QJsonObject{{QStringLiteral("action"), d.directoryAction},
                                                           {QStringLiteral("time"), orNull(d.directoryAt)},
                                                           {QStringLiteral("result"), d.directoryResult}}}};
    const QJsonObject root{{QStringLiteral("version"), d.version},
                           {QStringLiteral("generated_at"), orNull(d.generatedAt)},
                           {QStringLiteral("radio_name"), d.radioName},
                           {QStringLiteral("ext_radio_name"), d.extRadioName},
                           {QStringLiteral("server_name"), d.serverName},
                           {QStringLiteral("info_text"), d.infoText},
                           {QStringLiteral("state"), d.state},
                           {QStringLiteral("state_since"), orNull(d.stateSince)},
                           {QStringLiteral("on_air"), d.onAir},
                           {QStringLiteral("listeners"), listenersJson(d)},
                           {QStringLiteral("stream"), stream},
                           {QStringLiteral("capture"), captureJson(d)},
                           {QStringLiteral("mp3_copy"), fileJson(d.mp3Copy, "bytes_written")},
                           {QStringLiteral("recording"), fileJson(d.recording, "bytes_written")},
                           {QStringLiteral("playback"), fileJson(d.playback, "bytes_played")},
                           {QStringLiteral("relays"), relaysJson(d)},
                           {QStringLiteral("directory"), directory},
                           {QStringLiteral("history"), historyJson(d)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray renderMetrics(const StatusData& d) {
    MetricsWriter m;
    m.family("vandorix_info", "gauge", "The program's version; always 1.");
    m.sample("vandorix_info", 1, QStringLiteral("version"), d.version);
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
    m.sample("vandorix_dead_air", d.silentSince.isValid() ? 1 : 0);
    m.family("vandorix_relay_up", "gauge", "1 while the relay to this Icecast mount is on air.");
    for (const StatusData::Relay& r : d.relays) {
        m.sample("vandorix_relay_up", r.state == QLatin1String("on_air") ? 1 : 0, QStringLiteral("target"),
                 r.target);
    }
    m.family("vandorix_relay_dropped_blocks_total", "counter",
             "Blocks dropped for this mount because its queue was full.");
    for (const StatusData::Relay& r : d.relays) {
        m.sample("vandorix_relay_dropped_blocks_total", double(r.droppedBlocks), QStringLiteral("target"),
                 r.target);
    }
    return m.take();
}

}  // namespace vx::status
