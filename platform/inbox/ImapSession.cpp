// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/inbox/ImapSession.h"

#include "platform/net/Curl.h"

#include <QElapsedTimer>
#include <QUrl>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>

namespace rp::mailstore {

namespace {

// All the answers to one command together: the first load of a large inbox
// stays well below this, a server that sends without end does not.
constexpr qint64 kMaxCommandBytes = 64LL * 1024 * 1024;
// How often a wait looks whether the program is ending.
constexpr int kWaitSliceMs = 200;

CURL* Handle(void* curl) {
    return static_cast<CURL*>(curl);
}

bool IsLoopback(const QString& host) {
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QByteArray text = host.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, text.constData(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

// What the server said last while libcurl logged in: the reason of a refusal,
// and whether its capabilities offered an OAuth2 mechanism at all.
struct TLoginTranscript {
    QByteArray lastLine;
    bool offersOAuth2 = false;
};

int ListenToLogin(CURL*, curl_infotype type, char* data, size_t size, void* userData) {
    // Only what the server says: our own lines carry the credentials.
    if (type != CURLINFO_HEADER_IN)
        return 0;
    auto* transcript = static_cast<TLoginTranscript*>(userData);
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(size)).trimmed();
    if (!line.isEmpty())
        transcript->lastLine = line.left(512);
    const QByteArray upper = line.toUpper();
    if (upper.contains("AUTH=XOAUTH2") || upper.contains("AUTH=OAUTHBEARER"))
        transcript->offersOAuth2 = true;
    return 0;
}

int AbortWhenStopping(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* stop = static_cast<const std::atomic<bool>*>(userData);
    return stop && stop->load() ? 1 : 0;
}

// The server's reason after the tag and NO: "[AUTHENTICATIONFAILED] Authentication failed."
QString ServerReason(const QByteArray& line) {
    try {
        const QString text = ResponseText(ParseResponse(line + "\r\n"));
        return text.isEmpty() ? QString::fromUtf8(line) : text;
    } catch (const EImapProtocol&) {
        return QString::fromUtf8(line);
    }
}

QString CommandVerb(const QByteArray& command) {
    const QList<QByteArray> words = command.split(' ');
    QByteArray verb = words.value(0).toUpper();
    if (verb == "UID" && words.size() > 1)
        verb += ' ' + words[1].toUpper();
    return QString::fromLatin1(verb);
}

} // namespace

QString TImapAddress::Server() const {
    const QString shown =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}

TImapAddress ParseImapAddress(const TSourceSettings& settings) {
    const QUrl url(settings.url.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    TImapAddress address;
    address.host = url.host();
    if (!url.isValid() || address.host.isEmpty() ||
        (scheme != QLatin1String("imap") && scheme != QLatin1String("imaps")))
        throw EImapError(TImapFailure::Settings,
                         QStringLiteral("The inbox address is not a valid imap:// or imaps:// URL "
                                        "(for example imaps://mail.example.com:993/INBOX)."));
    address.implicitTls = scheme == QLatin1String("imaps");
    address.port = url.port(address.implicitTls ? 993 : 143);
    const QString mailbox = url.path(QUrl::FullyDecoded).mid(1);
    if (!mailbox.isEmpty())
        address.mailbox = mailbox.toUtf8();
    if (!address.implicitTls && !settings.startTls && !IsLoopback(address.host))
        throw EImapError(TImapFailure::Insecure,
                         QStringLiteral("StartTLS=false is allowed only for an IMAP server on this "
                                        "computer; %1 would get the password unencrypted.")
                             .arg(address.host));
    return address;
}

TImapSession::TImapSession(TSourceSettings settings, QString password,
                           const std::atomic<bool>* stop, TSecretKind kind)
    : settings(std::move(settings)), password(std::move(password)), stop(stop), secretKind(kind) {
    if (this->settings.timeoutSeconds <= 0)
        this->settings.timeoutSeconds = 30;
}

TImapSession::~TImapSession() {
    Disconnect();
}

void TImapSession::Disconnect() {
    if (curl)
        curl_easy_cleanup(Handle(curl));
    curl = nullptr;
    reader = TImapReader();
}

void TImapSession::Fail(TImapFailure failure, const QString& message) {
    if (failure != TImapFailure::Refused)
        Disconnect();
    throw EImapError(failure, message);
}

void TImapSession::Connect() {
    Disconnect();
    EnsureCurl();
    address = ParseImapAddress(settings);
    if (settings.user.isEmpty())
        Fail(TImapFailure::Settings,
             QStringLiteral("No user name is set for the IMAP inbox (User)."));
    const bool bearer = secretKind == TSecretKind::AccessToken;
    if (bearer && !address.implicitTls && !settings.startTls)
        Fail(TImapFailure::Insecure,
             QStringLiteral("An access token goes only over an encrypted connection: use imaps:// "
                            "or StartTLS=true for %1.")
                 .arg(address.Server()));
    const QString host = address.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + address.host + QLatin1Char(']')
                             : address.host;
    const QByteArray url =
        QStringLiteral("%1://%2:%3/")
            .arg(address.implicitTls ? QStringLiteral("imaps") : QStringLiteral("imap"), host)
            .arg(address.port)
            .toUtf8();
    CURL* handle = curl_easy_init();
    if (!handle)
        Fail(TImapFailure::Unreachable, QStringLiteral("The IMAP connection could not be set up."));
    curl = handle;
    ++traffic.connections;
    TLoginTranscript transcript;
    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray user = settings.user.toUtf8();
    const QByteArray secret = password.toUtf8();
    const QByteArray caFile = settings.caFile.toUtf8();
    curl_easy_setopt(handle, CURLOPT_URL, url.constData());
    curl_easy_setopt(handle, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(handle, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(handle, bearer ? CURLOPT_XOAUTH2_BEARER : CURLOPT_PASSWORD,
                     secret.constData());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(settings.timeoutSeconds));
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(settings.timeoutSeconds));
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, ListenToLogin);
    curl_easy_setopt(handle, CURLOPT_DEBUGDATA, &transcript);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, AbortWhenStopping);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, stop);
    if (!address.implicitTls && settings.startTls)
        curl_easy_setopt(handle, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    if (!caFile.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.constData());
    const CURLcode result = curl_easy_perform(handle);
    // libcurl keeps only pointers to these, and both live in this frame: a later
    // receive error would otherwise write its text into a stack that is gone.
    curl_easy_setopt(handle, CURLOPT_DEBUGFUNCTION, nullptr);
    curl_easy_setopt(handle, CURLOPT_VERBOSE, 0L);
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, nullptr);
    if (result != CURLE_OK)
        FailToConnect(result, transcript.lastLine, transcript.offersOAuth2,
                      QString::fromUtf8(errorText).trimmed());
    capabilities.clear();
    for (const TImapResponse& response : Command("CAPABILITY"))
        NoteCapabilities(response);
}

void TImapSession::FailToSignIn(const QByteArray& lastLine, bool offersOAuth2) {
    const QString server = address.Server();
    if (secretKind == TSecretKind::Password)
        Fail(TImapFailure::Login,
             QStringLiteral("The IMAP server %1 refused the user name or password: %2")
                 .arg(server, ServerReason(lastLine)));
    if (!offersOAuth2)
        Fail(TImapFailure::Settings,
             QStringLiteral("The IMAP server %1 offers no OAuth2 sign-in (XOAUTH2 or OAUTHBEARER); "
                            "sign in with a password there (Auth=password).")
                 .arg(server));
    Fail(TImapFailure::Login,
         QStringLiteral("The IMAP server %1 refused the access token for %2: %3")
             .arg(server, settings.user, ServerReason(lastLine)));
}

void TImapSession::FailToConnect(int code, const QByteArray& lastLine, bool offersOAuth2,
                                 const QString& detail) {
    const auto result = static_cast<CURLcode>(code);
    const QString server = address.Server();
    const QString why = detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(result)) : detail;
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
        Fail(TImapFailure::Unreachable,
             QStringLiteral("The IMAP server \"%1\" could not be found.").arg(address.host));
    case CURLE_COULDNT_CONNECT:
        Fail(TImapFailure::Unreachable,
             QStringLiteral("Could not connect to the IMAP server %1: the connection was refused "
                            "or the server is not reachable.")
                 .arg(server));
    case CURLE_OPERATION_TIMEDOUT:
        Fail(TImapFailure::Unreachable,
             QStringLiteral("The IMAP server %1 did not answer within %2 seconds.")
                 .arg(server)
                 .arg(settings.timeoutSeconds));
    case CURLE_LOGIN_DENIED:
        FailToSignIn(lastLine, offersOAuth2);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        Fail(TImapFailure::Certificate,
             QStringLiteral("The certificate of the IMAP server %1 is not trusted (%2). If the "
                            "server has a certificate of its own, name it in CAFile.")
                 .arg(server, why));
    case CURLE_USE_SSL_FAILED:
        Fail(TImapFailure::Insecure,
             QStringLiteral("The IMAP server %1 does not offer STARTTLS, so the password would go "
                            "unencrypted; use imaps:// or a server that offers it.")
                 .arg(server));
    case CURLE_ABORTED_BY_CALLBACK:
        Fail(TImapFailure::Stopped, QStringLiteral("The IMAP connection was stopped."));
    case CURLE_WEIRD_SERVER_REPLY:
        Fail(TImapFailure::Malformed,
             QStringLiteral("The IMAP server %1 sent an answer that could not be read (%2).")
                 .arg(server, why));
    case CURLE_SSL_CONNECT_ERROR:
        Fail(TImapFailure::Unreachable,
             QStringLiteral("The secure connection to the IMAP server %1 failed: %2")
                 .arg(server, why));
    default:
        Fail(TImapFailure::Unreachable,
             QStringLiteral("Connecting to the IMAP server %1 failed: %2").arg(server, why));
    }
}

void TImapSession::NoteCapabilities(const TImapResponse& response) {
    for (QByteArray& capability : ReadCapabilities(response))
        capabilities.push_back(std::move(capability));
}

bool TImapSession::HasCapability(const QByteArray& name) const {
    return std::find(capabilities.begin(), capabilities.end(), name.toUpper()) !=
           capabilities.end();
}

void TImapSession::WaitForData(bool forWriting) {
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(Handle(curl), CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
        socket == CURL_SOCKET_BAD)
        Fail(TImapFailure::Unreachable,
             QStringLiteral("The connection to the IMAP server %1 broke off.")
                 .arg(address.Server()));
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (stop && stop->load())
            Fail(TImapFailure::Stopped, QStringLiteral("The IMAP connection was stopped."));
        pollfd descriptor{socket, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(&descriptor, 1, kWaitSliceMs);
        if (ready > 0)
            return;
        if (ready < 0 && errno != EINTR)
            Fail(TImapFailure::Unreachable,
                 QStringLiteral("The connection to the IMAP server %1 broke off.")
                     .arg(address.Server()));
        if (waited.elapsed() >= settings.timeoutSeconds * 1000LL)
            Fail(TImapFailure::Unreachable,
                 QStringLiteral("The IMAP server %1 did not answer within %2 seconds.")
                     .arg(address.Server())
                     .arg(settings.timeoutSeconds));
    }
}

void TImapSession::Send(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        size_t sent = 0;
        const CURLcode result = curl_easy_send(Handle(curl), bytes.constData() + done,
                                               static_cast<size_t>(bytes.size() - done), &sent);
        if (result == CURLE_AGAIN) {
            WaitForData(true);
            continue;
        }
        if (result != CURLE_OK)
            Fail(TImapFailure::Unreachable,
                 QStringLiteral("The connection to the IMAP server %1 broke off.")
                     .arg(address.Server()));
        done += static_cast<qsizetype>(sent);
    }
    traffic.bytesSent += bytes.size();
}

TImapResponse TImapSession::Receive(qint64& commandBytes) {
    char buffer[16384];
    for (;;) {
        try {
            if (std::optional<TImapResponse> response = reader.Next())
                return std::move(*response);
        } catch (const EImapProtocol& error) {
            Fail(TImapFailure::Malformed,
                 QStringLiteral("The IMAP server %1 sent an answer that could not be read: %2.")
                     .arg(address.Server(), QString::fromUtf8(error.what())));
        }
        size_t received = 0;
        const CURLcode result = curl_easy_recv(Handle(curl), buffer, sizeof buffer, &received);
        if (result == CURLE_AGAIN) {
            WaitForData(false);
            continue;
        }
        if (result != CURLE_OK || received == 0)
            Fail(TImapFailure::Unreachable,
                 QStringLiteral("The IMAP server %1 closed the connection.").arg(address.Server()));
        traffic.bytesReceived += static_cast<qint64>(received);
        commandBytes += static_cast<qint64>(received);
        if (commandBytes > kMaxCommandBytes)
            Fail(TImapFailure::Malformed,
                 QStringLiteral("The IMAP server %1 sent far more than was asked for (over %2 MB).")
                     .arg(address.Server())
                     .arg(kMaxCommandBytes / (1024 * 1024)));
        reader.Feed(buffer, static_cast<qsizetype>(received));
    }
}

std::vector<TImapResponse> TImapSession::Command(const QByteArray& command) {
    if (!curl)
        Connect();
    const QByteArray tag = 'R' + QByteArray::number(nextTag++);
    Send(tag + ' ' + command + "\r\n");
    ++traffic.commands;
    std::vector<TImapResponse> untagged;
    qint64 commandBytes = 0;
    for (;;) {
        TImapResponse response = Receive(commandBytes);
        const QByteArray condition = StatusCondition(response);
        if (response.tag == tag) {
            if (condition == "OK")
                return untagged;
            Fail(TImapFailure::Refused,
                 QStringLiteral("The IMAP server %1 refused %2: %3")
                     .arg(address.Server(), CommandVerb(command), ResponseText(response)));
        }
        if (response.tag == "*" && condition == "BYE")
            Fail(TImapFailure::Unreachable,
                 QStringLiteral("The IMAP server %1 ended the session: %2")
                     .arg(address.Server(), ResponseText(response)));
        if (response.tag != "*")
            Fail(TImapFailure::Malformed,
                 QStringLiteral("The IMAP server %1 sent an answer that could not be read: an "
                                "unexpected \"%2\".")
                     .arg(address.Server(), QString::fromUtf8(response.tag.left(20))));
        untagged.push_back(std::move(response));
    }
}

} // namespace rp::mailstore
