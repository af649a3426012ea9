#include "engine/Occurrence.h"

#include <QDate>
#include <algorithm>
#include <bit>
#include <cstdint>

namespace rp {

namespace {

using outlook::RecurrencePattern;

// The mail application never stores an interval below 1; a damaged pattern must
// not divide by zero or keep a loop from moving.
int StepOf(RecurrencePattern& pattern) {
    return std::max(1, pattern.Interval());
}

TDateTime AtPatternTime(RecurrencePattern& pattern, TDateTime day) {
    return WholeDay(day) + TimeOfDay(pattern.StartTime());
}

// The pattern may still have occurrences around the reference time.
bool MayStillOccur(RecurrencePattern& pattern, TDateTime reference) {
    return pattern.PatternEndDate() >= reference || pattern.NoEndDate() ||
           pattern.Occurrences() != 0;
}

bool HasUnlimitedCount(RecurrencePattern& pattern) {
    // Without a count the end is PatternEndDate alone, which NextOccurrence applies.
    return pattern.NoEndDate() || pattern.Occurrences() <= 0;
}

int WeekdayBit(TDateTime day) {
    return 1 << (DayOfWeek(day) - 1);
}

TDateTime EveryNDays(RecurrencePattern& pattern, TDateTime reference) {
    TDateTime day = pattern.PatternStartDate();
    int count = 0;
    const int occurrences = pattern.Occurrences();
    const bool open = pattern.NoEndDate();
    // count <= occurrences lets one day more through than the count; the end date
    // check in NextOccurrence still holds such a pattern to its last day.
    while (reference + 1 >= day && (count <= occurrences || open)) {
        if (WholeDay(day) == WholeDay(reference))
            return AtPatternTime(pattern, reference);
        if (WholeDay(day) == WholeDay(reference + 1))
            return AtPatternTime(pattern, reference + 1);
        day += StepOf(pattern);
        ++count;
    }
    return 0;
}

// Days in [first, last] whose weekday bit is in the mask, counted by whole weeks
// and a remainder of at most six days, so the pattern's age costs nothing.
int64_t MaskedDaysBetween(TDateTime first, TDateTime last, int mask) {
    const auto days = static_cast<int64_t>(last - first) + 1;
    const int64_t weeks = days / 7;
    int64_t count = weeks * std::popcount(static_cast<unsigned>(mask));
    for (int64_t i = 0; i < days % 7; ++i)
        if (mask & WeekdayBit(first + static_cast<double>(weeks * 7 + i)))
            ++count;
    return count;
}

// Occurrence days of a weekday pattern: from the pattern's first day on, on the
// weekdays of the mask, at most Occurrences of them unless the pattern is open.
bool IsWeekdayOccurrence(RecurrencePattern& pattern, TDateTime day) {
    const TDateTime first = WholeDay(pattern.PatternStartDate());
    const int mask = pattern.DayOfWeekMask() & 0x7F;
    if (day < first || !(mask & WeekdayBit(day)))
        return false;
    if (HasUnlimitedCount(pattern))
        return true;
    return MaskedDaysBetween(first, day, mask) <= pattern.Occurrences();
}

// A weekday pattern ("every weekday") ignores Interval, as the mail application
// does for it; today is checked first, then tomorrow.
TDateTime EveryMaskedWeekday(RecurrencePattern& pattern, TDateTime reference) {
    if (!MayStillOccur(pattern, reference))
        return 0;
    for (const TDateTime day : {WholeDay(reference), WholeDay(reference) + 1})
        if (IsWeekdayOccurrence(pattern, day))
            return AtPatternTime(pattern, day);
    return 0;
}

// A day of month beyond the month's length falls on the month's last day, as the
// mail application shows a "31st" in a 30-day month.
int MonthlyDayIn(RecurrencePattern& pattern, const QDate& month) {
    return std::clamp(pattern.DayOfMonth(), 1, month.daysInMonth());
}

int MonthsBetween(const QDate& from, const QDate& to) {
    return (to.year() - from.year()) * 12 + to.month() - from.month();
}

// Occurrences fall every Interval months counted from the pattern's first month,
// not before its first day, at most Occurrences of them unless the pattern is open.
// Worked out from the count of months alone, however long the pattern has run.
bool IsMonthlyOccurrence(RecurrencePattern& pattern, TDateTime day) {
    const QDate first = ToQDate(pattern.PatternStartDate());
    const QDate date = ToQDate(day);
    const int months = MonthsBetween(first, date);
    const int step = StepOf(pattern);
    if (date < first || months % step != 0 || date.day() != MonthlyDayIn(pattern, date))
        return false;
    if (HasUnlimitedCount(pattern))
        return true;
    const bool firstMonthHasOne = MonthlyDayIn(pattern, first) >= first.day();
    const int ordinal = months / step + (firstMonthHasOne ? 1 : 0);
    return ordinal <= pattern.Occurrences();
}

} // namespace

TDateTime NextOccurrence(RecurrencePattern& pattern, TDateTime reference) {
    TDateTime result = 0;
    switch (pattern.RecurrenceType()) {
    case outlook::olRecursDaily:
        result = DailyOccurrence(pattern, reference);
        break;
    case outlook::olRecursWeekly:
        result = WeeklyOccurrence(pattern, reference, reference + 2);
        break;
    case outlook::olRecursMonthly:
        result = MonthlyOccurrence(pattern, reference);
        break;
    default:
        return 0;
    }
    // Full date-times: an end date held as midnight ends before that day's occurrence.
    const TDateTime end = pattern.PatternEndDate();
    if (end != 0 && end < result)
        return 0;
    return result;
}

TDateTime DailyOccurrence(RecurrencePattern& pattern, TDateTime reference) {
    if (pattern.DayOfWeekMask() != 0)
        return EveryMaskedWeekday(pattern, reference);
    if (!MayStillOccur(pattern, reference))
        return 0;
    return EveryNDays(pattern, reference);
}

TDateTime WeeklyOccurrence(RecurrencePattern& pattern, TDateTime day, TDateTime limit) {
    if (!MayStillOccur(pattern, day))
        return 0;
    TDateTime start = pattern.PatternStartDate();
    TDateTime result = 0;
    while (result == 0 && day <= limit) {
        const int weekday = DayOfWeek(day);
        // start keeps its place from one day to the next: it only ever moves on.
        while (start <= limit && DayOfWeek(start) != weekday)
            start += 1;
        if (start >= limit)
            return 0;
        if (pattern.DayOfWeekMask() & WeekdayBit(day)) {
            const auto daysApart = static_cast<int64_t>(WholeDay(day) - WholeDay(start));
            if (daysApart % (7 * StepOf(pattern)) == 0)
                result = AtPatternTime(pattern, day);
        }
        if (result == 0)
            day += 1;
    }
    return result;
}

TDateTime MonthlyOccurrence(RecurrencePattern& pattern, TDateTime reference) {
    if (!MayStillOccur(pattern, reference))
        return 0;
    for (const TDateTime day : {WholeDay(reference), WholeDay(reference) + 1})
        if (IsMonthlyOccurrence(pattern, day))
            return AtPatternTime(pattern, day);
    return 0;
}

} // namespace rp
