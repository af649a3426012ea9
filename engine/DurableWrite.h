// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Low-level pieces of the atomic file replacement that the state files, the
// settings file and the mail store each do their own way.

#include <QByteArray>
#include <QString>

namespace rp {

// Writes every byte, going on after short writes and signals; false on an error.
bool WriteAll(int fd, const QByteArray& bytes);

// Flushes the folder's entries, so a rename into it survives a power cut.
void SyncFolder(const QString& folder);

} // namespace rp
