// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/Recorder.h"

#include "audio/QueuedFileWriter.h"
#include "platform/IoError.h"
#include "platform/Posting.h"

#include <algorithm>
#include <utility>

namespace {

// What closing a file that is not open reports.
const char* const kFileNotOpen = "I/O error 103";
// A recording waits for its disk rather than drop blocks; this much may wait in memory meanwhile.
constexpr int kRecordQueueSeconds = 30;

}  // namespace

Recorder::Recorder(Hooks hooks, QObject* parent)
    : QObject(parent), hooks_(std::move(hooks)), file_(std::make_shared<QueuedFileWriter>()) {
    // A recording has no listener to keep waiting: it waits for its disk rather than lose blocks.
    file_->setWaitWhenFull(true);
    file_->OnOpened = [this](const QueuedFileWriter::Opened& opened) {
        vx::postTo(this, [this, opened] {
            if (opened.serial != awaited_) {
                return;  // a "Stop" or a new "Start" came first
            }
            awaited_ = 0;
            if (opened.error.empty()) {
                hooks_.begun(file_);
            } else {
                hooks_.openFailed(opened.error, opened.headerFailed ? 5 : 4);
            }
        });
    };
    file_->OnFailure = [this](const std::string& message) { hooks_.diskFailed(message); };
}

Recorder::~Recorder() {
    // The block's road may hold the writer a moment longer; nothing it reports may reach this object.
    file_->silence();
}

void Recorder::start(const TAudioFormat& format) {
    failed_ = false;
    const QByteArray header(reinterpret_cast<const char*>(format.data()), TAudioFormat::kSize);
    file_->create(fileName_, kRecordQueueSeconds * int64_t(std::max(format.avgBytesPerSec(), 1u)), header);
    awaited_ = file_->serial();
}

void Recorder::failed() {
    awaited_ = 0;
    failed_ = true;
    file_->close();  // the writer has ended with its failure, or ends after the block it writes
}

void Recorder::stop() {
    awaited_ = 0;
    // A recording that failed was reported and closed then; its "Stop" has nothing more to say.
    if (std::exchange(failed_, false)) {
        return;
    }
    if (!file_->isOpen()) {
        throw EInOutError(kFileNotOpen);
    }
    // The writer takes what waits, so the file ends with a whole block, however long its disk takes.
    file_->finishLater();
}
