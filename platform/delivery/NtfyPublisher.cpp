// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/delivery/NtfyPublisher.h"

#include "engine/AppriseAddress.h"
#include "engine/OutlookModel.h"
#include "platform/delivery/MailTransport.h"
#include "platform/net/Curl.h"
#include "platform/net/Keyring.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <memory>

namespace rp::mailstore {

namespace {

using outlook::EAutomationError;

constexpr qsizetype kMaxAnswer = 16 * 1024;
constexpr qsizetype kShownTopic = 40;

// What ntfy itself accepts as a topic name.
const QRegularExpression& TopicRule() {
    static const QRegularExpression rule(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return rule;
}

size_t KeepAnswer(char* data, size_t size, size_t count, void* userData) {
    auto* answer = static_cast<QByteArray*>(userData);
    const qsizetype length = static_cast<qsizetype>(size * count);
    answer->append(data, std::min(length, std::max<qsizetype>(0, kMaxAnswer - answer->size())));
    return size * count;
}

bool HasControlCharacter(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

QString Shortened(const QString& text) {
    return text.size() > kShownTopic ? text.left(kShownTopic) + QStringLiteral("...") : text;
}

[[noreturn]] void Refuse(const QString& why) {
    throw EAutomationError(why + QStringLiteral(" The notice was not sent."));
}

bool IsLoopbackHost(const QString& host) {
    static const QRegularExpression ipv4(QStringLiteral("^127(\\.[0-9]{1,3}){3}$"));
    const QString lower = host.toLower();
    return lower == QLatin1String("localhost") || lower == QLatin1String("::1") ||
           ipv4.match(lower).hasMatch();
}

// The server's own words about a refusal: ntfy answers with {"error": "..."}.
QString ServerWords(const QByteArray& answer) {
    const QJsonObject json = QJsonDocument::fromJson(answer).object();
    QString words = json.value(QLatin1String("error")).toString();
    if (words.isEmpty())
        words = QString::fromUtf8(answer).section(QLatin1Char('\n'), 0, 0).trimmed();
    words = OneLine(words).left(200);
    return words.isEmpty() ? QString() : QStringLiteral(": ") + words;
}

} // namespace

struct TNtfyPublisher::TAnswer {
    long status = 0;
    QByteArray body;
    QString location;
};

bool IsPushAddress(const QString& recipient) {
    return recipient.trimmed().startsWith(QLatin1String("ntfy-"), Qt::CaseInsensitive);
}

QString ShownAddress(const QString& recipient) {
    return OneLine(MaskedRecipient(recipient));
}

TPushAddress ParsePushAddress(const QString& recipient) {
    static const QRegularExpression form(QStringLiteral("^ntfy-([^@+]*)(?:\\+([^@]*))?@([^@]*)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tokenRule(QStringLiteral("^[A-Za-z0-9_]{1,128}$"));
    static const QRegularExpression hostRule(
        QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-"
                       "z0-9])?)*$"));
    if (HasControlCharacter(recipient))
        Refuse(QStringLiteral("The push address \"%1\" holds a line break or another control "
                              "character.")
                   .arg(ShownAddress(recipient)));
    const QRegularExpressionMatch parts = form.match(recipient.trimmed());
    if (!parts.hasMatch())
        Refuse(QStringLiteral("The push address \"%1\" is not of the form ntfy-TOPIC@HOST.")
                   .arg(ShownAddress(recipient)));
    TPushAddress address{parts.captured(1), parts.captured(2), parts.captured(3)};
    if (!TopicRule().match(address.topic).hasMatch())
        Refuse(QStringLiteral("The ntfy topic \"%1\" cannot be used: a topic is 1 to 64 letters, "
                              "digits, \"-\" or \"_\".")
                   .arg(Shortened(address.topic)));
    if (parts.hasCaptured(2) && !tokenRule.match(address.token).hasMatch())
        Refuse(QStringLiteral("The access token in the push address \"%1\" cannot be used: a "
                              "token is letters, digits and \"_\".")
                   .arg(ShownAddress(recipient)));
    if (address.host.size() > 253 || !hostRule.match(address.host).hasMatch())
        Refuse(QStringLiteral("The push address \"%1\" does not end in a valid server name.")
                   .arg(ShownAddress(recipient)));
    return address;
}

QUrl PublishUrl(const TPushSettings& push, const TPushAddress& address) {
    QString base = push.server.trimmed();
    if (base.isEmpty())
        base = QStringLiteral("https://") + address.host;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl server(base, QUrl::StrictMode);
    const QString scheme = server.scheme().toLower();
    if (!server.isValid() || server.host().isEmpty() || server.hasQuery() || server.hasFragment() ||
        (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
        throw EAutomationError(QStringLiteral("The push server \"%1\" (Server= in [Push]) is not "
                                              "a valid https:// address.")
                                   .arg(OneLine(base)));
    if (scheme == QLatin1String("http") && !IsLoopbackHost(server.host()))
        throw EAutomationError(
            QStringLiteral("The push server %1 would get the notice unencrypted: plain http:// "
                           "is only for a server on this computer (127.0.0.1 or localhost). Use "
                           "its https:// address in Server= of [Push].")
                .arg(ShownServer(server)));
    return QUrl(base + QLatin1Char('/') + address.topic, QUrl::StrictMode);
}

QString ShownServer(const QUrl& url) {
    return url.port() > 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port()) : url.host();
}

QString PushRouteText(const QString& topic, const QUrl& url) {
    return QStringLiteral("sent to ntfy topic %1 on %2").arg(topic, ShownServer(url));
}

QString PushKeyringAccount(const QUrl& url) {
    return QStringLiteral("ntfy@") + ShownServer(url);
}

TNtfyPublisher::TNtfyPublisher(TPushSettings push, int timeoutSeconds, QString caFile)
    : push(std::move(push)), timeoutSeconds(timeoutSeconds), caFile(std::move(caFile)) {}

QString TNtfyPublisher::Token(const TPushAddress& address) const {
    if (!address.token.isEmpty())
        return address.token;
    if (!push.token.isEmpty())
        return push.token;
    if (!push.tokenCommand.trimmed().isEmpty())
        return RunSecretCommand(push.tokenCommand, timeoutSeconds, QStringLiteral("token command"));
    return {};
}

// A public topic needs no token, so the keyring (which may take a while to
// answer) is asked only once the server wants one.
QString TNtfyPublisher::KeyringToken(const QUrl& url) {
    if (!keyringToken)
        keyringToken = ReadKeyringPassword(PushKeyringAccount(url));
    return *keyringToken;
}

TNtfyPublisher::TAnswer TNtfyPublisher::Post(const QUrl& url, const QByteArray& text,
                                             const QString& token) const {
    EnsureCurl();
    const QString server = ShownServer(url);
    std::unique_ptr<CURL, TCurlDeleter> curl(curl_easy_init());
    if (!curl)
        throw EAutomationError(QStringLiteral("The connection to the push server could not be "
                                              "set up."));
    std::unique_ptr<curl_slist, TListDeleter> headers;
    const QByteArray authorization = "Authorization: Bearer " + token.toUtf8();
    for (const QByteArray& header :
         {QByteArray("Title: Ringpost"), QByteArray("Content-Type: text/plain; charset=utf-8"),
          QByteArray("Expect:"), token.isEmpty() ? QByteArray() : authorization})
        if (!header.isEmpty())
            headers.reset(curl_slist_append(headers.release(), header.constData()));
    const QByteArray address = url.toEncoded();
    TAnswer answer;
    char errorText[CURL_ERROR_SIZE] = {};
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, address.constData());
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https,http");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(handle, CURLOPT_POST, 1L);
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, text.constData());
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(text.size()));
    curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Ringpost");
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, KeepAnswer);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &answer.body);
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(timeoutSeconds));
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(timeoutSeconds));
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, errorText);
    // A server on this computer is never behind the desktop's proxy.
    if (IsLoopbackHost(url.host()))
        curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    if (!caFile.isEmpty())
        curl_easy_setopt(handle, CURLOPT_CAINFO, caFile.toUtf8().constData());
    const CURLcode result = curl_easy_perform(handle);
    const QString detail = QString::fromUtf8(errorText).trimmed();
    switch (result) {
    case CURLE_OK:
        break;
    case CURLE_OPERATION_TIMEDOUT:
        Refuse(QStringLiteral("The push server %1 did not answer within %2 seconds.")
                   .arg(server)
                   .arg(timeoutSeconds));
    case CURLE_COULDNT_RESOLVE_HOST:
        Refuse(QStringLiteral("The push server \"%1\" could not be found.").arg(server));
    case CURLE_COULDNT_CONNECT:
        Refuse(QStringLiteral("Could not connect to the push server %1: the connection was "
                              "refused or the server is not reachable.")
                   .arg(server));
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        Refuse(QStringLiteral("The secure connection to the push server %1 failed; its "
                              "certificate could not be verified: %2")
                   .arg(server, detail));
    case CURLE_SSL_CONNECT_ERROR:
        Refuse(QStringLiteral("The secure connection to the push server %1 failed: %2")
                   .arg(server, detail));
    default:
        Refuse(QStringLiteral("Sending to the push server %1 failed: %2")
                   .arg(server,
                        detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(result)) : detail));
    }
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &answer.status);
    char* location = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
        answer.location = QString::fromUtf8(location);
    return answer;
}

namespace {

[[noreturn]] void RefuseAnswer(long status, const QByteArray& body, const QString& location,
                               const QString& topic, const QString& server, bool hadToken) {
    if (status >= 300 && status < 400) {
        const bool plain = location.startsWith(QLatin1String("http:"), Qt::CaseInsensitive);
        Refuse(plain ? QStringLiteral("The push server %1 redirected the notice to an unencrypted "
                                      "http:// address (%2); Ringpost refuses that. Set Server= "
                                      "in [Push] to the server's https:// address.")
                           .arg(server, OneLine(location))
                     : QStringLiteral("The push server %1 redirected the notice to %2; Ringpost "
                                      "does not follow redirects. Set Server= in [Push] to the "
                                      "server's real address.")
                           .arg(server, OneLine(location)));
    }
    const QString words = ServerWords(body);
    switch (status) {
    case 401:
        Refuse(hadToken ? QStringLiteral("The push server %1 refused the access token for topic "
                                         "%2 (401 unauthorized%3): it is wrong or has expired.")
                              .arg(server, topic, words)
                        : QStringLiteral("The push server %1 wants an access token for topic %2 "
                                         "(401 unauthorized%3): set Token= in [Push] or use "
                                         "ntfy-TOPIC+TOKEN@HOST.")
                              .arg(server, topic, words));
    case 403:
        Refuse(QStringLiteral("The push server %1 does not allow publishing to topic %2 (403 "
                              "forbidden%3): the topic is reserved, or the access token may not "
                              "write to it.")
                   .arg(server, topic, words));
    case 429:
        Refuse(QStringLiteral("The push server %1 refused the notice: too many messages in a short "
                              "time (429 rate limit%2). Later notices go through once the limit "
                              "has passed.")
                   .arg(server, words));
    default:
        break;
    }
    if (status >= 400 && status < 500)
        Refuse(QStringLiteral("The push server %1 refused the notice for topic %2 (HTTP %3%4).")
                   .arg(server, topic)
                   .arg(status)
                   .arg(words));
    if (status >= 500)
        Refuse(QStringLiteral("The push server %1 failed to take the notice (HTTP %2%3).")
                   .arg(server)
                   .arg(status)
                   .arg(words));
    Refuse(QStringLiteral("The push server %1 gave an unexpected answer (HTTP %2).")
               .arg(server)
               .arg(status));
}

} // namespace

QString TNtfyPublisher::Publish(const TPushAddress& address, const QString& subject,
                                const QString& body) {
    const QUrl url = PublishUrl(push, address);
    const QByteArray text = NoticeText(subject, body).toUtf8();
    QString token = Token(address);
    TAnswer answer = Post(url, text, token);
    if ((answer.status == 401 || answer.status == 403) && token.isEmpty()) {
        const QString stored = KeyringToken(url);
        if (!stored.isEmpty()) {
            token = stored;
            answer = Post(url, text, token);
        }
    }
    if (answer.status >= 200 && answer.status < 300)
        return PushRouteText(address.topic, url);
    RefuseAnswer(answer.status, answer.body, answer.location, address.topic, ShownServer(url),
                 !token.isEmpty());
}

} // namespace rp::mailstore
