// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/SignIn.h"

#include "platform/net/OnlineAccounts.h"

#include <QUrl>

namespace rp::mailstore {

namespace {

QString ServiceName(TMailService service) {
    return service == TMailService::Imap ? QStringLiteral("IMAP") : QStringLiteral("SMTP");
}

QString UrlOf(const TOnlineServer& server, TMailService service) {
    QUrl url;
    url.setScheme(service == TMailService::Imap
                      ? (server.implicitTls ? QStringLiteral("imaps") : QStringLiteral("imap"))
                      : (server.implicitTls ? QStringLiteral("smtps") : QStringLiteral("smtp")));
    url.setHost(server.host);
    url.setPort(server.port);
    if (service == TMailService::Imap)
        url.setPath(QStringLiteral("/INBOX"));
    return url.toString();
}

} // namespace

QString ESignInError::Explained() const {
    if (errorLine.isEmpty())
        return Message();
    return QStringLiteral("%1 It said: %2").arg(Message(), errorLine);
}

TSignInSource::TSignInSource(TLogin login, TSignIn signIn, TMailService service,
                             TOnlineAccountsFactory accounts)
    : login(std::move(login)), signIn(std::move(signIn)), service(service),
      accounts(std::move(accounts)) {}

TServerLogin TSignInSource::Login(bool renew) const {
    if (!signIn.OAuth2())
        return TServerLogin::WithPassword(login.url, login.user, ResolveLoginPassword(login));
    if (signIn.FromOnlineAccounts())
        return FromOnlineAccounts(renew);
    return FromTokenCommand();
}

// The command is asked afresh every time: token helpers renew an expired token
// themselves, so a second run after a refusal is the renewal.
TServerLogin TSignInSource::FromTokenCommand() const {
    if (signIn.tokenCommand.trimmed().isEmpty())
        throw ESignInError(QStringLiteral("Auth=oauth2 needs TokenCommand= (a command that prints "
                                          "an access token) or Account=goa."));
    if (login.user.isEmpty())
        throw ESignInError(QStringLiteral("Auth=oauth2 needs User=, the account's address as the "
                                          "%1 server knows it.")
                               .arg(ServiceName(service)));
    const QString token =
        RunSecretCommand(signIn.tokenCommand, login.timeoutSeconds, QStringLiteral("token command"))
            .trimmed();
    if (token.isEmpty())
        throw ESignInError(QStringLiteral("The token command printed no token."));
    return {login.url, login.user, token, true,
            QStringLiteral("Check that the token command prints a current token for %1.")
                .arg(login.user)};
}

TServerLogin TSignInSource::FromOnlineAccounts(bool renew) const {
    const std::unique_ptr<IOnlineAccounts> online =
        accounts ? accounts() : ConnectOnlineAccounts(login.timeoutSeconds);
    const TOnlineMailAccount account = PickMailAccount(online->MailAccounts(), signIn.account);
    const QString kind = ServiceName(service);
    if (!account.oauth2)
        throw ESignInError(QStringLiteral("The Online Accounts mail account %1 (%2) signs in with "
                                          "a password, not OAuth2; name its server with "
                                          "Auth=password instead.")
                               .arg(account.address, account.provider));
    const std::optional<TOnlineServer>& server =
        service == TMailService::Imap ? account.imap : account.smtp;
    if (!server)
        throw ESignInError(QStringLiteral("The Online Accounts mail account %1 has no %2 server.")
                               .arg(account.address, kind));
    if (!server->Encrypted())
        throw ESignInError(QStringLiteral("The Online Accounts mail account %1 reaches its %2 "
                                          "server %3 unencrypted; a token goes only over TLS.")
                               .arg(account.address, kind, server->host));
    const QString token = online->AccessToken(account, renew);
    return {UrlOf(*server, service), server->user.isEmpty() ? account.address : server->user, token,
            true, QStringLiteral("Sign in again in Settings, Online Accounts.")};
}

TSignInSource SignInOf(const TSourceSettings& settings) {
    return TSignInSource({settings.user, settings.password, settings.passwordCommand, settings.url,
                          settings.timeoutSeconds},
                         settings.signIn, TMailService::Imap);
}

TSignInSource SignInOf(const TSendSettings& settings) {
    return TSignInSource({settings.user, settings.password, settings.passwordCommand,
                          settings.url.trimmed(), settings.timeoutSeconds},
                         settings.signIn, TMailService::Smtp);
}

} // namespace rp::mailstore
