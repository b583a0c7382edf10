// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/UserDialogs.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <csignal>
#include <deque>
#include <functional>
#include <optional>
#include <string>

namespace vxtest {

// While it lives, no file of this process grows beyond `bytes`: a disk that fills up during a write.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

// Dialogs that record what the station would have shown and answer file dialogs from a queue.
class RecordingDialogs : public UserDialogs {
public:
    void showMessage(const QString& caption, const QString& text) override {
        captions.append(caption);
        messages.append(text);
    }
    QString getSaveFileName(const QString&, const QString&, const QString&) override { return nextFile(); }
    QString getOpenFileName(const QString&, const QString&) override { return nextFile(); }
    // Answers the audio format choice from formatAnswers (empty queue: cancelled) and records where the
    // dialog started.
    std::optional<TAudioFormat> chooseAudioFormat(
        const TAudioFormat& current, const std::vector<vx::acm::FormatChoice>& offered) override {
        formatStarts.push_back(current);
        offeredCount = int(offered.size());
        if (formatAnswers.empty()) {
            return std::nullopt;
        }
        std::optional<TAudioFormat> answer = formatAnswers.front();
        formatAnswers.pop_front();
        return answer;
    }

    QStringList captions;
    QStringList messages;
    QStringList fileAnswers;
    std::deque<std::optional<TAudioFormat>> formatAnswers;
    std::vector<TAudioFormat> formatStarts;
    int offeredCount = 0;

private:
    QString nextFile() { return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst(); }
};

// Processes events until pred() holds or the deadline passes; returns pred(). Tests wait on events
// with this, never on fixed sleeps.
inline bool waitUntil(const std::function<bool()>& pred, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired()) {
            return pred();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Writes bytes to dir/name; returns the path.
QString writeFile(const QString& dir, const QString& name, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// A TCP port nothing listens on at the moment (on every local IPv4 address, as the station binds). It is
// taken below the kernel's range for outgoing connections: a port from that range can be handed to one of
// the many client sockets of a test before the station binds it ("Address already in use").
int freeTcpPort();

// True when something accepts a TCP connection on address:port now.
bool accepts(int port, const char* address = "127.0.0.1");

// The environment for the station's executable as a test starts it: no display (the station runs
// headless), no locale (its own language, whatever the test runs in), no systemd notification socket.
QProcessEnvironment headlessEnvironment();

// The text of the E that `f` throws; `none` when it throws none. Any other exception escapes to the test.
template <class E>
std::string failureOf(const std::function<void()>& f, const std::string& none = {}) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return none;
}

}  // namespace vxtest
