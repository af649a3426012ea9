// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A calendar file's recurrence set (rule, extra dates, deleted, moved and
// "this and future" changed occurrences) laid out as the object model's items:
// each item holds one pattern with its exceptions, so a set the model cannot
// hold in one pattern becomes several items.

#include "platform/calendar/IcsRecords.h"

#include <memory>
#include <vector>

namespace rp::mailstore {

// One occurrence of the set by its original start, a wall time of the
// pattern's zone (local time without one).
struct TInstanceChange {
    enum class TKind { Deleted, Added, Moved };
    TKind kind = TKind::Deleted;
    TDateTime original = 0;
    // Moved: the occurrence at its new start with its own texts.
    std::shared_ptr<const TAppointmentRecord> moved;
};

// An override that changes its occurrence and all later ones.
struct TFutureChange {
    TDateTime original = 0; // as TInstanceChange
    TDateTime shift = 0;    // days the occurrences move, in wall time of the zone
    bool cancelled = false;
    QByteArray subject;
    QByteArray location;
    TReminderTraits reminder;
};

inline constexpr double kSameInstant = 1.0 / 86400.0;

// The items of a set with a rule. `weekStart` is the rule's first day of the
// week, 1 = Sunday to 7 = Saturday. `series` supplies the texts; its start is
// the first occurrence.
std::vector<std::shared_ptr<const TAppointmentRecord>>
SeriesItems(const TAppointmentRecord& series, const TRecurrenceRecord& pattern,
            const std::vector<TInstanceChange>& changes, std::vector<TFutureChange> futures,
            int weekStart);

// The items of a set without a rule: every occurrence that is left (the Added
// ones, the DTSTART's included, and the Moved ones) as a single appointment.
// `zone` turns wall times into local ones (null: they are local).
std::vector<std::shared_ptr<const TAppointmentRecord>>
SingleItems(const TAppointmentRecord& series, const std::shared_ptr<const TIcalZone>& zone,
            const std::vector<TInstanceChange>& changes, std::vector<TFutureChange> futures);

} // namespace rp::mailstore
