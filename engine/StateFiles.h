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
// e.g. "Cannot open file TASK.CLD" or "Stream read error".
class EStateFileError : public std::runtime_error {
public:
    explicit EStateFileError(const QString& message)
        : std::runtime_error(message.toStdString()), text(message) {}
    const QString& Message() const { return text; }

private:
    QString text;
};

// Loading adds the file's records to the list. A missing file or a wrong version
// loads nothing, silently. Records read completely before an error stay.
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
