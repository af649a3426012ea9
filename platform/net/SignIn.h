// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What an IMAP or SMTP server is given to sign in: the password, as before, or
// with Auth=oauth2 an access token from TokenCommand= or from GNOME Online
// Accounts (which then also names the server and the user). libcurl speaks the
// SASL mechanisms (OAUTHBEARER, XOAUTH2); this only finds what to send. A token
// is never written anywhere: not to a log, a status text or a file.

#include "engine/OutlookModel.h"
#include "platform/common/ProfileTypes.h"
#include "platform/net/Keyring.h"

#include <QString>
#include <functional>
#include <memory>

namespace rp::mailstore {

class IOnlineAccounts;

// A sign-in that failed before a server was asked: the password or token
// command, or Online Accounts. Message() is safe for the status bar and the log.
class ESignInError : public outlook::EAutomationError {
public:
    explicit ESignInError(const QString& message, QString errorLine = {})
        : EAutomationError(message), errorLine(std::move(errorLine)) {}
    // The command's first line of error output: shown by the dialog's Test
    // only, never logged (a helper may print more than it should).
    const QString& ErrorLine() const { return errorLine; }
    // Message() and the error line, for the dialog.
    QString Explained() const;

private:
    QString errorLine;
};

enum class TMailService { Imap, Smtp };

struct TServerLogin {
    QString url; // the section's Url=, or the Online Accounts server's
    QString user;
    QString secret; // the password or the access token
    bool bearer = false;
    // For a refused token: what the user can do about it.
    QString advice;

    static TServerLogin WithPassword(const QString& url, const QString& user,
                                     const QString& password) {
        return {url, user, password, false, {}};
    }
};

// The login; `renew` after the server refused the token handed out last.
using TLoginSource = std::function<TServerLogin(bool renew)>;

// Runs `attempt(login)`; when it throws an `Error` that `refused` takes for a
// turned-down token, a fresh token is fetched once and `attempt` runs again. A
// second refusal reaches the caller.
template <class Error, class Attempt, class Refused>
auto WithTokenRenewal(TServerLogin& login, const TLoginSource& source, Attempt&& attempt,
                      Refused&& refused) {
    try {
        return attempt(login);
    } catch (const Error& error) {
        if (!login.bearer || !refused(error))
            throw;
    }
    login = source(true);
    return attempt(login);
}

using TOnlineAccountsFactory = std::function<std::unique_ptr<IOnlineAccounts>()>;

// The login of one [Inbox] or [Send] section, found again on request.
class TSignInSource {
public:
    // `accounts` reaches Online Accounts (the session bus's when empty).
    TSignInSource(TLogin login, TSignIn signIn, TMailService service,
                  TOnlineAccountsFactory accounts = {});

    // `renew`: the server refused the token handed out last, so a fresh one is
    // asked for. Throws ESignInError (or EAutomationError from the keyring side).
    TServerLogin Login(bool renew = false) const;
    TServerLogin operator()(bool renew) const { return Login(renew); }

private:
    TServerLogin FromTokenCommand() const;
    TServerLogin FromOnlineAccounts(bool renew) const;

    TLogin login;
    TSignIn signIn;
    TMailService service;
    TOnlineAccountsFactory accounts;
};

TSignInSource SignInOf(const TSourceSettings& settings);
TSignInSource SignInOf(const TSendSettings& settings);

} // namespace rp::mailstore
