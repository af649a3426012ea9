// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The mail store profile: where the calendar, tasks and inbox are and how mail
// leaves. One INI file, like a mail program's own profile.

#include "platform/PlatformError.h"

#include <QString>

namespace rp::mailstore {

enum class TTransportKind { Outbox, Smtp, Sendmail };

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
};

// [Push]: ntfy-TOPIC@HOST addresses are published straight to an ntfy server.
struct TPushSettings {
    QString server; // empty: https://HOST of the address
    QString token;
    QString tokenCommand;
    bool direct = true; // false: such addresses go by mail like any other
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
    bool operator==(const TSourceSettings&) const = default;
};

struct TMailStoreProfile {
    QString calendarPath;
    QString tasksPath;
    QString inboxPath;
    TSourceSettings calendarServer;
    TSourceSettings tasksServer;
    TSourceSettings inboxServer;
    TSendSettings send;
    TPushSettings push;
    // True when no profile file exists and the embedded default store serves.
    bool isDefault = false;
};

// ${XDG_CONFIG_HOME:-$HOME/.config}/Amberfold/MailStore.ini
QString DefaultProfilePath();
// ${XDG_DATA_HOME:-$HOME/.local/share}/Amberfold/Ringpost
QString DefaultStoreFolder();

// ${XDG_CACHE_HOME:-$HOME/.cache}/Amberfold/Ringpost: last good copies of the
// servers' data. Files there are mode 0600.
QString DefaultCacheFolder();

// The profile at `path`; the embedded default (in `storeFolder`) when there is
// no such file. Paths and keys left out take their defaults.
TMailStoreProfile LoadProfile(const QString& path, const QString& storeFolder);
// A profile that cannot be saved; the Mail Store dialog shows the text.
class EProfileError : public EPlatformError {
public:
    using EPlatformError::EPlatformError;
};

// Writes the profile with mode 0600; throws EProfileError naming the file.
void SaveProfile(const TMailStoreProfile& profile, const QString& path);

// Creates the default store's files and Maildirs where they are missing.
void CreateDefaultStore(const QString& storeFolder);
// Creates cur/, new/ and tmp/ under `path` where missing.
void EnsureMaildir(const QString& path);

// A server address as typed: trimmed, webcal:// read as https://.
QString NormalizedSourceUrl(const QString& url);

QString TransportName(TTransportKind kind);
TTransportKind TransportFromName(const QString& name);
QString DefaultFromAddress();

} // namespace rp::mailstore
