// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/IcecastRelay.h"

#include "platform/ScopeGuard.h"
#include "platform/StationConstants.h"

#include <QByteArray>
#include <QUrl>

#include <curl/curl.h>
#include <shout/shout.h>

#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kFirstRetry = std::chrono::milliseconds(1000);
constexpr auto kLongestRetry = std::chrono::milliseconds(30000);
// A server that takes the connection but never answers the source request.
constexpr auto kAnswerTimeout = std::chrono::milliseconds(10000);
// How often a connection under way, or a send the socket could not take whole, is looked at again.
constexpr auto kPoll = std::chrono::milliseconds(20);
constexpr int kQueueSeconds = 10;
constexpr std::size_t kQueueFallback = 64 * 1024;  // a format that states no byte rate
constexpr const char* kAgent = vx::kStationTitle;

void initLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        shout_init();
        curl_global_init(CURL_GLOBAL_DEFAULT);
    });
}

QString hostForUrl(const QString& host) {
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

// A copy that shares no data with the original. Text handed between threads is copied whole: the last
// reference to shared data may be dropped inside Qt, whose reference counts the race checker cannot see.
QString detached(const QString& text) {
    return QString(text.constData(), text.size());
}

// The first line of a server's answer body, cut to a length fit for a status line.
QString firstLine(const QByteArray& body) {
    QString line = QString::fromUtf8(body.trimmed()).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (line.size() > 160) {
        line = line.left(160) + QStringLiteral("...");
    }
    return line;
}

// libshout says only "Socket error" where the system knows why.
QString systemReason(int error, shout_t* s) {
    return QString::fromLocal8Bit(error != 0 ? std::strerror(error) : shout_get_error(s));
}

// Why the host name cannot be resolved; empty when it can.
QString unresolvable(const QString& host) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found);
    if (rc == 0) {
        ::freeaddrinfo(found);
        return {};
    }
    return QString::fromLocal8Bit(rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc));
}

// Everything libshout says to the server before the stream: where, who, the protocol, and the ice-*
// headers, which Icecast reads as ISO-8859-1.
void describeSource(shout_t* s, const IcecastTarget& target, const IcecastRelay::StreamInfo& info) {
    shout_set_host(s, target.host.toUtf8().constData());  // libshout keeps copies of every text
    shout_set_port(s, static_cast<unsigned short>(target.port));
    shout_set_user(s, target.user.toUtf8().constData());
    shout_set_password(s, target.password.toUtf8().constData());
    shout_set_mount(s, target.mount.toUtf8().constData());
    shout_set_agent(s, kAgent);
    shout_set_protocol(s, SHOUT_PROTOCOL_HTTP);
    shout_set_content_format(s, SHOUT_FORMAT_MP3, SHOUT_USAGE_AUDIO, nullptr);
    shout_set_public(s, 0);
    if (!info.name.isEmpty()) {
        shout_set_meta(s, SHOUT_META_NAME, info.name.toLatin1().constData());
    }
    if (!info.description.isEmpty()) {
        shout_set_meta(s, SHOUT_META_DESCRIPTION, info.description.toLatin1().constData());
    }
    if (info.bytesPerSecond > 0) {
        const QByteArray bitrate = QByteArray::number((info.bytesPerSecond * 8 + 500) / 1000);
        shout_set_audio_info(s, SHOUT_AI_BITRATE, bitrate.constData());
    }
    if (info.sampleRate > 0) {
        shout_set_audio_info(s, SHOUT_AI_SAMPLERATE, QByteArray::number(info.sampleRate).constData());
    }
    if (info.channels > 0) {
        shout_set_audio_info(s, SHOUT_AI_CHANNELS, QByteArray::number(info.channels).constData());
    }
    shout_set_nonblocking(s, SHOUT_BLOCKING_NONE);
}

// A plain TCP connection to the target's server; -1 when there is none.
int connectPlain(const IcecastTarget& target) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(target.host.toUtf8().constData(), QByteArray::number(target.port).constData(), &hints,
                      &found) != 0) {
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    return fd;
}

// Sends the request and reads the start of the answer: at most 8 KiB, for at most 3 s, less once the
// server has said yes or the relay stops.
QByteArray askOnce(int fd, const QByteArray& request, const std::atomic<bool>& stop) {
    QByteArray answer;
    const auto deadline = Clock::now() + 3s;
    if (::send(fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL) != request.size()) {
        return answer;
    }
    char buffer[4096];
    while (answer.size() < 8192 && !stop && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        answer.append(buffer, n);
        if (answer.startsWith("HTTP/") && answer.mid(9, 1) == "2") {
            break;  // taken after all: give the mount back at once
        }
    }
    return answer;
}

}  // namespace

IcecastRelay::IcecastRelay(IcecastTarget target) : target_(std::move(target)) {
    initLibraries();
}

IcecastRelay::~IcecastRelay() {
    stop();
    // libshout 2.4.6 frees a handle only while it is connected (and then leaks the connection), so a
    // relay keeps one handle for all its connections and hands it back once: freed where libshout
    // frees it, otherwise left behind, one per relay for the program's life.
    if (shout_ != nullptr) {
        shout_free(shout_);
    }
}

void IcecastRelay::start(const StreamInfo& info) {
    stop();
    {
        vx::MutexLock lock(mutex_);
        stop_ = false;
        running_ = true;
        limit_ = info.bytesPerSecond > 0 ? std::size_t(info.bytesPerSecond) * kQueueSeconds : kQueueFallback;
        title_ = detached(info.title);
        titleChanged_ = false;
        status_ = {};
    }
    stopFlag_ = false;
    dropped_ = 0;
    sent_ = 0;
    attempts_ = 0;
    StreamInfo own = info;
    own.name = detached(info.name);
    own.description = detached(info.description);
    own.title = detached(info.title);
    thread_ = std::thread([this, own] { run(own); });
}

void IcecastRelay::stop() {
    {
        vx::MutexLock lock(mutex_);
        stop_ = true;
        running_ = false;
        queue_.clear();
        queuedBytes_ = 0;
    }
    stopFlag_ = true;
    changed_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void IcecastRelay::setTitle(const QString& title) {
    vx::MutexLock lock(mutex_);
    title_ = detached(title);
    titleChanged_ = true;
    changed_.notify_all();
}

void IcecastRelay::write(const char* data, int size) {
    if (size <= 0) {
        return;
    }
    vx::MutexLock lock(mutex_);
    if (!running_) {
        return;
    }
    queue_.emplace_back(data, std::size_t(size));
    queuedBytes_ += std::size_t(size);
    while (queuedBytes_ > limit_ && queue_.size() > 1) {
        queuedBytes_ -= queue_.front().size();
        queue_.pop_front();
        ++dropped_;
    }
    changed_.notify_all();
}

IcecastRelay::Status IcecastRelay::status() const {
    vx::MutexLock lock(mutex_);
    return {status_.state, detached(status_.reason)};
}

std::size_t IcecastRelay::queuedBytes() const {
    vx::MutexLock lock(mutex_);
    return queuedBytes_;
}

std::size_t IcecastRelay::queueLimit() const {
    vx::MutexLock lock(mutex_);
    return limit_;
}

bool IcecastRelay::stopping() const {
    vx::MutexLock lock(mutex_);
    return stop_;
}

bool IcecastRelay::pause(std::chrono::milliseconds ms) {
    const auto until = std::chrono::steady_clock::now() + ms;
    vx::MutexLock lock(mutex_);
    while (!stop_ && lock.waitUntil(changed_, until)) {
    }
    return stop_;
}

void IcecastRelay::report(State state, const QString& reason) {
    const Status next{state, reason};
    {
        vx::MutexLock lock(mutex_);
        if (status_ == next) {
            return;
        }
        status_ = {state, detached(reason)};
    }
    if (OnStatus) {
        OnStatus(next);
    }
}

void IcecastRelay::run(StreamInfo info) {
    // A send to a server that has gone raises SIGPIPE on this thread unless the process ignores it;
    // blocked here, the signal stays pending and is dropped with the thread.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    pthread_setname_np(pthread_self(), "icecast-relay");  // what it costs shows per thread in /proc

    auto delay = kFirstRetry;
    report(State::Connecting);
    while (!stopping()) {
        ++attempts_;
        const Outcome outcome = session(info);
        if (stopping()) {
            break;
        }
        if (outcome.reachedAir) {
            delay = kFirstRetry;
        }
        report(State::Error, outcome.reason);
        // A refusal stays a refusal until someone changes the server or the target: no quick retries.
        if (pause(outcome.refused ? kLongestRetry : delay)) {
            break;
        }
        if (!outcome.refused) {
            delay = std::min(delay * 2, kLongestRetry);
        }
    }
    report(State::Stopped);
}

IcecastRelay::Outcome IcecastRelay::session(const StreamInfo& info) {
    Outcome out;
    if (!info.mpegLayer3) {
        out.refused = true;
        out.reason = QStringLiteral("the stream is not MPEG Layer-3, which is what Icecast carries");
        return out;
    }
    if (shout_ == nullptr) {
        shout_ = shout_new();
    }
    shout_t* const s = shout_;
    if (s == nullptr) {
        out.reason = QStringLiteral("out of memory");
        return out;
    }
    // Every way out of the session closes its connection; the handle serves the next one.
    const vx::ScopeGuard closer([s] { shout_close(s); });
    describeSource(s, target_, info);
    if (!connectSource(s, out)) {
        return out;
    }
    out.reachedAir = true;
    report(State::OnAir);
    carryBlocks(s, out);
    return out;
}

bool IcecastRelay::connectSource(shout_t* s, Outcome& out) {
    errno = 0;
    int rc = shout_open(s);
    int error = errno;
    const auto deadline = Clock::now() + kAnswerTimeout;
    while (rc == SHOUTERR_BUSY || rc == SHOUTERR_RETRY || rc == SHOUTERR_UNCONNECTED) {
        if (pause(kPoll)) {
            return false;
        }
        if (Clock::now() > deadline) {
            out.reason = QStringLiteral("no answer from %1:%2 within %3 s")
                             .arg(hostForUrl(target_.host))
                             .arg(target_.port)
                             .arg(std::chrono::duration_cast<std::chrono::seconds>(kAnswerTimeout).count());
            return false;
        }
        errno = 0;
        rc = shout_get_connected(s);
        error = errno;
    }
    if (rc == SHOUTERR_CONNECTED || rc == SHOUTERR_SUCCESS) {
        return true;
    }
    if (rc == SHOUTERR_NOLOGIN) {
        out.refused = true;
        out.reason = refusalReason();
    } else if (const QString unknown = unresolvable(target_.host); !unknown.isEmpty()) {
        // libshout leaves errno as its last attempt left it, which says "Invalid argument" here.
        out.reason = QStringLiteral("the name %1 could not be resolved (%2)").arg(target_.host, unknown);
    } else {
        out.reason = QStringLiteral("cannot connect to %1:%2 (%3)")
                         .arg(hostForUrl(target_.host))
                         .arg(target_.port)
                         .arg(systemReason(rc == SHOUTERR_SOCKET || rc == SHOUTERR_NOCONNECT ? error : 0, s));
    }
    return false;
}

void IcecastRelay::carryBlocks(shout_t* s, Outcome& out) {
    bool titleDue = true;  // a new source connection starts without a title
    for (;;) {
        sendTitleIfDue(titleDue);
        // libshout keeps what the socket did not take; hand it nothing more until that has gone, so
        // that the bounded queue here is the only place blocks wait.
        if (shout_queuelen(s) > 0) {
            errno = 0;
            const ssize_t flushed = shout_send_raw(s, nullptr, 0);
            if (flushed < 0 && flushed != SHOUTERR_BUSY) {
                out.reason = QStringLiteral("connection lost (%1)").arg(systemReason(errno, s));
                return;
            }
            if (shout_queuelen(s) > 0) {
                if (pause(kPoll)) {
                    return;
                }
                continue;
            }
        }
        std::string block;
        if (!takeBlock(block)) {
            return;
        }
        if (block.empty()) {
            continue;  // woken for a title
        }
        // Raw: Icecast gets exactly the bytes every listener gets. libshout's MP3 parsing only times the
        // sending of a file, which a live stream does not need, and it would hold back a frame cut at a
        // block's end.
        errno = 0;
        const ssize_t taken =
            shout_send_raw(s, reinterpret_cast<const unsigned char*>(block.data()), block.size());
        if (taken < 0 && taken != SHOUTERR_BUSY) {
            out.reason = QStringLiteral("connection lost (%1)").arg(systemReason(errno, s));
            return;
        }
        ++sent_;
    }
}

void IcecastRelay::sendTitleIfDue(bool& titleDue) {
    QString title;
    {
        vx::MutexLock lock(mutex_);
        titleDue |= titleChanged_;
        titleChanged_ = false;
        title = detached(title_);
    }
    if (titleDue) {
        titleDue = false;
        report(State::OnAir, title.isEmpty() ? QString() : sendTitle(title));
    }
}

bool IcecastRelay::takeBlock(std::string& block) {
    vx::MutexLock lock(mutex_);
    while (!stop_ && !titleChanged_ && queue_.empty()) {
        lock.wait(changed_);
    }
    if (stop_) {
        return false;
    }
    if (!queue_.empty()) {
        block = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= block.size();
    }
    return true;
}

// libshout answers every refusal with "Login failed". The server's own reason (a wrong password, a
// mount in use, too many sources) comes from asking once more on a plain connection.
QString IcecastRelay::refusalReason() const {
    const QString fallback = QStringLiteral("the server refused the source login");
    const int fd = connectPlain(target_);
    if (fd < 0) {
        return fallback;
    }
    const QByteArray credentials = (target_.user + QLatin1Char(':') + target_.password).toUtf8().toBase64();
    const QByteArray request = "SOURCE " + QUrl::toPercentEncoding(target_.mount, "/") +
                               " HTTP/1.0\r\nAuthorization: Basic " + credentials +
                               "\r\nUser-Agent: " + kAgent + "\r\nContent-Type: audio/mpeg\r\n\r\n";
    const QByteArray answer = askOnce(fd, request, stopFlag_);
    ::close(fd);
    const qsizetype lineEnd = answer.indexOf("\r\n");
    if (!answer.startsWith("HTTP/") || lineEnd < 0) {
        return fallback;
    }
    const QString statusText =
        QString::fromLatin1(answer.left(lineEnd)).section(QLatin1Char(' '), 1).trimmed();
    const qsizetype headerEnd = answer.indexOf("\r\n\r\n");
    const QString body = headerEnd < 0 ? QString() : firstLine(answer.mid(headerEnd + 4));
    if (statusText.startsWith(QLatin1Char('2'))) {
        return fallback;
    }
    if (statusText.startsWith(QStringLiteral("401"))) {
        return QStringLiteral("wrong user name or password (%1)").arg(statusText);
    }
    return body.isEmpty() ? QStringLiteral("refused (%1)").arg(statusText)
                          : QStringLiteral("refused: %1 (%2)").arg(body, statusText);
}

namespace {

size_t collectBody(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<QByteArray*>(user);
    if (body->size() < 65536) {
        body->append(data, qsizetype(size * count));
    }
    return size * count;
}

int abortWhenStopping(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

}  // namespace

// The title goes to Icecast's metadata request through libcurl rather than libshout, whose metadata
// call waits without a time limit for the server's answer: the relay's thread has to stay stoppable.
// Returns an empty text when the server took it, else why not.
QString IcecastRelay::sendTitle(const QString& title) const {
    const QByteArray url = "http://" + hostForUrl(target_.host).toUtf8() + ':' +
                           QByteArray::number(target_.port) +
                           "/admin/metadata?mode=updinfo&mount=" + QUrl::toPercentEncoding(target_.mount) +
                           "&song=" + QUrl::toPercentEncoding(title) + "&charset=UTF-8";
    const QByteArray user = target_.user.toUtf8();
    const QByteArray password = target_.password.toUtf8();
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        return QStringLiteral("the info text was not sent (out of memory)");
    }
    QByteArray body;
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kAgent);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 3000L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abortWhenStopping);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &stopFlag_);
    const CURLcode result = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK) {
        return QStringLiteral("the info text was not sent (%1)")
            .arg(QString::fromUtf8(curl_easy_strerror(result)));
    }
    if (code != 200 || !body.contains("<return>1</return>")) {
        return QStringLiteral("the server did not take the info text (HTTP %1)").arg(code);
    }
    return {};
}
