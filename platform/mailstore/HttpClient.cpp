// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailstore/HttpClient.h"

#include <QAuthenticator>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <map>
#include <memory>

namespace rp::mailstore {

namespace {

constexpr int kMaxRedirects = 5;

// A manager belongs to the thread that made it, so each thread gets its own;
// and one per CA file, because a manager reuses open connections whatever trust
// the next request asks for: a server trusted through one source's CAFile must
// not be trusted for a source without it.
QNetworkAccessManager& ThreadManager(const QString& caFile) {
    thread_local std::map<QString, std::unique_ptr<QNetworkAccessManager>> managers;
    std::unique_ptr<QNetworkAccessManager>& manager = managers[caFile];
    if (!manager) {
        manager = std::make_unique<QNetworkAccessManager>();
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    return *manager;
}

QSslConfiguration TlsFor(const QString& caFile, QString* why) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    if (caFile.isEmpty())
        return tls;
    const QList<QSslCertificate> added = QSslCertificate::fromPath(caFile, QSsl::Pem);
    if (added.isEmpty())
        *why = QStringLiteral("The CA certificate file \"%1\" holds no certificate.").arg(caFile);
    tls.addCaCertificates(added);
    return tls;
}

QNetworkRequest MakeRequest(const THttpRequest& request, const QUrl& url,
                            const QSslConfiguration& tls) {
    QNetworkRequest made(url);
    made.setSslConfiguration(tls);
    made.setTransferTimeout(request.timeoutSeconds * 1000);
    made.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    made.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Ringpost"));
    for (const auto& [name, value] : request.headers)
        made.setRawHeader(name, value);
    // Sent at once, so a server that answers 401 without a challenge still works
    // and a wrong password costs one round trip, not a loop of challenges.
    if (!request.user.isEmpty())
        made.setRawHeader(
            "Authorization",
            "Basic " + (request.user + QLatin1Char(':') + request.password).toUtf8().toBase64());
    return made;
}

QString FailureText(QNetworkReply::NetworkError error, const QUrl& url, int timeoutSeconds) {
    const QString server = ServerNameOf(url);
    switch (error) {
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("The server %1 was not found (check the address and the network).")
            .arg(server);
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return QStringLiteral("The server %1 could not be reached.").arg(server);
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("The server %1 did not answer within %2 seconds.")
            .arg(server)
            .arg(timeoutSeconds);
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("The certificate of %1 is not trusted.").arg(server);
    default:
        return QStringLiteral("The exchange with %1 failed.").arg(server);
    }
}

THttpFailure FailureKind(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::UnknownNetworkError:
        return THttpFailure::Unreachable;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return THttpFailure::TimedOut;
    case QNetworkReply::SslHandshakeFailedError:
        return THttpFailure::Certificate;
    default:
        return THttpFailure::Other;
    }
}

struct TOneHop {
    THttpResponse response;
    QUrl redirectTo;
};

// One request without following redirects.
TOneHop RunHop(const THttpRequest& request, const QUrl& url, const QSslConfiguration& tls) {
    TOneHop hop;
    THttpResponse& response = hop.response;
    QNetworkReply* reply =
        ThreadManager(request.caFile)
            .sendCustomRequest(MakeRequest(request, url, tls), request.method, request.body);
    std::unique_ptr<QNetworkReply> owner(reply);
    QEventLoop loop;
    bool certificateRefused = false;
    bool tooLarge = false;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::sslErrors, &loop,
                     [&certificateRefused] { certificateRefused = true; });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        response.body += reply->readAll();
        if (response.body.size() > request.maxBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    // A server that trickles bytes never trips the transfer time-out; this does.
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, &QNetworkReply::abort);
    deadline.start(request.timeoutSeconds * 4000);
    if (!reply->isFinished())
        loop.exec();
    if (!tooLarge && reply->isOpen())
        response.body += reply->readAll();
    response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    for (const auto& [name, value] : reply->rawHeaderPairs())
        response.headers.insert(name.toLower(), value);
    response.finalUrl = url;
    if (tooLarge) {
        response.failure = THttpFailure::TooLarge;
        response.failureText =
            QStringLiteral("The server %1 sent more than %2 MB; the answer was not used.")
                .arg(ServerNameOf(url))
                .arg(request.maxBytes / (1024 * 1024));
        response.body.clear();
        return hop;
    }
    const QNetworkReply::NetworkError error = reply->error();
    if (certificateRefused || (response.status == 0 && error != QNetworkReply::NoError)) {
        response.failure = certificateRefused ? THttpFailure::Certificate : FailureKind(error);
        response.failureText =
            certificateRefused
                ? QStringLiteral("The certificate of %1 is not trusted (expired, for another "
                                 "name, or from an authority this computer does not know; "
                                 "CAFile can name one).")
                      .arg(ServerNameOf(url))
                : FailureText(error, url, request.timeoutSeconds);
        return hop;
    }
    if (response.status >= 300 && response.status < 400 && response.status != 304) {
        const QByteArray location = reply->rawHeader("Location");
        hop.redirectTo = url.resolved(QUrl::fromEncoded(location));
    }
    return hop;
}

} // namespace

QString ServerNameOf(const QUrl& url) {
    return url.host().isEmpty() ? QStringLiteral("(no host)") : url.host();
}

THttpResponse HttpExchange(const THttpRequest& request) {
    QString caProblem;
    const QSslConfiguration tls = TlsFor(request.caFile, &caProblem);
    if (!caProblem.isEmpty()) {
        THttpResponse response;
        response.failure = THttpFailure::Other;
        response.failureText = caProblem;
        return response;
    }
    QUrl url = request.url;
    THttpRequest current = request;
    for (int hops = 0;; ++hops) {
        TOneHop hop = RunHop(current, url, tls);
        if (hop.redirectTo.isEmpty())
            return hop.response;
        const bool downgrade = url.scheme() == QLatin1String("https") &&
                               hop.redirectTo.scheme() != QLatin1String("https");
        if (downgrade || hops >= kMaxRedirects || !hop.redirectTo.isValid()) {
            THttpResponse refused;
            refused.failure = THttpFailure::BadRedirect;
            refused.status = hop.response.status;
            refused.failureText =
                downgrade ? QStringLiteral("The server %1 redirected to an address without "
                                           "encryption; Ringpost does not follow it.")
                                .arg(ServerNameOf(url))
                          : QStringLiteral("The server %1 redirected too many times.")
                                .arg(ServerNameOf(url));
            return refused;
        }
        // The password is for the server the user named, not wherever it points.
        if (hop.redirectTo.host() != request.url.host() ||
            hop.redirectTo.port() != request.url.port()) {
            current.user.clear();
            current.password.clear();
        }
        url = hop.redirectTo;
    }
}

} // namespace rp::mailstore
