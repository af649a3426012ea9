#pragma once
// The occurrence of a recurring appointment near a reference time, worked out from
// its recurrence pattern alone. Each returns the occurrence's date-time (its day +
// the time of day of the pattern's StartTime), or 0 when there is none.

#include "engine/DateTime.h"
#include "engine/OutlookModel.h"

namespace rp {

// Dispatches on the pattern's type and drops a result later than PatternEndDate.
TDateTime NextOccurrence(outlook::RecurrencePattern& pattern, TDateTime reference);

// Today's occurrence (even if its time has passed), else tomorrow's.
TDateTime DailyOccurrence(outlook::RecurrencePattern& pattern, TDateTime reference);

// The first occurrence among day, day + 1, ... up to limit.
TDateTime WeeklyOccurrence(outlook::RecurrencePattern& pattern, TDateTime day, TDateTime limit);

// Today's occurrence, else tomorrow's.
TDateTime MonthlyOccurrence(outlook::RecurrencePattern& pattern, TDateTime reference);

} // namespace rp
