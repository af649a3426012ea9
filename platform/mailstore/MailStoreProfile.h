// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The mail store profile: where the calendar, tasks and inbox are and how mail
// leaves. One INI file, like a mail program's own profile. Its value types are in
// platform/common/ProfileTypes.h, so every room can read them.

#include "platform/common/PlatformError.h"
#include "platform/common/ProfileTypes.h"

#include <QString>
#include <optional>

namespace rp::mailstore {

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

// Whether the profile reads its local calendar, task or inbox path: no server
// and no desktop store serves that part.
bool ReadsCalendarPath(const TMailStoreProfile& profile);
bool ReadsTasksPath(const TMailStoreProfile& profile);
bool ReadsInboxPath(const TMailStoreProfile& profile);

// A switch's value: true, 1, yes or on; false, 0, no or off (in any case); none
// for any other word.
std::optional<bool> FlagOf(const QString& text);

// `path` with a leading ~ read as the home folder.
QString ExpandHome(const QString& path);

// A server address as typed: trimmed, webcal:// read as https://.
QString NormalizedSourceUrl(const QString& url);

QString TransportName(TTransportKind kind);
TTransportKind TransportFromName(const QString& name);
QString DefaultFromAddress();

} // namespace rp::mailstore
