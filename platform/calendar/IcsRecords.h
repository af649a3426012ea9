// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Compact records of what the engine reads from calendar and task files: the
// parse tree is dropped as soon as a file has been read.

#include "engine/DateTime.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace rp::mailstore {

// No recurrence kind of the object model fits (hourly and finer rules).
inline constexpr int kRecursOther = 7;

class TIcalZone;
class TSourceCache;
struct TAppointmentRecord;

// A deleted (EXDATE, or an override STATUS:CANCELLED) or changed (RECURRENCE-ID)
// occurrence, by its original start in the pattern's zone.
struct TExceptionRecord {
    TDateTime originalDate = 0;
    std::shared_ptr<const TAppointmentRecord> changed; // null: deleted
};

// Days and times are wall times of `zone` (null: local time).
struct TRecurrenceRecord {
    int type = 0;
    int interval = 1;
    int dayOfWeekMask = 0;
    int dayOfMonth = 0;
    int occurrences = 0;
    TDateTime patternStartDate = 0;
    TDateTime patternEndDate = 0;
    bool noEndDate = true;
    TDateTime startTime = 0;
    std::shared_ptr<const TIcalZone> zone;
    std::vector<TExceptionRecord> exceptions;
};

// Ten thousand of these stay in memory all day: the texts are UTF-8 sized to fit,
// and the pattern, which most appointments lack, is held apart.
struct TAppointmentRecord {
    TDateTime start = 0;
    QByteArray subject;  // UTF-8
    QByteArray location; // UTF-8
    int reminderMinutes = 15;
    std::shared_ptr<const TRecurrenceRecord> recurrence;
};

// Where a task lives, so a change can be written back: the user's own file, or
// an item of a source's last good copy (`filePath` is then the item's key).
struct TTaskOrigin {
    QString filePath;
    int ordinal = 0; // the task's place among the file's VTODO components
    QByteArray uid;
    std::shared_ptr<TSourceCache> cache;
};

struct TTaskRecord {
    QString subject;
    TDateTime startDate = 0;
    TDateTime dueDate = 0;
    bool complete = false;
    bool reminderSet = false;
    TDateTime reminderTime = 0;
    bool recurring = false;
    // False when the rule has no occurrence after the current one: skipping then
    // needs no look at the file.
    bool hasNextOccurrence = false;
    TTaskOrigin origin;
};

struct TIcsContents {
    std::vector<std::shared_ptr<const TAppointmentRecord>> appointments;
    std::vector<std::shared_ptr<const TTaskRecord>> tasks;
};

// Reads every VEVENT and VTODO of one iCalendar text, the file `filePath` or
// the item of that key in `cache`. Items that cannot be understood are skipped
// and logged; false when the text is no iCalendar data.
bool ParseIcsText(const QByteArray& text, const QString& filePath, TIcsContents& contents,
                  std::shared_ptr<TSourceCache> cache = nullptr);

} // namespace rp::mailstore
