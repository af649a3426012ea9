// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The three state files: a 4-byte version (4) and the records back to back,
// little-endian, with 256-byte short-string keys and no count or trailer.

#include "engine/SortedList.h"
#include "engine/TrackedRecords.h"

#include <QString>
#include <stdexcept>

namespace rp {

inline constexpr int StateFileVersion = 4;
inline constexpr int TaskRecordSize = 307;
inline constexpr int NotifyRecordSize = 273;
inline constexpr int EmailRecordSize = 264;

// A load or save that went wrong; the message is the one shown in the status bar,
// e.g. "Cannot open file TASK.CLD" or "Stream read error". The reason, where the
// system gave one, is its text for the errno ("Read-only file system").
class EStateFileError : public std::runtime_error {
public:
    explicit EStateFileError(const QString& message, const QString& reason = {})
        : std::runtime_error(message.toStdString()), text(message), why(reason) {}
    const QString& Message() const { return text; }
    const QString& Reason() const { return why; }

private:
    QString text;
    QString why;
};

// A file that a newer version of the program wrote: its records cannot be read
// here, and replacing it would lose them for that version.
class ENewerStateFile : public EStateFileError {
public:
    explicit ENewerStateFile(int version)
        : EStateFileError(QStringLiteral("Stream read error")), fileVersion(version) {}
    int Version() const { return fileVersion; }

private:
    int fileVersion;
};

// Loading adds the file's records to the list; a missing file loads nothing,
// silently. A file that is not whole throws EStateFileError, the records read
// completely before the fault staying in the list; one that does not start with
// version 4 loads nothing and throws too, ENewerStateFile for a later version.
void LoadTaskFile(const QString& path, TSortedList<TTaskEvent>& list);
void LoadNotifyFile(const QString& path, TSortedList<TEventItem>& list);
void LoadEmailFile(const QString& path, TSortedList<TEmailItem>& list);

// Saving replaces the file atomically: the old file stays whole until the new
// one is complete. A file whose content would not change is not rewritten.
void SaveTaskFile(const QString& path, const TSortedList<TTaskEvent>& list);
void SaveNotifyFile(const QString& path, const TSortedList<TEventItem>& list);
void SaveEmailFile(const QString& path, const TSortedList<TEmailItem>& list);

// The record encodings, exposed for tests and tools.
QByteArray EncodeRecord(const TTaskEvent& record);
QByteArray EncodeRecord(const TEventItem& record);
QByteArray EncodeRecord(const TEmailItem& record);

} // namespace rp
