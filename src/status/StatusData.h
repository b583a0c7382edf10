#pragma once

#include "audio/InputLevel.h"
#include "station/ListenerSnapshot.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class Station;

namespace vx::status {

// What the status port tells, as one value taken on the station's thread. Never changed once published,
// so the HTTP thread reads it without a lock and without touching the station.
struct StatusData {
    struct File {
        QString name;
        int64_t bytes = 0;  // written, or for a playback sent
    };
    struct Relay {
        QString target;  // with the password as ***
        QString state;   // "stopped", "connecting", "on_air", "error"
        QString reason;
        uint64_t droppedBlocks = 0;
        QString listenUrl;  // where players hear the mount; no credentials
    };

    QDateTime generatedAt;
    QString version;
    QString radioName;
    QString extRadioName;
    QString serverName;
    QString infoText;
    QString state;
    QDateTime stateSince;
    bool onAir = false;  // listeners are served: on air or playing a file

    ListenerSnapshot clients;
    std::optional<int> listenerLimit;  // none while the limit is off

    double bitRateKbps = 0.0;
    uint32_t sampleRate = 0;
    uint16_t channels = 0;
    int bytesLastBlock = 0;
    uint32_t refreshMs = 0;
    std::optional<double> lineLoad;        // 0..1; none without a line capacity
    uint32_t transmissionErrors = 0;       // since the broadcast's start, as the window shows them
    uint64_t transmissionErrorsTotal = 0;  // since the program's start
    uint64_t sentBytesTotal = 0;

    QString captureDevice;
    bool captureOk = true;
    bool captureOpen = false;
    InputLevel level;
    double silenceSeconds = 0.0;
    QDateTime silentSince;  // null unless dead air
    double silenceThresholdDb = 0.0;
    double silenceAfterSeconds = 0.0;

    std::optional<File> mp3Copy;
    std::optional<File> recording;
    std::optional<File> playback;
    std::vector<Relay> relays;

    bool offline = false;
    QString directoryAction;  // empty before the first request
    QDateTime directoryAt;
    QString directoryResult;

    std::vector<int> history;
    std::vector<QDateTime> historyTimes;

    // Takes everything from the station. The station's thread only.
    static StatusData collect(const Station& station, uint64_t transmissionErrorsTotal);
};

// application/json; UTF-8.
QByteArray renderStatusJson(const StatusData& data);
// The Prometheus text exposition format, version 0.0.4.
QByteArray renderMetrics(const StatusData& data);

}  // namespace vx::status
