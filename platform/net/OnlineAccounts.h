// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's GNOME Online Accounts, asked over its D-Bus interface: the mail
// accounts it holds (server, user, how it signs in) and a current OAuth2 access
// token for one of them. Every call blocks up to its time-out, so it is made on
// a worker or polling thread, never on the GUI thread.

#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace rp::mailstore {

// One server of a mail account: where it is and how the connection is secured.
struct TOnlineServer {
    QString host;
    int port = 0;
    bool implicitTls = false; // TLS from the start (imaps://, smtps://)
    bool startTls = false;    // upgraded after connecting
    QString user;
    bool Encrypted() const { return implicitTls || startTls; }
};

struct TOnlineMailAccount {
    QString id;       // the account's object, e.g. account_1700000000_0
    QString address;  // the mail address
    QString provider; // "Google", "Microsoft", "IMAP and SMTP"...
    bool oauth2 = false;
    bool attentionNeeded = false; // Online Accounts wants the user to sign in again
    std::optional<TOnlineServer> imap;
    std::optional<TOnlineServer> smtp;
};

class IOnlineAccounts {
public:
    virtual ~IOnlineAccounts() = default;
    // Every account with mail switched on. Throws ESignInError when Online
    // Accounts does not answer.
    virtual std::vector<TOnlineMailAccount> MailAccounts() = 0;
    // A current access token. `renew`: the server refused the last one, so the
    // account's sign-in is checked with its provider first. Throws ESignInError.
    virtual QString AccessToken(const TOnlineMailAccount& account, bool renew) = 0;
};

// Online Accounts on the session bus (DBUS_SESSION_BUS_ADDRESS as it is when
// called), each call bounded by `timeoutSeconds`.
std::unique_ptr<IOnlineAccounts> ConnectOnlineAccounts(int timeoutSeconds);

// The account Account= names: "goa" takes the only OAuth2 mail account there
// is, "goa:ADDRESS" the one with that address. Throws ESignInError naming what
// is there when none or several fit.
TOnlineMailAccount PickMailAccount(const std::vector<TOnlineMailAccount>& accounts,
                                   const QString& choice);

// "goa" or "goa:ADDRESS": the Account= value that names `address`.
QString OnlineAccountChoice(const QString& address);
// The other way: the address `choice` names, empty for a bare "goa"; none when
// `choice` is neither.
std::optional<QString> OnlineAccountAddress(const QString& choice);

} // namespace rp::mailstore
