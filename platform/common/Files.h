// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// File access shared by every room of the platform layer: cheap change
// detection, whole-file reads that fail with a message naming the file, and
// atomic replacement.

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <cstdint>

Q_DECLARE_LOGGING_CATEGORY(lcMailStore)

namespace rp::mailstore {

// What stat() tells about a file; two equal stamps mean "not changed on disk".
struct TFileStamp {
    bool exists = false;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t inode = 0;
    bool operator==(const TFileStamp&) const = default;
};

TFileStamp StampOf(const QString& path);

// The whole file; throws EAutomationError naming `what` and the file.
QByteArray ReadWholeFile(const QString& path, const QString& what);

// Replaces `path` durably (WriteFileDurably), so a reader never sees half a file.
// Keeps the old file's mode unless `forceMode`, else uses `newMode`. Throws
// EAutomationError naming the file: the mail store writes this way while the
// engine polls.
void ReplaceFileAtomically(const QString& path, const QByteArray& data, unsigned newMode = 0600,
                           bool forceMode = false);

// Creates `path` and its parents where missing; throws EAutomationError naming it.
void EnsureFolder(const QString& path);
// Creates cur/, new/ and tmp/ under `path` where missing.
void EnsureMaildir(const QString& path);

// The message text for an errno value.
QString SystemErrorText(int error);

} // namespace rp::mailstore
