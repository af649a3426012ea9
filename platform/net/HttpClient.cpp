// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/HttpClient.h"

#include "platform/net/Curl.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QTemporaryFile>
#include <algorithm>
#include <map>
#include <memory>

namespace rp::mailstore {

namespace {

constexpr int kMaxRedirects = 5;
// A whole exchange may take this many time-outs: the time-out only watches for
// silence, so a server that trickles would otherwise never be left.
constexpr int kDeadlineFactor = 4;
// OpenSSL's verification results that mean "out of date" rather than "unknown".
constexpr long kCertificateNotYetValid = 9;
constexpr long kCertificateExpired = 10;

// A handle keeps its connections, TLS sessions and the authorities it read
// between requests, which is what makes a steady poll cheap: a resumed TLS
// session skips the server's certificate. Each thread has its own handles, and
// one per CA file, so a connection made under one source's trust is never lent
// to a source that asks for another.
CURL* ThreadHandle(const QString& caFile) {
    EnsureCurl();
    thread_local std::map<QString, TCurl> handles;
    TCurl& handle = handles[caFile];
    if (handle)
        curl_easy_reset(handle.get()); // keeps the connections and sessions
    else
        handle.reset(curl_easy_init());
    return handle.get();
}

// Read once per thread until the file changes: decoding certificates is dear.
QString CaFileProblem(const QString& caFile) {
    if (caFile.isEmpty())
        return {};
    struct TChecked {
        QDateTime modified;
        qint64 size = -1;
        QString why;
    };
    thread_local std::map<QString, TChecked> checked;
    const QFileInfo info(caFile);
    TChecked& entry = checked[caFile];
    if (entry.size != info.size() || entry.modified != info.lastModified() ||
        !entry.why.isEmpty()) {
        entry.why =
            QSslCertificate::fromPath(caFile, QSsl::Pem).isEmpty()
                ? QStringLiteral("The CA certificate file \"%1\" holds no certificate.").arg(caFile)
                : QString();
        entry.size = info.size();
        entry.modified = info.lastModified();
    }
    return entry.why;
}

QString CertificateText(long verifyResult, const QUrl& url) {
    if (verifyResult == kCertificateExpired || verifyResult == kCertificateNotYetValid)
        return QStringLiteral("The certificate of %1 has expired or is not valid yet; the "
                              "connection was refused.")
            .arg(ServerNameOf(url));
    return QStringLiteral("The certificate of %1 is not trusted (expired, for another "
                          "name, or from an authority this computer does not know; "
                          "CAFile can name one).")
        .arg(ServerNameOf(url));
}

QByteArray ReadWhole(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct TTransfer {
    qint64 maxBytes = 0;
    qint64 silenceMs = 0; // the longest wait for the next byte
    THttpResponse response;
    bool tooLarge = false;
    bool silent = false;
    QElapsedTimer clock;
    qint64 lastByteMs = 0;
    curl_off_t sent = 0;
};

// Like a transfer time-out that starts again with every byte, in either direction.
int WatchForSilence(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
    auto* transfer = static_cast<TTransfer*>(userData);
    const qint64 now = transfer->clock.elapsed();
    if (sent != transfer->sent) {
        transfer->sent = sent;
        transfer->lastByteMs = now;
    }
    transfer->silent = now - transfer->lastByteMs > transfer->silenceMs;
    return transfer->silent ? 1 : 0;
}

size_t TakeBody(char* data, size_t size, size_t count, void* userData) {
    auto* transfer = static_cast<TTransfer*>(userData);
    const qint64 length = static_cast<qint64>(size * count);
    transfer->lastByteMs = transfer->clock.elapsed();
    if (transfer->response.body.size() + length > transfer->maxBytes) {
        transfer->tooLarge = true;
        return 0; // ends the transfer
    }
    transfer->response.body.append(data, length);
    return size * count;
}

size_t TakeHeader(char* data, size_t size, size_t count, void* userData) {
    auto* transfer = static_cast<TTransfer*>(userData);
    transfer->lastByteMs = transfer->clock.elapsed();
    THttpResponse& response = transfer->response;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(size * count)).trimmed();
    response.bytesReceived += static_cast<qint64>(size * count);
    if (line.startsWith("HTTP/")) {
        response.headers.clear(); // a new answer begins (after a "100 Continue")
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        response.headers.insert(line.left(colon).trimmed().toLower(),
                                line.mid(colon + 1).trimmed());
    }
    return size * count;
}

TCurlList HeaderList(const THttpRequest& request) {
    curl_slist* list = nullptr;
    bool typed = false;
    for (const auto& [name, value] : request.headers) {
        list = curl_slist_append(list, (name + ": " + value).constData());
        typed = typed || name.compare("content-type", Qt::CaseInsensitive) == 0;
    }
    // Sent at once, so a server that answers 401 without a challenge still works
    // and a wrong password costs one round trip, not a loop of challenges.
    if (!request.user.isEmpty())
        list = curl_slist_append(
            list, "Authorization: Basic " +
                      (request.user + QLatin1Char(':') + request.password).toUtf8().toBase64());
    list = curl_slist_append(list, "Expect:"); // no wait for "100 Continue"
    if (!typed)
        list = curl_slist_append(list, "Content-Type:"); // not curl's form type
    return TCurlList(list);
}

// A private copy of the system's bundle with the CA file's authorities added,
// made again (under a new name, so curl reads it again) when the file changes.
QString JoinedTrust(CURL* handle, const QString& caFile) {
    struct TJoined {
        QDateTime modified;
        qint64 size = -1;
        std::unique_ptr<QTemporaryFile> file;
    };
    thread_local std::map<QString, TJoined> joined;
    const QFileInfo info(caFile);
    TJoined& entry = joined[caFile];
    if (entry.file && entry.size == info.size() && entry.modified == info.lastModified())
        return entry.file->fileName();
    char* systemBundle = nullptr;
    curl_easy_getinfo(handle, CURLINFO_CAINFO, &systemBundle);
    QByteArray pem = systemBundle ? ReadWhole(QFile::decodeName(systemBundle)) : QByteArray();
    pem += '\n' + ReadWhole(caFile);
    auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                 QStringLiteral("/ringpost-trust-XXXXXX.pem"));
    if (!file->open() || file->write(pem) != pem.size() || !file->flush())
        return caFile; // the file's authorities alone still serve its server
    entry = {info.lastModified(), info.size(), std::move(file)};
    return entry.file->fileName();
}

// curl keeps the authorities it read for a day, but only when they come from
// one file and no folder: so one file it is, and a poll decodes no authority.
void SetTrust(CURL* handle, const QString& caFile) {
    curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    if (!caFile.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO,
                         QFile::encodeName(JoinedTrust(handle, caFile)).constData());
}

void SetUp(CURL* handle, const THttpRequest& request, const QUrl& url, curl_slist* headers,
           TTransfer& transfer) {
    const long timeoutMs = request.timeoutSeconds * 1000L;
    curl_easy_setopt(handle, CURLOPT_URL, url.toEncoded().constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(handle, CURLOPT_PROXY, ""); // a calendar server is asked directly
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Ringpost");
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, WatchForSilence);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMs * kDeadlineFactor);
    if (request.method == "HEAD")
        curl_easy_setopt(handle, CURLOPT_NOBODY, 1L);
    else if (request.method != "GET")
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, request.method.constData());
    if (!request.body.isEmpty()) {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, request.body.constData());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    }
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, TakeHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    SetTrust(handle, request.caFile);
}

void Fail(THttpResponse& response, THttpFailure failure, const QString& text) {
    response.failure = failure;
    response.failureText = text;
    response.body.clear();
}

// What went wrong in an exchange that curl did not finish, in words a user understands.
void Explain(CURL* handle, CURLcode code, const THttpRequest& request, const QUrl& url,
             const TTransfer& transfer, THttpResponse& response) {
    const QString server = ServerNameOf(url);
    const int deadline = request.timeoutSeconds * kDeadlineFactor;
    long verifyResult = 0;
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_OPERATION_TIMEDOUT:
        // curl's clock and ours differ by a little; an answer under way is slow, not silent.
        if (!transfer.silent &&
            (response.status != 0 || transfer.clock.elapsed() >= deadline * 1000L - 250))
            return Fail(response, THttpFailure::TimedOut,
                        QStringLiteral("The server %1 sent its answer too slowly (not complete "
                                       "after %2 seconds); the answer was not used.")
                            .arg(server)
                            .arg(deadline));
        return Fail(response, THttpFailure::TimedOut,
                    QStringLiteral("The server %1 did not answer within %2 seconds.")
                        .arg(server)
                        .arg(request.timeoutSeconds));
    case CURLE_COULDNT_RESOLVE_HOST:
        return Fail(response, THttpFailure::Unreachable,
                    QStringLiteral("The server %1 was not found (check the address and the "
                                   "network).")
                        .arg(server));
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        curl_easy_getinfo(handle, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
        return Fail(response, THttpFailure::Certificate, CertificateText(verifyResult, url));
    case CURLE_SSL_CONNECT_ERROR:
        return Fail(response, THttpFailure::Certificate,
                    QStringLiteral("No secure connection could be made with %1.").arg(server));
    case CURLE_BAD_CONTENT_ENCODING:
        return Fail(response, THttpFailure::Other,
                    QStringLiteral("The server %1 sent a compressed answer that could not be "
                                   "unpacked; it was not used.")
                        .arg(server));
    default:
        break;
    }
    // A connection that broke off after the status line leaves a cut answer,
    // which must not pass for the whole calendar.
    if (response.status != 0)
        return Fail(response, THttpFailure::Unreachable,
                    QStringLiteral("The connection to %1 broke off before the whole answer "
                                   "arrived; the answer was not used.")
                        .arg(server));
    const bool unreached = code == CURLE_COULDNT_CONNECT || code == CURLE_GOT_NOTHING ||
                           code == CURLE_SEND_ERROR || code == CURLE_RECV_ERROR;
    Fail(response, unreached ? THttpFailure::Unreachable : THttpFailure::Other,
         unreached ? QStringLiteral("The server %1 could not be reached.").arg(server)
                   : QStringLiteral("The exchange with %1 failed.").arg(server));
}

struct TOneHop {
    THttpResponse response;
    QUrl redirectTo;
};

// One request without following redirects.
TOneHop RunHop(const THttpRequest& request, const QUrl& url) {
    TOneHop hop;
    CURL* handle = ThreadHandle(request.caFile);
    if (!handle) {
        Fail(hop.response, THttpFailure::Other,
             QStringLiteral("The exchange with %1 failed.").arg(ServerNameOf(url)));
        return hop;
    }
    TTransfer transfer;
    transfer.maxBytes = request.maxBytes;
    transfer.silenceMs = request.timeoutSeconds * 1000L;
    const TCurlList headers = HeaderList(request);
    SetUp(handle, request, url, headers.get(), transfer);
    transfer.clock.start();
    const CURLcode code = curl_easy_perform(handle);
    THttpResponse& response = transfer.response;
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    long headerBytes = 0;
    curl_easy_getinfo(handle, CURLINFO_REQUEST_SIZE, &headerBytes);
    response.status = static_cast<int>(status);
    response.bytesSent = headerBytes + request.body.size();
    response.bytesReceived += response.body.size();
    response.finalUrl = url;
    if (transfer.tooLarge)
        Fail(response, THttpFailure::TooLarge,
             QStringLiteral("The server %1 sent more than %2 MB; the answer was not used.")
                 .arg(ServerNameOf(url))
                 .arg(request.maxBytes / (1024 * 1024)));
    else if (code != CURLE_OK)
        Explain(handle, code, request, url, transfer, response);
    hop.response = std::move(response);
    const QByteArray location = hop.response.Header("location");
    if (hop.response.failure == THttpFailure::None && status >= 300 && status < 400 &&
        status != 304 && !location.isEmpty())
        hop.redirectTo = url.resolved(QUrl::fromEncoded(location));
    return hop;
}

} // namespace

QString ServerNameOf(const QUrl& url) {
    return url.host().isEmpty() ? QStringLiteral("(no host)") : url.host();
}

THttpResponse HttpExchange(const THttpRequest& request) {
    if (const QString caProblem = CaFileProblem(request.caFile); !caProblem.isEmpty()) {
        THttpResponse response;
        response.failure = THttpFailure::Other;
        response.failureText = caProblem;
        return response;
    }
    QUrl url = request.url;
    THttpRequest current = request;
    qint64 sent = 0, received = 0;
    for (int hops = 0;; ++hops) {
        TOneHop hop = RunHop(current, url);
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
