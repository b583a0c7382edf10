// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QEventLoop;
class QObject;

// Fetches one URL over HTTP/1.0 on a thread of its own (libcurl) and hands the body back as text on the
// thread that created the component. At most one request runs at a time; a request asked for while one
// runs is dropped, not queued.
// Thread contract: every member is used on the creating (window) thread only; the request thread sees a
// copy of the properties taken when the request starts.
class THTTPGet {
public:
    THTTPGet();
    ~THTTPGet();  // aborts a running request and waits only as long as the transfer takes to notice
    THTTPGet(const THTTPGet&) = delete;
    THTTPGet& operator=(const THTTPGet&) = delete;

    // --- Properties, read when a request starts -----------------------------------------------------------
    QString AcceptTypes = QStringLiteral("*/*");  // value of the Accept header; empty: no Accept header
    QString Agent;                                // User-Agent; empty: none
    bool BinaryData = false;  // the answer must carry a Content-Length, or the request fails
    bool UseCache = false;    // false: the request asks every cache on the way for a fresh answer
    bool WaitThread = false;  // StartRequest returns only once the answer is in
    QString UserName;
    QString Password;
    QString PostQuery;  // form data; not empty: the request is a POST carrying it
    QString Referer;
    QString FileName;  // file mode target; the station does not use the file mode
    QString URL;
    // An answer longer than this many bytes is a failed request, and reading stops there; 0: no bound.
    int64_t MaxAnswerBytes = 0;
    // The whole request, redirects included, ends failed after this many milliseconds; 0: no deadline.
    int TimeoutMs = 0;

    // The body of the last answer, or the failure text when the last request failed.
    QString ResultString() const { return ResultString_; }
    bool Running() const { return running_; }

    // Starts a request for URL unless one is running. With WaitThread it returns once the request has
    // ended, dispatching the thread's events in the meantime (timers, clicks and sockets keep working).
    void StartRequest();
    // Runs StartRequest waiting for the answer and returns ResultString; failureText is what a failed
    // request yields. While a request runs it returns the earlier ResultString at once.
    QString FetchText(const QString& failureText);
    // Asks the running request to stop; it ends failed.
    void AbortRequest();
    // Waits, dispatching the thread's events, until no request runs or timeoutMs have passed; true when
    // none runs. For a request that must follow one still on its way rather than be dropped.
    bool WaitUntilIdle(int timeoutMs);

    // Raised on the creating thread; none is needed by the station itself. Progress notices are
    // coalesced: each reports the figures of the newest chunk read when it is delivered.
    std::function<void(THTTPGet* Sender, const QString& Result)> OnDoneString;
    std::function<void(THTTPGet* Sender)> OnError;
    std::function<void(THTTPGet* Sender, int64_t TotalSize, int64_t Readed)> OnProgress;

    // The request line target for a path: the text as typed, in the ANSI code page, with only the bytes
    // that cannot stand in an HTTP request line (blank, control characters, bytes above 0x7F)
    // percent-encoded. "&", "#", "%", "?" and "=" go out as they are.
    static QByteArray requestTarget(const QString& path);

    struct Shared;

private:
    // False when the component was destroyed during the wait; *started: the request begun, if one was.
    bool startRequest(std::shared_ptr<Shared>* started = nullptr);
    bool waitForAnswer();  // the same
    void RequestDone();
    void Progress();
    void joinThread();

    QString ResultString_;
    QString failureText_;
    bool success_ = false;
    bool running_ = false;
    // Lives on the creating thread; the request's results are queued to it and die with it.
    std::unique_ptr<QObject> context_;
    std::thread thread_;
    std::shared_ptr<Shared> request_;
    QEventLoop* waitLoop_ = nullptr;
    std::vector<QEventLoop*> idleLoops_;  // the WaitUntilIdle calls under way
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
