// SPDX-License-Identifier: GPL-3.0-or-later
// The input level of every captured block and the dead air it adds up to.
#include "audio/TACMConvertor.h"
#include "platform/ErrorLine.h"
#include "station/Station.h"

#include <algorithm>

void Station::measureInput(const void* data, int size) {
    const TAudioFormat& format = ACMC->FormatIn;
    inputLevel_ = InputLevel::measure(format, data, size);
    if (inputLevel_.rmsDbfs >= SilenceThresholdDb) {
        endSilence(QStringLiteral("sound again"));
        return;
    }
    // Counted in captured sound rather than by the clock, so a device that delivers late or in bursts
    // is judged by what it recorded.
    const double seconds =
        format.avgBytesPerSec() > 0 ? double(std::max(size, 0)) / format.avgBytesPerSec() : 0.0;
    if (silentFor_ == 0.0) {
        silentSince_ = QDateTime::currentDateTimeUtc().addMSecs(-qint64(seconds * 1000.0));
    }
    silentFor_ += seconds;
    if (!deadAir_ && silentFor_ >= SilenceAfterSeconds) {
        deadAir_ = true;
        vx::writeErrorLine(QStringLiteral("Dead air: the input has been below %1 dBFS for %2 s, since %3")
                               .arg(SilenceThresholdDb)
                               .arg(qRound64(silentFor_))
                               .arg(silentSince_.toString(Qt::ISODate)));
        emit deadAirChanged(true);
    }
}

void Station::endSilence(const QString& why) {
    const double lasted = silentFor_;
    silentFor_ = 0.0;
    if (!deadAir_) {
        return;
    }
    deadAir_ = false;
    vx::writeErrorLine(QStringLiteral("Dead air ended after %1 s: %2").arg(qRound64(lasted)).arg(why));
    emit deadAirChanged(false);
}

void Station::inputStopped() {
    inputLevel_ = InputLevel();
    endSilence(QStringLiteral("the capture stopped"));
}
