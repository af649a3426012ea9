// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one way Ringpost replaces a file it owns (state files, settings file, mail
// store files): a crash, a power cut or a full disk leaves either the old file or
// the new one, never a mix, and never a stray temporary.

#include <QByteArray>
#include <QString>
#include <functional>
#include <sys/types.h>

namespace rp {

// Where a replacement stopped.
enum class TWriteStep {
    None,            // it did not stop: the file holds the new bytes
    CreateTemporary, // no temporary could be made beside the file
    Write,           // the bytes did not all reach the disk (full disk, I/O error)
    Rename,          // the temporary could not take the file's place
};

// The outcome of a replacement. A failure carries the errno of the step that
// failed and a text for the user naming the file and the reason.
struct [[nodiscard]] TWriteResult {
    TWriteStep failedStep = TWriteStep::None;
    int error = 0;
    QString text;

    bool Ok() const { return failedStep == TWriteStep::None; }
};

// Writes `bytes` to a new temporary file beside `path` (never following a link,
// never reusing an existing name), syncs it, renames it over `path` and syncs the
// folder. The file gets `mode` whatever the umask says. On any failure the
// temporary is removed and `path` is left as it was.
TWriteResult WriteFileDurably(const QString& path, const QByteArray& bytes, mode_t mode);

// The same with the temporary's names taken from `nextName`, so a test can plant
// a link or a file where the temporary would go.
TWriteResult WriteFileDurably(const QString& path, const QByteArray& bytes, mode_t mode,
                              const std::function<QString()>& nextName);

// True when `fileName` is the name a replacement of `path` gives its temporary.
bool IsTemporaryOf(const QString& path, const QString& fileName);

// A save killed between creating its temporary and the rename leaves it behind;
// this removes those of `path` old enough that no save in flight can own them.
// It lists the folder, so a caller writing many files into one folder skips it.
void RemoveStaleTemporaries(const QString& path);

// Keeps a copy of a file that could not be read beside it, as "<path>.unreadable",
// or ".unreadable.1" and on when an earlier copy with other bytes holds the name
// (an earlier copy is never overwritten; one with the same bytes is reused). The
// copy is readable by the user alone and on disk before this returns, so the file
// may be replaced afterwards. Returns the copy's path, or empty when none could be made.
QString KeepUnreadableCopy(const QString& path);

} // namespace rp
