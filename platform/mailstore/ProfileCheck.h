// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What in a MailStore.ini file Ringpost does not understand: a section or key it
// does not know, a value it cannot use. Each problem names the file, the section
// and the line; the rest of the profile works as written.

#include <QStringList>

namespace rp::mailstore {

// One line per problem, e.g. `MailStore.ini line 12 [Send]: Transport=stmp is not
// known (outbox, smtp or sendmail); outbox is used.` An unreadable file gives none
// (loading reports that).
QStringList CheckProfileText(const QString& path, const QByteArray& text);
QStringList CheckProfile(const QString& path);

} // namespace rp::mailstore
