// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Compact records of what the engine reads from calendar and task files: the
// parse tree is dropped as soon as a file has been read.

#include "engine/DateTime.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace rp::mailstore {

// No recurrence kind of the object model fits (hourly and finer rules).
inline constexpr int kRecursOther = 7;

class TIcalZone;
class TSourceCache;
struct TAppointmentRecord;

// The addresses by which the user is invited to meetings, as CalendarAddress
// gives them.
using TUserAddresses = std::set<QByteArray>;
// An attendee's address, a profile's user or a CalDAV calendar user address in
// one form: trimmed, without "mailto:" or a display name, in lower case.
QByteArray CalendarAddress(QByteArrayView address);

// What an event says about reminding the user, besides its time and texts. An
// override of one occurrence may say otherwise than its series.
struct TReminderTraits {
    int minutes = 15; // before the start; negative after it (an all-day alarm)
    bool set = false; // the event has an alarm of its own
    bool allDay = false;
    uint8_t response = 0; // the user's answer, olResponse...
};

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
    TReminderTraits reminder;
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

    // Adds `more`'s items after these.
    void Append(const TIcsContents& more) {
        appointments.insert(appointments.end(), more.appointments.begin(), more.appointments.end());
        tasks.insert(tasks.end(), more.tasks.begin(), more.tasks.end());
    }
    // The tasks are never moved on: their source is read only, or its version
    // of them is not known.
    void KeepTasksInPlace() {
        for (auto& task : tasks) {
            auto fixed = std::make_shared<TTaskRecord>(*task);
            fixed->hasNextOccurrence = false;
            task = std::move(fixed);
        }
    }
};

// Reads every VEVENT and VTODO of one iCalendar text, the file `filePath` or
// the item of that key in `cache`. Items that cannot be understood are skipped
// and logged; false when the text is no iCalendar data. The user's answers to
// invitations are read for the addresses in `user`.
bool ParseIcsText(const QByteArray& text, const QString& filePath, TIcsContents& contents,
                  std::shared_ptr<TSourceCache> cache = nullptr, const TUserAddresses& user = {});

} // namespace rp::mailstore
