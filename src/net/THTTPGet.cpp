// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/THTTPGet.h"

#include "platform/Ansi.h"
#include "platform/Posting.h"
#include "platform/ThreadSafety.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>

// What the request thread and the window thread share: the abort flag and the multi handle that the
// abort wakes, so that a waiting transfer notices at once instead of at its next timeout; and the
// outcome and progress figures, handed over under the lock rather than inside the posted calls.
struct THTTPGet::Shared {
    vx::Mutex mutex;
    bool abort GUARDED_BY(mutex) = false;
    CURLM* multi GUARDED_BY(mutex) = nullptr;
    bool success GUARDED_BY(mutex) = false;
    QByteArray body GUARDED_BY(mutex);
    int64_t total GUARDED_BY(mutex) = 0;
    int64_t count GUARDED_BY(mutex) = 0;
    // A progress notice is on its way; later chunks only update the figures.
    bool progressPending GUARDED_BY(mutex) = false;
    // This request's answer (or failure text), set on the creating thread when it ends: a request made
    // during the wait (a stop's report) must not hand its answer to the one that waited.
    QString result;

    bool aborted() {
        vx::MutexLock lock(mutex);
        return abort;
    }
};

namespace {

// A copy of the component's properties, taken when the request starts.
struct Settings {
    QString url;
    QByteArray agent;
    QByteArray acceptTypes;
    QByteArray userName;
    QByteArray password;
    QByteArray postQuery;
    QByteArray referer;
    bool binaryData = false;
    bool useCache = false;
    int64_t maxAnswerBytes = 0;
    int timeoutMs = 0;
};

// Where the request goes: the base URL handed to libcurl ("http://host:port/") and the request target.
struct Endpoint {
    QByteArray baseUrl;
    QByteArray target;
};

bool isHostNameChar(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
           c == QLatin1Char('.') || c == QLatin1Char('_');
}

bool isIpv6Char(QChar c) {
    return c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f')) ||
           c == QLatin1Char(':') || c == QLatin1Char('.');
}

// Splits the URL as the directory expects: an "http://" anywhere means the first seven characters go;
// the host is what stands before the first "/", the path the rest, query included. A port written after
// the host is honoured. Anything libcurl might read differently than a plain host name (user info, a
// stray "?") makes the request fail rather than go somewhere else.
std::optional<Endpoint> splitUrl(QString url) {
    if (url.toLower().contains(QLatin1String("http://"))) {
        url.remove(0, 7);
    }
    const qsizetype slash = url.indexOf(QLatin1Char('/'));
    if (slash <= 0) {
        return std::nullopt;  // no host
    }
    const QString hostPort = url.left(slash);
    const QString path = url.mid(slash);

    QString host;
    QString port = QStringLiteral("80");
    if (hostPort.startsWith(QLatin1Char('['))) {
        const qsizetype close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 2) {
            return std::nullopt;
        }
        host = hostPort.left(close + 1);
        for (qsizetype i = 1; i < close; ++i) {
            if (!isIpv6Char(host.at(i))) {
                return std::nullopt;
            }
        }
        const QString rest = hostPort.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':'))) {
                return std::nullopt;
            }
            port = rest.mid(1);
        }
    } else {
        const qsizetype colon = hostPort.indexOf(QLatin1Char(':'));
        host = colon < 0 ? hostPort : hostPort.left(colon);
        if (colon >= 0) {
            port = hostPort.mid(colon + 1);
        }
        if (host.isEmpty()) {
            return std::nullopt;
        }
        for (QChar c : host) {
            if (!isHostNameChar(c)) {
                return std::nullopt;
            }
        }
    }
    bool ok = false;
    const uint number = port.toUInt(&ok, 10);
    if (!ok || number == 0 || number > 65535 || port.startsWith(QLatin1Char('+'))) {
        return std::nullopt;
    }
    Endpoint endpoint;
    endpoint.baseUrl = "http://" + host.toLatin1() + ':' + QByteArray::number(number) + '/';
    endpoint.target = THTTPGet::requestTarget(path);
    return endpoint;
}

struct Transfer {
    THTTPGet::Shared* shared = nullptr;
    CURL* easy = nullptr;
    bool binaryData = false;
    int64_t maxAnswerBytes = 0;
    bool failed = false;  // a binary answer without a length, one beyond the bound, or out of time
    bool checkedLength = false;
    QByteArray body;
    std::function<void(int64_t total, int64_t count)> progress;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (t->shared->aborted()) {
        return CURL_WRITEFUNC_ERROR;
    }
    curl_off_t length = -1;
    curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (!t->checkedLength) {
        t->checkedLength = true;
        if ((length < 0 && t->binaryData) || (t->maxAnswerBytes > 0 && length > t->maxAnswerBytes)) {
            t->failed = true;
            return CURL_WRITEFUNC_ERROR;
        }
    }
    // Checked before the bytes are kept: an endless answer costs no more memory than the bound.
    if (t->maxAnswerBytes > 0 && t->body.size() + int64_t(bytes) > t->maxAnswerBytes) {
        t->failed = true;
        return CURL_WRITEFUNC_ERROR;
    }
    t->body.append(data, qsizetype(bytes));
    if (t->progress) {
        t->progress(length < 0 ? 0 : int64_t(length), t->body.size());
    }
    return bytes;
}

// Runs one transfer on the multi handle until it ends or the abort flag is raised.
CURLcode runTransfer(CURLM* multi, CURL* easy, THTTPGet::Shared& shared) {
    CURLcode result = CURLE_OK;
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        return CURLE_FAILED_INIT;
    }
    for (;;) {
        if (shared.aborted()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
                if (msg->msg == CURLMSG_DONE) {
                    result = msg->data.result;
                }
            }
            break;
        }
        curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    curl_multi_remove_handle(multi, easy);
    return result;
}

// The libcurl handles of one request, freed together however the request ends.
struct CurlRequest {
    CURLM* multi = curl_multi_init();
    CURL* easy = curl_easy_init();
    curl_slist* headers = nullptr;

    CurlRequest() = default;
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;
    ~CurlRequest() {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
    }
};

curl_slist* requestHeaders(const Settings& s) {
    curl_slist* headers = nullptr;
    if (!s.acceptTypes.isEmpty()) {
        headers = curl_slist_append(headers, ("Accept: " + s.acceptTypes).constData());
    } else {
        headers = curl_slist_append(headers, "Accept:");
    }
    if (!s.useCache) {
        headers = curl_slist_append(headers, "Pragma: no-cache");
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
    }
    if (!s.postQuery.isEmpty()) {
        headers = curl_slist_append(headers, "Content-Type: application/x-www-form-urlencoded");
    }
    return headers;
}

void setRequestOptions(const Settings& s, const Endpoint& endpoint, CurlRequest& r, Transfer& t) {
    CURL* easy = r.easy;
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);  // an abort never waits for a name lookup
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, r.headers);
    // A dead directory must end the request eventually, or every later request would be dropped.
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    if (!s.agent.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_USERAGENT, s.agent.constData());
    }
    if (!s.referer.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_REFERER, s.referer.constData());
    }
    if (!s.userName.isEmpty() || !s.password.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(easy, CURLOPT_USERNAME, s.userName.constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, s.password.constData());
    }
    if (!s.postQuery.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, long(s.postQuery.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, s.postQuery.constData());
    }
    // The target goes out as built, so that "#" and "&" in typed values reach the server unchanged.
    curl_easy_setopt(easy, CURLOPT_URL, endpoint.baseUrl.constData());
    curl_easy_setopt(easy, CURLOPT_REQUEST_TARGET, endpoint.target.constData());
}

// The transfers of one request: the first, then each redirect, followed by hand (at most five), since
// libcurl would keep sending the fixed target to the new place.
void followRedirects(const Settings& s, CurlRequest& r, THTTPGet::Shared& shared, Transfer& t) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(s.timeoutMs);
    QByteArray location;
    for (int hop = 0;; ++hop) {
        if (s.timeoutMs > 0) {
            // One deadline for the whole request: each hop gets only what is left of it.
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                t.failed = true;
                return;
            }
            curl_easy_setopt(r.easy, CURLOPT_TIMEOUT_MS, long(left.count()));
        }
        // A transfer that ran out of time is a failure even when part of the answer was in.
        if (runTransfer(r.multi, r.easy, shared) == CURLE_OPERATION_TIMEDOUT) {
            t.failed = true;
        }
        long status = 0;
        char* next = nullptr;
        curl_easy_getinfo(r.easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(r.easy, CURLINFO_REDIRECT_URL, &next);
        if (hop >= 5 || shared.aborted() || t.failed || status < 300 || status > 399 || next == nullptr) {
            return;
        }
        location = next;
        t.body.clear();
        t.checkedLength = false;
        curl_easy_setopt(r.easy, CURLOPT_URL, location.constData());
        curl_easy_setopt(r.easy, CURLOPT_REQUEST_TARGET, nullptr);
        if (status != 307 && status != 308) {
            curl_easy_setopt(r.easy, CURLOPT_HTTPGET, 1L);
        }
    }
}

// The whole request on the request thread. Success is at least one body byte; the status code is the
// caller's business, so an error page is an answer like any other.
bool perform(const Settings& s, THTTPGet::Shared& shared, Transfer& t) {
    const std::optional<Endpoint> endpoint = splitUrl(s.url);
    if (!endpoint) {
        return false;
    }
    CurlRequest r;
    if (r.multi == nullptr || r.easy == nullptr) {
        return false;
    }
    {
        vx::MutexLock lock(shared.mutex);
        shared.multi = r.multi;  // from now on an abort wakes the transfer
    }
    r.headers = requestHeaders(s);
    t.shared = &shared;
    t.easy = r.easy;
    t.binaryData = s.binaryData;
    t.maxAnswerBytes = s.maxAnswerBytes;
    setRequestOptions(s, *endpoint, r, t);
    followRedirects(s, r, shared, t);
    {
        vx::MutexLock lock(shared.mutex);
        shared.multi = nullptr;  // before the handle goes
    }
    return !shared.aborted() && !t.failed && !t.body.isEmpty();
}

// The component's properties as the request thread gets them.
Settings settingsOf(const THTTPGet& g) {
    Settings s;
    s.url = g.URL;
    s.agent = vx::toAnsi(g.Agent);
    s.acceptTypes = vx::toAnsi(g.AcceptTypes);
    s.userName = vx::toAnsi(g.UserName);
    s.password = vx::toAnsi(g.Password);
    s.postQuery = vx::toAnsi(g.PostQuery);
    s.referer = vx::toAnsi(g.Referer);
    s.binaryData = g.BinaryData;
    s.useCache = g.UseCache;
    s.maxAnswerBytes = g.MaxAnswerBytes;
    s.timeoutMs = g.TimeoutMs;
    return s;
}

}  // namespace

QByteArray THTTPGet::requestTarget(const QString& path) {
    static const char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char ch : vx::toAnsi(path)) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte <= 0x20 || byte >= 0x7F) {
            out.append('%');
            out.append(kHex[byte >> 4]);
            out.append(kHex[byte & 0x0F]);
        } else {
            out.append(ch);
        }
    }
    return out;
}

THTTPGet::THTTPGet() : context_(std::make_unique<QObject>()) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

THTTPGet::~THTTPGet() {
    *alive_ = false;
    if (waitLoop_ != nullptr) {
        waitLoop_->quit();
    }
    AbortRequest();
    joinThread();
    context_.reset();  // drops a result still queued for this component
}

void THTTPGet::joinThread() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void THTTPGet::StartRequest() {
    startRequest();
}

bool THTTPGet::startRequest(std::shared_ptr<Shared>* started) {
    if (running_) {
        return true;
    }
    joinThread();
    running_ = true;
    success_ = false;

    const Settings s = settingsOf(*this);
    auto request = std::make_shared<Shared>();
    request_ = request;
    if (started != nullptr) {
        *started = request;
    }
    QObject* context = context_.get();
    const bool reportProgress = bool(OnProgress);
    // The thread posts to context_ only while this component lives: the destructor joins it first. The
    // posted calls capture nothing but this, so the request thread builds them inside postTo alone.
    thread_ = std::thread([this, s, request, context, reportProgress] {
        Transfer t;
        if (reportProgress) {
            t.progress = [this, context, &request](int64_t total, int64_t count) {
                vx::MutexLock lock(request->mutex);
                request->total = total;
                request->count = count;
                if (!request->progressPending) {
                    request->progressPending = true;
                    vx::postTo(context, [this] { Progress(); });
                }
            };
        }
        const bool success = perform(s, *request, t);
        {
            vx::MutexLock lock(request->mutex);
            request->success = success;
            request->body = std::move(t.body);
        }
        vx::postTo(context, [this] { RequestDone(); });
    });

    return !WaitThread || waitForAnswer();
}

bool THTTPGet::waitForAnswer() {
    QEventLoop loop;
    waitLoop_ = &loop;
    const std::shared_ptr<bool> alive = alive_;
    loop.exec();
    if (!*alive) {
        return false;
    }
    waitLoop_ = nullptr;
    return true;
}

QString THTTPGet::FetchText(const QString& failureText) {
    failureText_ = failureText;
    const bool saved = WaitThread;
    WaitThread = true;
    std::shared_ptr<Shared> mine;
    if (!startRequest(&mine)) {
        return failureText;
    }
    WaitThread = saved;
    return mine ? mine->result : ResultString_;  // none started: one was running
}

bool THTTPGet::WaitUntilIdle(int timeoutMs) {
    if (!running_) {
        return true;
    }
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(std::max(timeoutMs, 0));
    idleLoops_.push_back(&loop);
    const std::shared_ptr<bool> alive = alive_;
    loop.exec();
    if (!*alive) {
        return false;
    }
    idleLoops_.erase(std::find(idleLoops_.begin(), idleLoops_.end(), &loop));
    return !running_;
}

void THTTPGet::AbortRequest() {
    if (!running_ || !request_) {
        return;
    }
    vx::MutexLock lock(request_->mutex);
    request_->abort = true;
    if (request_->multi != nullptr) {
        curl_multi_wakeup(request_->multi);
    }
}

void THTTPGet::Progress() {
    if (!request_ || !OnProgress) {
        return;
    }
    int64_t total = 0;
    int64_t count = 0;
    {
        vx::MutexLock lock(request_->mutex);
        total = request_->total;
        count = request_->count;
        request_->progressPending = false;
    }
    OnProgress(this, total, count);
}

void THTTPGet::RequestDone() {
    joinThread();
    const std::shared_ptr<Shared> request = request_;
    // Idle again and the waiting call released even when an event handler throws.
    struct Finish {
        THTTPGet* self;
        ~Finish() {
            self->running_ = false;
            self->request_.reset();
            if (self->waitLoop_ != nullptr) {
                self->waitLoop_->quit();
            }
            for (QEventLoop* idle : self->idleLoops_) {
                idle->quit();
            }
        }
    } finish{this};
    QByteArray body;
    {
        vx::MutexLock lock(request->mutex);
        success_ = request->success && !request->abort;
        body = std::move(request->body);
    }
    if (success_) {
        ResultString_ = vx::fromAnsi(body);
        request->result = ResultString_;
        if (OnDoneString) {
            OnDoneString(this, ResultString_);
        }
    } else {
        ResultString_ = failureText_;
        request->result = ResultString_;
        if (OnError) {
            OnError(this);
        }
    }
}
