// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The occurrence of a recurring appointment near a reference time. The pattern's
// days and start time are counted in its own zone; each occurrence is turned into
// local time on its own day, deleted occurrences are passed over and changed ones
// are met at their new start.

#include "engine/DateTime.h"
#include "engine/OutlookModel.h"

#include <memory>

namespace rp {

struct TOccurrence {
    TDateTime start = 0; // local; 0 when there is none
    // The changed occurrence whose subject and location apply; null for the
    // appointment's own.
    std::shared_ptr<outlook::AppointmentItem> changed;
};

// Dispatches on the pattern's type: today or tomorrow for daily and monthly
// patterns, today to the day after for weekly ones. An occurrence already more
// than an hour past is passed over for the next one on those days; for an
// all-day event that is its alarm, `alarmAfterStart` days after its start.
TOccurrence NearOccurrence(outlook::RecurrencePattern& pattern, TDateTime reference,
                           TDateTime alarmAfterStart = 0);

// The start of NearOccurrence.
TDateTime NextOccurrence(outlook::RecurrencePattern& pattern, TDateTime reference);

// The first occurrence on the local days of reference and reference + 1.
TDateTime DailyOccurrence(outlook::RecurrencePattern& pattern, TDateTime reference);

// The first occurrence on the local days from day up to limit.
TDateTime WeeklyOccurrence(outlook::RecurrencePattern& pattern, TDateTime day, TDateTime limit);

// The first occurrence on the local days of reference and reference + 1.
TDateTime MonthlyOccurrence(outlook::RecurrencePattern& pattern, TDateTime reference);

} // namespace rp
