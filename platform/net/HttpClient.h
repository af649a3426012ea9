// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One HTTP exchange with a calendar server, run to its end on the calling
// thread through libcurl: bounded in time and size, a few redirects at most and
// never from https to http, certificates checked (CAFile may add a trusted
// authority). Each thread keeps its connections and TLS sessions.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>

namespace rp::mailstore {

enum class THttpFailure {
    None,
    Unreachable, // no connection: host unknown, refused, network down
    TimedOut,    // the server stalled
    Certificate, // the server's certificate is not trusted
    TooLarge,
    BadRedirect, // too many, or from https to http
    Other,
};

struct THttpRequest {
    QByteArray method = "GET";
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QString user;
    QString password;
    QString caFile;
    int timeoutSeconds = 30;
    qint64 maxBytes = 64 * 1024 * 1024;
};

struct THttpResponse {
    THttpFailure failure = THttpFailure::None;
    QString failureText; // in words a user understands; never holds credentials
    int status = 0;
    QByteArray body;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QUrl finalUrl;                        // after redirects
    // HTTP bytes of every hop (request and status lines, headers, bodies), for
    // the cost figures; TLS framing is not counted.
    qint64 bytesSent = 0;
    qint64 bytesReceived = 0;

    bool Ok() const { return failure == THttpFailure::None && status >= 200 && status < 300; }
    QByteArray Header(const char* name) const { return headers.value(QByteArray(name)); }
};

// Runs the request on this thread.
THttpResponse HttpExchange(const THttpRequest& request);

// "dav.example.org" for messages: the host only, never the user or a password.
QString ServerNameOf(const QUrl& url);

} // namespace rp::mailstore
