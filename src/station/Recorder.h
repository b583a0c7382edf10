// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/TAudioFormat.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QueuedFileWriter;

// The recording: the encoded stream into a file of its own, the output format first. The file is made,
// given its header, written and closed on its writer's thread, so a disk that stalls never holds the
// station; what the disk answers comes back to the owner's thread through the hooks.
// Thread contract: the owner's thread (Qt's main thread), except the hook that says otherwise.
class Recorder : public QObject {
public:
    struct Hooks {
        // The file has been made and holds its header: blocks may go to `writer`.
        std::function<void(const std::shared_ptr<QueuedFileWriter>& writer)> begun;
        // The file could not be made (step 4) or take its header (step 5); `error` says why.
        std::function<void(const std::string& error, int step)> openFailed;
        // The writer's thread: the disk refused a block of a recording under way.
        std::function<void(const std::string& error)> diskFailed;
    };

    explicit Recorder(Hooks hooks, QObject* parent = nullptr);
    ~Recorder() override;

    // "RecordtoFile": the file the next "Start" makes.
    void choose(const QString& fileName) { fileName_ = fileName; }
    const QString& fileName() const { return fileName_; }
    // "Start": the chosen file afresh (a recording under way is left to its writer to close first), its
    // header `format`; returns at once, the hooks tell the outcome.
    void start(const TAudioFormat& format);
    // A recording that failed (at its header or a later block): the file is given up, and its "Stop"
    // has nothing left to report.
    void failed();
    // "Stop": the writer writes what waits and closes the file at the disk's pace. Throws EInOutError
    // when no file is open (nothing recorded since the last "Stop").
    void stop();
    // The file's writer, for the block's road and for the byte counter.
    const std::shared_ptr<QueuedFileWriter>& writer() const { return file_; }

private:
    Hooks hooks_;
    std::shared_ptr<QueuedFileWriter> file_;
    QString fileName_;
    // The writer's create() whose outcome is still awaited; 0 when none.
    uint64_t awaited_ = 0;
    // The recording failed and has been closed: its "Stop" has nothing left to report.
    bool failed_ = false;
};
