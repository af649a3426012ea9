// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/mailstore/HttpClient.h"

#include <QAuthenticator>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <algorithm>
#include <map>
#include <memory>

namespace rp::mailstore {

namespace {

constexpr int kMaxRedirects = 5;
// A whole exchange may take this many time-outs: the transfer time-out restarts
// with every byte, so a server that trickles would otherwise never be left.
constexpr int kDeadlineFactor = 4;

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

QSslConfiguration ReadTls(const QString& caFile, QString* why) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    const QList<QSslCertificate> added = QSslCertificate::fromPath(caFile, QSsl::Pem);
    if (added.isEmpty())
        *why = QStringLiteral("The CA certificate file \"%1\" holds no certificate.").arg(caFile);
    tls.addCaCertificates(added);
    return tls;
}

// Decoding certificates is most of a poll's TLS cost, so each thread keeps
// what it read of a CA file until the file changes.
QSslConfiguration TlsFor(const QString& caFile, QString* why) {
    if (caFile.isEmpty())
        return QSslConfiguration::defaultConfiguration();
    struct TRead {
        QDateTime modified;
        qint64 size = -1;
        QSslConfiguration tls;
        QString why;
    };
    thread_local std::map<QString, TRead> read;
    const QFileInfo info(caFile);
    TRead& entry = read[caFile];
    if (entry.size != info.size() || entry.modified != info.lastModified() ||
        !entry.why.isEmpty()) {
        entry.why.clear();
        entry.tls = ReadTls(caFile, &entry.why);
        entry.size = info.size();
        entry.modified = info.lastModified();
    }
    *why = entry.why;
    return entry.tls;
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

QString CertificateText(const QList<QSslError>& errors, const QUrl& url) {
    const bool outOfDate = std::any_of(errors.begin(), errors.end(), [](const QSslError& e) {
        return e.error() == QSslError::CertificateExpired ||
               e.error() == QSslError::CertificateNotYetValid;
    });
    if (outOfDate)
        return QStringLiteral("The certificate of %1 has expired or is not valid yet; the "
                              "connection was refused.")
            .arg(ServerNameOf(url));
    return QStringLiteral("The certificate of %1 is not trusted (expired, for another "
                          "name, or from an authority this computer does not know; "
                          "CAFile can name one).")
        .arg(ServerNameOf(url));
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

qint64 RequestBytes(const QNetworkRequest& made, const QByteArray& method, const QByteArray& body) {
    qint64 bytes = method.size() + made.url().path(QUrl::FullyEncoded).size() + 12;
    for (const QByteArray& name : made.rawHeaderList())
        bytes += name.size() + made.rawHeader(name).size() + 4;
    return bytes + body.size();
}

struct TOneHop {
    THttpResponse response;
    QUrl redirectTo;
};

// One request without following redirects.
TOneHop RunHop(const THttpRequest& request, const QUrl& url, const QSslConfiguration& tls) {
    TOneHop hop;
    THttpResponse& response = hop.response;
    const QNetworkRequest made = MakeRequest(request, url, tls);
    response.bytesSent = RequestBytes(made, request.method, request.body);
    QNetworkReply* reply =
        ThreadManager(request.caFile).sendCustomRequest(made, request.method, request.body);
    std::unique_ptr<QNetworkReply> owner(reply);
    QEventLoop loop;
    QList<QSslError> certificateErrors;
    bool certificateRefused = false;
    bool tooLarge = false;
    bool tooSlow = false;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::sslErrors, &loop, [&](const QList<QSslError>& errors) {
        certificateRefused = true;
        certificateErrors = errors;
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        response.body += reply->readAll();
        if (response.body.size() > request.maxBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, [&] {
        tooSlow = true;
        reply->abort();
    });
    deadline.start(request.timeoutSeconds * kDeadlineFactor * 1000);
    if (!reply->isFinished())
        loop.exec();
    if (!tooLarge && reply->isOpen())
        response.body += reply->readAll();
    response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    response.bytesReceived = 15 + response.body.size();
    for (const auto& [name, value] : reply->rawHeaderPairs()) {
        response.headers.insert(name.toLower(), value);
        response.bytesReceived += name.size() + value.size() + 4;
    }
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
    if (tooSlow) {
        response.failure = THttpFailure::TimedOut;
        response.failureText =
            QStringLiteral("The server %1 sent its answer too slowly (not complete after %2 "
                           "seconds); the answer was not used.")
                .arg(ServerNameOf(url))
                .arg(request.timeoutSeconds * kDeadlineFactor);
        response.body.clear();
        return hop;
    }
    const QNetworkReply::NetworkError error = reply->error();
    if (certificateRefused) {
        response.failure = THttpFailure::Certificate;
        response.failureText = CertificateText(certificateErrors, url);
        return hop;
    }
    if (response.status == 0 && error != QNetworkReply::NoError) {
        response.failure = FailureKind(error);
        response.failureText = FailureText(error, url, request.timeoutSeconds);
        return hop;
    }
    // Qt refuses to unpack an answer that grows out of all proportion.
    if (error == QNetworkReply::UnknownContentError && response.status < 400 &&
        !response.Header("content-encoding").isEmpty()) {
        response.failure = THttpFailure::TooLarge;
        response.failureText = QStringLiteral("The server %1 sent a compressed answer that "
                                              "unpacks to far too much; it was not used.")
                                   .arg(ServerNameOf(url));
        response.body.clear();
        return hop;
    }
    // A connection that broke off after the status line leaves a cut answer,
    // which must not pass for the whole calendar; nor may anything Qt found wrong
    // with an answer that claims success.
    if (error != QNetworkReply::NoError &&
        (response.status < 400 || error < QNetworkReply::ProxyConnectionRefusedError ||
         error == QNetworkReply::ProtocolFailure)) {
        response.failure = THttpFailure::Unreachable;
        response.failureText = QStringLiteral("The connection to %1 broke off before the whole "
                                              "answer arrived; the answer was not used.")
                                   .arg(ServerNameOf(url));
        response.body.clear();
        return hop;
    }
    const QByteArray location = reply->rawHeader("Location");
    if (response.status >= 300 && response.status < 400 && response.status != 304 &&
        !location.isEmpty())
        hop.redirectTo = url.resolved(QUrl::fromEncoded(location));
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
    qint64 sent = 0, received = 0;
    for (int hops = 0;; ++hops) {
        TOneHop hop = RunHop(current, url, tls);
        sent += hop.response.bytesSent;
        received += hop.response.bytesReceived;
        hop.response.bytesSent = sent;
        hop.response.bytesReceived = received;
        if (hop.redirectTo.isEmpty())
            return hop.response;
        const QString scheme = hop.redirectTo.scheme();
        // Anything but the web's two schemes would let a server point at local files.
        const bool downgrade =
            (url.scheme() == QLatin1String("https") && scheme != QLatin1String("https")) ||
            (scheme != QLatin1String("https") && scheme != QLatin1String("http"));
        if (downgrade || hops >= kMaxRedirects || !hop.redirectTo.isValid()) {
            THttpResponse refused;
            refused.failure = THttpFailure::BadRedirect;
            refused.status = hop.response.status;
            refused.bytesSent = sent;
            refused.bytesReceived = received;
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
