// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A real icecast2 for the relay tests, started by the test on a free port as an unprivileged user, and
// an HTTP/1.1 client of its mounts.
#include "StationHarness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <curl/curl.h>
#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <thread>

namespace vxtest {

class IcecastServer {
public:
    static constexpr const char* kPassword = "vx-source-pw";

    IcecastServer() {
        // Icecast drops root for "nobody", which then writes its logs here.
        ::chmod(QFile::encodeName(dir_.path()).constData(), 0777);
        port_ = freeTcpPort();
        const QString owner =
            ::geteuid() == 0
                ? QStringLiteral("<changeowner><user>nobody</user><group>nogroup</group></changeowner>")
                : QString();
        config_ = writeFile(
            dir_.path(), QStringLiteral("icecast.xml"),
            QStringLiteral("<icecast><location>test</location><admin>test@localhost</admin>\n"
                           "<limits><sources>4</sources></limits>\n"
                           "<authentication><source-password>%1</source-password>\n"
                           "<admin-user>admin</admin-user><admin-password>vx-admin-pw</admin-password>\n"
                           "</authentication><hostname>127.0.0.1</hostname>\n"
                           "<listen-socket><port>%2</port><bind-address>127.0.0.1</bind-address>"
                           "</listen-socket>\n"
                           "<paths><basedir>/usr/share/icecast2</basedir><logdir>%3</logdir>\n"
                           "<webroot>/usr/share/icecast2/web</webroot>"
                           "<adminroot>/usr/share/icecast2/admin</adminroot></paths>\n"
                           "<logging><accesslog>access.log</accesslog><errorlog>error.log</errorlog>"
                           "<loglevel>3</loglevel></logging>\n"
                           "<security><chroot>0</chroot>%4</security></icecast>\n")
                .arg(QLatin1String(kPassword))
                .arg(port_)
                .arg(dir_.path(), owner)
                .toUtf8());
        start();
    }

    // Starts icecast2 (again) and waits until it has started all its parts (its log says so) and
    // answers with its status page. icecast2 2.4.4 now and then dies of a null string in libc when a
    // request comes in while it starts: it is asked nothing before, and started again if it died.
    bool start() {
        const QString log = dir_.path() + QStringLiteral("/error.log");
        for (int attempt = 0; attempt < 3; ++attempt) {
            const qsizetype logged = readFile(log).size();
            process_ = std::make_unique<ChildProcess>(QStringLiteral("icecast2"), QStringList{"-c", config_});
            const bool started = waitUntil(
                [&] {
                    return process_->waitForFinished(0) ||
                           readFile(log).mid(logged).contains("YP update thread started");
                },
                10000);
            if (started && !process_->waitForFinished(0) && plainStatus().contains("icestats")) {
                return running_ = true;
            }
        }
        return running_ = false;
    }
    // What icecast2 said on its standard output and in its error log, for a failure's message.
    std::string diagnostics() const {
        if (!process_) {
            return "\nicecast2 is not running";
        }
        const bool ended = process_->waitForFinished(0);
        const QByteArray state = !ended ? "runs"
                                 : process_->normalExit()
                                     ? "exited " + QByteArray::number(process_->exitCode())
                                     : "was killed by signal " + QByteArray::number(process_->termSignal());
        return "\nicecast2 " +
               (state + ": " + process_->output() + readFile(dir_.path() + "/error.log").right(2000))
                   .toStdString();
    }
    // Kills it at once, as a crash would.
    void kill() {
        process_.reset();
        running_ = false;
    }
    bool running() const { return running_; }
    // It ended on its own (the crash that start() describes).
    bool died() const { return process_ && process_->waitForFinished(0); }
    int port() const { return port_; }
    QString target(const QString& mount, const QString& password = QLatin1String(kPassword)) const {
        return QStringLiteral("icecast://source:%1@127.0.0.1:%2%3").arg(password).arg(port_).arg(mount);
    }
    QString url(const QString& mount) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(mount);
    }

    // The mount's entry on Icecast's status page; empty while it has no source.
    QJsonObject mount(const QString& mount) const {
        const QJsonObject stats = QJsonDocument::fromJson(get(url(QStringLiteral("/status-json.xsl"))))
                                      .object()["icestats"]
                                      .toObject();
        const QJsonValue sources = stats["source"];
        const QJsonArray list = sources.isArray() ? sources.toArray() : QJsonArray{sources};
        for (const QJsonValue& source : list) {
            if (source["listenurl"].toString().endsWith(mount)) {
                return source.toObject();
            }
        }
        return {};
    }

private:
    QByteArray plainStatus() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port_));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QByteArray answer;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            const QByteArray request = "GET /status-json.xsl HTTP/1.0\r\n\r\n";
            ::send(fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL);
            readSocketUntilClosed(fd, answer, 3000);
        }
        ::close(fd);
        return answer;
    }
    static size_t append(char* data, size_t size, size_t count, void* out) {
        static_cast<QByteArray*>(out)->append(data, qsizetype(size * count));
        return size * count;
    }
    static QByteArray get(const QString& url) {
        QByteArray body;
        CURL* curl = curl_easy_init();
        const QByteArray u = url.toUtf8();
        curl_easy_setopt(curl, CURLOPT_URL, u.constData());
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 3000L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        curl_easy_perform(curl);
        curl_easy_cleanup(curl);
        return body;
    }

    QTemporaryDir dir_;
    QString config_;
    int port_ = 0;
    bool running_ = false;
    std::unique_ptr<ChildProcess> process_;
};

// A player of a mount: libcurl's HTTP/1.1 GET on a thread of its own, keeping what arrives.
class HttpStreamReader {
public:
    explicit HttpStreamReader(const QString& url) : url_(url.toUtf8()) {
        thread_ = std::thread([this] { run(); });
    }
    ~HttpStreamReader() {
        stop_ = true;
        thread_.join();
    }
    QByteArray received() const {
        std::lock_guard lock(mutex_);
        // A copy of its own: a shared one would be released outside the lock, which ThreadSanitizer
        // cannot see ordered (Qt is not instrumented).
        return QByteArray(received_.constData(), received_.size());
    }

private:
    static size_t take(char* data, size_t size, size_t count, void* self) {
        auto* reader = static_cast<HttpStreamReader*>(self);
        if (reader->stop_) {
            return 0;  // ends the transfer
        }
        std::lock_guard lock(reader->mutex_);
        reader->received_.append(data, qsizetype(size * count));
        return size * count;
    }
    static int abortWhenStopped(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<HttpStreamReader*>(self)->stop_ ? 1 : 0;
    }
    void run() {
        CURL* curl = curl_easy_init();
        curl_easy_setopt(curl, CURLOPT_URL, url_.constData());
        curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, take);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abortWhenStopped);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        curl_easy_perform(curl);
        curl_easy_cleanup(curl);
    }

    QByteArray url_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    QByteArray received_;
    std::thread thread_;
};

}  // namespace vxtest
