// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// One HTTP request head as the web port reads it: what the method, the path and the few header fields
// the port answers by are. No sockets here, so every rule can be tried on any input.
struct WebRequest {
    // A head larger than this is refused (431) rather than kept growing.
    static constexpr int kMaxHead = 8 * 1024;

    enum class Parse {
        Incomplete,  // no empty line yet: wait for more
        Complete,
        TooLarge,  // no end of the head within kMaxHead bytes
        Bad,       // no request line of the form METHOD TARGET HTTP/x
    };
    // Reads the head at the start of `bytes` (lines ending CRLF or LF).
    static Parse parse(const QByteArray& bytes, WebRequest& into);

    QByteArray method;
    QByteArray path;  // the target without its query
    QByteArray host;
    QByteArray userAgent;
    bool icyMetadata = false;  // "Icy-MetaData: 1"
};
