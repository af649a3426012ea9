// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The profile's values as every part of the mail store reads them: where a
// calendar, task list or inbox is served from and how mail leaves. Reading and
// writing the profile file is platform/mailstore/MailStoreProfile.h.

#include <QString>
#include <QStringList>

namespace rp::mailstore {

enum class TTransportKind { Outbox, Smtp, Sendmail };

// How an IMAP or SMTP login proves itself ([Inbox] and [Send]): with a password
// (Auth=password, the default) or with an OAuth2 access token (Auth=oauth2), taken
// from TokenCommand= or, with Account=goa or goa:ADDRESS, from GNOME Online
// Accounts, which then also names the server and the user.
enum class TAuthKind { Password, OAuth2 };

struct TSignIn {
    TAuthKind auth = TAuthKind::Password;
    QString tokenCommand;
    QString account;
    bool OAuth2() const { return auth == TAuthKind::OAuth2; }
    // Server, user and token all come from the desktop's Online Accounts.
    bool FromOnlineAccounts() const { return OAuth2() && !account.trimmed().isEmpty(); }
    bool operator==(const TSignIn&) const = default;
};

struct TSendSettings {
    TTransportKind transport = TTransportKind::Outbox;
    QString url;
    bool startTls = true;
    QString user;
    QString password;
    QString passwordCommand;
    QString caFile;
    int timeoutSeconds = 30;
    QString command = QStringLiteral("/usr/sbin/sendmail -t -i");
    QString from;
    QString outboxPath;
    TSignIn signIn;
};

// [Push]: ntfy-TOPIC@HOST addresses are published straight to an ntfy server;
// Apprise URLs (tgram://..., gotify://...) are handed to the apprise command.
struct TPushSettings {
    QString server; // empty: https://HOST of the address
    QString token;
    QString tokenCommand;
    bool direct = true;  // false: such addresses go by mail like any other
    bool apprise = true; // false: Apprise URLs are sent nowhere
};

// A server behind a calendar, task list or inbox. An empty `url` means the
// section's Path= (local files) serves.
struct TSourceSettings {
    QString url;
    QString user;
    QString password;
    QString passwordCommand;
    QString caFile;
    int timeoutSeconds = 30;
    bool startTls = true; // [Inbox] imap:// only
    TSignIn signIn;       // [Inbox] only
    // A server serves this source (else the section's Path=).
    bool HasServer() const { return !url.isEmpty() || signIn.FromOnlineAccounts(); }
    bool operator==(const TSourceSettings&) const = default;
};

// [Calendar] or [Tasks] Source=desktop: the desktop's own store serves, every
// calendar (task list) switched on there, or only those `names` names (display
// name or UID). Path= and Url= then wait unused.
struct TDesktopSelection {
    bool on = false;
    QStringList names;
    bool operator==(const TDesktopSelection&) const = default;
};

struct TMailStoreProfile {
    QString calendarPath;
    QString tasksPath;
    QString inboxPath;
    TSourceSettings calendarServer;
    TSourceSettings tasksServer;
    TSourceSettings inboxServer;
    // [Calendar] Me=: addresses the user is invited by besides the accounts' own.
    QStringList calendarMe;
    TSendSettings send;
    TPushSettings push;
    // True when no profile file exists and the embedded default store serves.
    bool isDefault = false;
    // What the file holds that Ringpost does not understand, one line each naming
    // the file, the line and the section (ProfileCheck.h); never saved.
    QStringList problems;
    TDesktopSelection calendarDesktop;
    TDesktopSelection tasksDesktop;
};

} // namespace rp::mailstore
