// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <vector>

namespace vxtest {

// A child program started with fork and exec. (QProcess starts children with a vfork-like clone that
// shares memory with the parent, and ThreadSanitizer's runtime takes what the child does for the parent:
// the next thread the parent starts makes it die.) Standard output comes through a pipe; standard error
// is the test's own.
class ChildProcess {
public:
    ChildProcess(const QString& program, const QStringList& args, const QStringList& setEnv = {},
                 const QStringList& unsetEnv = {}) {
        std::vector<QByteArray> argBytes{QFile::encodeName(program)};
        for (const QString& a : args) {
            argBytes.push_back(a.toLocal8Bit());
        }
        std::vector<QByteArray> envBytes;
        for (char** e = environ; *e != nullptr; ++e) {
            const QByteArray entry(*e);
            const QByteArray name = entry.left(entry.indexOf('='));
            bool replaced = unsetEnv.contains(QString::fromLocal8Bit(name));
            for (const QString& kv : setEnv) {
                replaced |= kv.startsWith(QString::fromLocal8Bit(name) + QLatin1Char('='));
            }
            if (!replaced) {
                envBytes.push_back(entry);
            }
        }
        for (const QString& kv : setEnv) {
            envBytes.push_back(kv.toLocal8Bit());
        }
        std::vector<char*> argv;
        argv.reserve(argBytes.size() + 1);
        for (QByteArray& a : argBytes) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        envp.reserve(envBytes.size() + 1);
        for (QByteArray& e : envBytes) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::execvpe(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
        ::fcntl(out_, F_SETFL, O_NONBLOCK);
    }
    ~ChildProcess() {
        if (pid_ > 0 && !finished_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // What the child has written to its standard output since the last call.
    QByteArray readOutput() {
        QByteArray got;
        char buffer[65536];
        ssize_t n = 0;
        while (out_ >= 0 && (n = ::read(out_, buffer, sizeof buffer)) > 0) {
            got.append(buffer, n);
        }
        output_ += got;
        return got;
    }
    // Everything it wrote so far.
    const QByteArray& output() {
        readOutput();
        return output_;
    }
    // Waits (running the event loop) until the child has ended.
    bool waitForFinished(int timeoutMs = 10000) {
        return waitUntil(
            [&] {
                readOutput();
                if (!finished_ && pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_) {
                    finished_ = true;
                }
                return finished_;
            },
            timeoutMs);
    }
    bool normalExit() const { return finished_ && WIFEXITED(status_); }
    int exitCode() const { return normalExit() ? WEXITSTATUS(status_) : -1; }
    int termSignal() const { return finished_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0; }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
    bool finished_ = false;
    QByteArray output_;
};

}  // namespace vxtest
