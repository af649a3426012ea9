// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/OutlookModel.h"
#include "platform/delivery/MailTransport.h"
#include "platform/net/Curl.h"
#include "platform/net/Keyring.h"
#include "platform/net/SignIn.h"

#include <QUrl>
#include <cstring>
#include <optional>

namespace rp::mailstore {

namespace {

using outlook::EAutomationError;

// What was said last on the SMTP connection, to tell the user which step failed.
struct TConversation {
    QByteArray lastCommand; // the verb only: no credentials are kept
    QByteArray lastReply;
    // The first 4xx or 5xx reply and the command it answered; QUIT follows it.
    QByteArray refusedCommand;
    QByteArray refusal;
    bool offersOAuth2 = false; // its EHLO named XOAUTH2 or OAUTHBEARER
};

// A send that failed, and whether the server turned the login down.
class ESmtpFailure : public EAutomationError {
public:
    ESmtpFailure(const QString& message, bool loginDenied, bool tokenRefused)
        : EAutomationError(message), loginDenied(loginDenied), tokenRefused(tokenRefused) {}
    bool LoginDenied() const { return loginDenied; }
    bool TokenRefused() const { return tokenRefused; }

private:
    bool loginDenied;
    bool tokenRefused;
};

struct TUpload {
    const QByteArray* text = nullptr;
    qsizetype sent = 0;
};

size_t ReadMessage(char* buffer, size_t size, size_t count, void* userData) {
    auto* upload = static_cast<TUpload*>(userData);
    const qsizetype room = static_cast<qsizetype>(size * count);
    const qsizetype chunk = std::min(room, upload->text->size() - upload->sent);
    std::memcpy(buffer, upload->text->constData() + upload->sent, static_cast<size_t>(chunk));
    upload->sent += chunk;
    return static_cast<size_t>(chunk);
}

QByteArray CommandVerb(const QByteArray& line) {
    qsizetype end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != ':')
        ++end;
    return line.left(end).toUpper();
}

void NoteReply(TConversation& conversation, const QByteArray& reply) {
    conversation.lastReply = reply;
    const bool refused = reply.startsWith('4') || reply.startsWith('5');
    if (refused && conversation.refusal.isEmpty()) {
        conversation.refusal = reply;
        conversation.refusedCommand = conversation.lastCommand;
    }
}

int Listen(CURL*, curl_infotype type, char* data, size_t size, void* userData) {
    auto* conversation = static_cast<TConversation*>(userData);
    const QByteArray text = QByteArray(data, static_cast<qsizetype>(size)).trimmed();
    if (type == CURLINFO_HEADER_OUT)
        conversation->lastCommand = CommandVerb(text);
    else if (type == CURLINFO_HEADER_IN && !text.isEmpty()) {
        NoteReply(*conversation, text.split('\n').last().trimmed());
        const QByteArray upper = text.toUpper();
        if (upper.startsWith("250") && (upper.contains("XOAUTH2") || upper.contains("OAUTHBEARER")))
            conversation->offersOAuth2 = true;
    }
    return 0;
}

QString ReplyText(const TConversation& conversation) {
    return QString::fromUtf8(conversation.lastReply);
}

QString RefusalMessage(const TConversation& conversation, const QString& server) {
    const QString reply = QString::fromUtf8(conversation.refusal);
    const QByteArray& command = conversation.refusedCommand;
    // Refused before we said anything: at the greeting, not the message.
    if (command.isEmpty())
        return QStringLiteral("The SMTP server %1 refused the connection: %2").arg(server, reply);
    if (command == "RCPT")
        return QStringLiteral("SMTP server refused the recipient: %1").arg(reply);
    if (command == "MAIL")
        return QStringLiteral("SMTP server refused the sender: %1").arg(reply);
    if (command == "AUTH")
        return QStringLiteral("SMTP server rejected the user name or password: %1").arg(reply);
    if (command == "DATA" || command == ".")
        return QStringLiteral("SMTP server refused the message: %1").arg(reply);
    return QStringLiteral("SMTP server refused the message: %1").arg(reply);
}

class TSmtpTransport : public IMailTransport {
public:
    explicit TSmtpTransport(const TSendSettings& settings)
        : settings(settings), signIn(SignInOf(settings)) {}

    QString Send(const TComposedMessage& message) override {
        EnsureCurl();
        if (settings.url.trimmed().isEmpty() && !settings.signIn.FromOnlineAccounts())
            throw EAutomationError(QStringLiteral("No SMTP server is configured (Url)."));
        // A password is looked up once; a token is asked for every time, as its
        // helper renews it before it expires and a refused try costs a round.
        if (!login || login->bearer)
            login = signIn.Login();
        try {
            return WithTokenRenewal<ESmtpFailure>(
                *login, signIn,
                [this, &message](const TServerLogin& now) { return SendAs(now, message); },
                [](const ESmtpFailure& failure) { return failure.TokenRefused(); });
        } catch (const ESmtpFailure& failure) {
            if (failure.LoginDenied())
                login.reset(); // ask the keyring, the command or Online Accounts again next time
            throw;
        }
    }

private:
    QString SendAs(const TServerLogin& now, const TComposedMessage& message) const {
        if (now.bearer && !Encrypted(now.url))
            throw EAutomationError(QStringLiteral("An access token goes only over an encrypted "
                                                  "connection: use smtps:// or StartTLS=true for "
                                                  "the SMTP server %1.")
                                       .arg(ServerName()));
        std::unique_ptr<CURL, TCurlDeleter> curl(curl_easy_init());
        if (!curl)
            throw EAutomationError(QStringLiteral("The SMTP connection could not be set up."));
        std::unique_ptr<curl_slist, TListDeleter> recipients;
        for (const QByteArray& recipient : message.recipients)
            recipients.reset(
                curl_slist_append(recipients.release(), ('<' + recipient + '>').constData()));
        TUpload upload{&message.text, 0};
        TConversation conversation;
        char errorText[CURL_ERROR_SIZE] = {};
        Configure(curl.get(), now, message, recipients.get(), upload, conversation, errorText);
        const CURLcode result = curl_easy_perform(curl.get());
        if (result != CURLE_OK) {
            const bool denied = result == CURLE_LOGIN_DENIED;
            throw ESmtpFailure(FailureMessage(result, conversation, errorText), denied,
                               denied && now.bearer && conversation.offersOAuth2);
        }
        return QStringLiteral("The SMTP server accepted the message: %1")
            .arg(ReplyText(conversation));
    }

    bool Encrypted(const QString& url) const {
        const QString scheme = QUrl(url.trimmed()).scheme().toLower();
        return scheme == QLatin1String("smtps") ||
               (scheme == QLatin1String("smtp") && settings.startTls);
    }

    void Configure(CURL* curl, const TServerLogin& now, const TComposedMessage& message,
                   curl_slist* recipients, TUpload& upload, TConversation& conversation,
                   char* errorText) const {
        const QByteArray url = now.url.trimmed().toUtf8();
        const QByteArray from = '<' + message.envelopeFrom + '>';
        curl_easy_setopt(curl, CURLOPT_URL, url.constData());
        curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
        curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadMessage);
        curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE,
                         static_cast<curl_off_t>(message.text.size()));
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(settings.timeoutSeconds));
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(settings.timeoutSeconds));
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, Listen);
        curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &conversation);
        // A plain smtp:// URL still upgrades with STARTTLS unless the profile says not to.
        if (settings.startTls && url.startsWith("smtp://"))
            curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        if (!settings.caFile.isEmpty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, settings.caFile.toUtf8().constData());
        if (!now.user.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_USERNAME, now.user.toUtf8().constData());
            curl_easy_setopt(curl, now.bearer ? CURLOPT_XOAUTH2_BEARER : CURLOPT_PASSWORD,
                             now.secret.toUtf8().constData());
            // The token in the AUTH line itself: a refusal then ends with the
            // server's reason (535 ...), not with its JSON challenge.
            if (now.bearer)
                curl_easy_setopt(curl, CURLOPT_SASL_IR, 1L);
        }
    }

    QString ServerName() const {
        const QUrl url((login ? login->url : settings.url).trimmed());
        return url.port() > 0 ? QStringLiteral("%1:%2").arg(url.host()).arg(url.port())
                              : url.host();
    }

    QString FailureMessage(CURLcode result, const TConversation& conversation,
                           const char* errorText) const {
        const QString detail = QString::fromUtf8(errorText).trimmed();
        switch (result) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return QStringLiteral("The SMTP server \"%1\" could not be found.").arg(ServerName());
        case CURLE_COULDNT_CONNECT:
            return QStringLiteral("Could not connect to the SMTP server %1: the connection was "
                                  "refused or the server is not reachable.")
                .arg(ServerName());
        case CURLE_OPERATION_TIMEDOUT:
            return QStringLiteral("The SMTP server %1 did not answer within %2 seconds.")
                .arg(ServerName())
                .arg(settings.timeoutSeconds);
        case CURLE_LOGIN_DENIED:
            return LoginRefusal(conversation);
        case CURLE_SSL_CONNECT_ERROR:
            // The handshake itself broke off; no certificate was looked at.
            return QStringLiteral("The secure connection to the SMTP server %1 failed: %2")
                .arg(ServerName(), detail);
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
            return QStringLiteral("The secure connection to the SMTP server %1 failed; its "
                                  "certificate could not be verified: %2")
                .arg(ServerName(), detail);
        case CURLE_USE_SSL_FAILED:
            return QStringLiteral("The SMTP server %1 does not offer STARTTLS; set StartTLS=false "
                                  "only if the connection may go unencrypted.")
                .arg(ServerName());
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return QStringLiteral("The SMTP server address \"%1\" is not a valid smtp:// or "
                                  "smtps:// URL.")
                .arg(settings.url);
        default:
            break;
        }
        if (!conversation.refusal.isEmpty())
            return RefusalMessage(conversation, ServerName());
        return QStringLiteral("Sending through the SMTP server %1 failed: %2")
            .arg(ServerName(),
                 detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(result)) : detail);
    }

    QString LoginRefusal(const TConversation& conversation) const {
        const QString reply = QString::fromUtf8(conversation.refusal);
        if (!login || !login->bearer)
            return QStringLiteral("SMTP server rejected the user name or password: %1").arg(reply);
        if (!conversation.offersOAuth2)
            return QStringLiteral("The SMTP server %1 offers no OAuth2 sign-in (XOAUTH2 or "
                                  "OAUTHBEARER); send with a password there (Auth=password).")
                .arg(ServerName());
        QString reason = reply.isEmpty() ? QString() : QStringLiteral(": ") + reply;
        if (!reason.endsWith(QLatin1Char('.')))
            reason += QLatin1Char('.');
        return QStringLiteral("SMTP server rejected the access token for %1%2 %3")
            .arg(login->user, reason, login->advice);
    }

    TSendSettings settings;
    TSignInSource signIn;
    std::optional<TServerLogin> login;
};

} // namespace

std::unique_ptr<IMailTransport> CreateSmtpTransport(const TSendSettings& settings) {
    return std::make_unique<TSmtpTransport>(settings);
}

} // namespace rp::mailstore
