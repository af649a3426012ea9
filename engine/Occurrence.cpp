// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Occurrence.h"

#include <QDate>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace rp {

namespace {

using outlook::RecurrencePattern;

// Moved and deleted occurrences are matched by their original start; stored
// times may differ from the computed one by a rounding error.
constexpr double kSameStart = 0.5 * kOneMinute;
// No two zones lie more than 26 hours apart, so an occurrence lands at most two
// days away from its day in the pattern's zone.
constexpr int kZoneReachDays = 2;

// The properties an occurrence search needs, read once per search.
struct TRule {
    int type = 0;
    int interval = 1;
    int mask = 0;
    int dayOfMonth = 0;
    int occurrences = 0;
    bool counted = false; // at most `occurrences` of them
    TDateTime first = 0;  // whole day the pattern starts on
    TDateTime end = 0;
    TDateTime time = 0; // time of day of each occurrence
};

TRule ReadRule(RecurrencePattern& pattern) {
    TRule rule;
    rule.type = pattern.RecurrenceType();
    rule.first = WholeDay(pattern.PatternStartDate());
    rule.end = pattern.PatternEndDate();
    const bool open = pattern.NoEndDate();
    rule.occurrences = pattern.Occurrences();
    // Without a count the end is PatternEndDate alone.
    rule.counted = !open && rule.occurrences > 0;
    // The mail application never stores an interval below 1; a damaged pattern
    // must not divide by zero.
    rule.interval = std::max(1, pattern.Interval());
    rule.mask = pattern.DayOfWeekMask() & 0x7F;
    rule.dayOfMonth = pattern.DayOfMonth();
    rule.time = TimeOfDay(pattern.StartTime());
    return rule;
}

int WeekdayBit(TDateTime day) {
    return 1 << (DayOfWeek(day) - 1);
}

int64_t DaysApart(TDateTime from, TDateTime to) {
    return static_cast<int64_t>(std::llround(WholeDay(to) - WholeDay(from)));
}

// Weeks run Monday to Sunday, as calendar files count them by default.
TDateTime MondayOf(TDateTime day) {
    return WholeDay(day) - static_cast<double>((DayOfWeek(day) + 5) % 7);
}

// Days in [first, last] that `holds`, for a rule that repeats every `period`
// days from first: whole periods are counted at once, so old patterns cost
// no more than new ones.
int64_t CountDays(TDateTime first, TDateTime last, int64_t period,
                  const std::function<bool(TDateTime)>& holds) {
    const int64_t days = DaysApart(first, last) + 1;
    int64_t perPeriod = 0;
    for (int64_t i = 0; i < period; ++i)
        perPeriod += holds(first + static_cast<double>(i)) ? 1 : 0;
    int64_t count = days / period * perPeriod;
    for (int64_t i = days / period * period; i < days; ++i)
        count += holds(first + static_cast<double>(i)) ? 1 : 0;
    return count;
}

bool IsEveryNDays(const TRule& rule, TDateTime day) {
    return DaysApart(rule.first, day) % rule.interval == 0;
}

// A weekday pattern ("every weekday") has no interval in the mail application;
// one read from a file may still name one, and then both must hold.
bool IsMaskedDaily(const TRule& rule, TDateTime day) {
    return (rule.mask & WeekdayBit(day)) && IsEveryNDays(rule, day);
}

// The week holding the first day is an on week, then every Interval-th one.
bool IsWeekly(const TRule& rule, TDateTime day) {
    const int64_t weeks = DaysApart(MondayOf(rule.first), MondayOf(day)) / 7;
    return (rule.mask & WeekdayBit(day)) && weeks % rule.interval == 0;
}

int MonthIndex(const QDate& date) {
    return date.year() * 12 + date.month() - 1;
}

int RuleDayOfMonth(const TRule& rule) {
    return rule.dayOfMonth > 0 ? rule.dayOfMonth : ToQDate(rule.first).day();
}

// Months without the day (a 31st in April) have no occurrence.
bool MonthHolds(const TRule& rule, int monthIndex, int firstMonth) {
    const int dayOfMonth = RuleDayOfMonth(rule);
    const QDate month(monthIndex / 12, monthIndex % 12 + 1, 1);
    if ((monthIndex - firstMonth) % rule.interval != 0 || dayOfMonth > month.daysInMonth())
        return false;
    return monthIndex != firstMonth || dayOfMonth >= ToQDate(rule.first).day();
}

bool IsMonthly(const TRule& rule, TDateTime day) {
    const QDate date = ToQDate(day);
    return date.day() == RuleDayOfMonth(rule) &&
           MonthHolds(rule, MonthIndex(date), MonthIndex(ToQDate(rule.first)));
}

int64_t MonthlyOrdinal(const TRule& rule, TDateTime day) {
    const int firstMonth = MonthIndex(ToQDate(rule.first));
    int64_t ordinal = 0;
    for (int month = firstMonth; month <= MonthIndex(ToQDate(day)); month += rule.interval)
        ordinal += MonthHolds(rule, month, firstMonth) ? 1 : 0;
    return ordinal;
}

bool Holds(const TRule& rule, TDateTime day) {
    switch (rule.type) {
    case outlook::olRecursDaily:
        return rule.mask ? IsMaskedDaily(rule, day) : IsEveryNDays(rule, day);
    case outlook::olRecursWeekly:
        return IsWeekly(rule, day);
    case outlook::olRecursMonthly:
        return IsMonthly(rule, day);
    default:
        return false;
    }
}

// The place of an occurrence day among the pattern's days, from 1.
int64_t Ordinal(const TRule& rule, TDateTime day) {
    if (rule.type == outlook::olRecursMonthly)
        return MonthlyOrdinal(rule, day);
    const int64_t period = rule.type == outlook::olRecursDaily && !rule.mask
                               ? rule.interval
                               : int64_t{7} * rule.interval;
    return CountDays(rule.first, day, period, [&](TDateTime d) { return Holds(rule, d); });
}

bool IsOccurrenceDay(const TRule& rule, TDateTime day) {
    if (day < rule.first || !Holds(rule, day))
        return false;
    return !rule.counted || Ordinal(rule, day) <= rule.occurrences;
}

struct TException {
    TDateTime originalDate = 0;
    std::shared_ptr<outlook::Exception> exception;
};

std::vector<TException> ReadExceptions(RecurrencePattern& pattern) {
    std::vector<TException> result;
    const auto exceptions = pattern.Exceptions();
    if (!exceptions)
        return result;
    const int count = exceptions->Count();
    for (int i = 1; i <= count; ++i)
        if (auto exception = exceptions->Item(i))
            result.push_back({exception->OriginalDate(), exception});
    return result;
}

bool IsException(const std::vector<TException>& exceptions, TDateTime originalStart) {
    return std::any_of(exceptions.begin(), exceptions.end(), [&](const TException& e) {
        return std::abs(e.originalDate - originalStart) < kSameStart;
    });
}

// Local whole days [from, to] in which an occurrence must start, and the earliest
// start allowed: an occurrence more than an hour past has left the scan window.
struct TSearch {
    TDateTime from = 0;
    TDateTime to = 0;
    TDateTime notBefore = 0;
    bool Takes(TDateTime start) const {
        return start >= notBefore && WholeDay(start) >= from && WholeDay(start) <= to;
    }
};

void Consider(TOccurrence& best, TDateTime start,
              std::shared_ptr<outlook::AppointmentItem> changed = nullptr) {
    // A changed occurrence moved onto another's start is the one the user set.
    const bool tie = std::abs(start - best.start) < kSameStart;
    if (best.start == 0 || (!tie && start < best.start) || (tie && changed && !best.changed))
        best = {start, std::move(changed)};
}

// The pattern's own occurrences, day by day in its zone, each turned into local time.
void SearchSeries(RecurrencePattern& pattern, const TRule& rule,
                  const std::vector<TException>& exceptions, const TSearch& search,
                  TOccurrence& best) {
    const auto zone = pattern.StartTimeZone();
    const int reach = zone ? kZoneReachDays : 0;
    for (TDateTime day = search.from - reach; day <= search.to + reach; day += 1) {
        const TDateTime original = day + rule.time;
        // Full date-times: an end date held as midnight ends before that day's occurrence.
        if (!IsOccurrenceDay(rule, day) || (rule.end != 0 && rule.end < original) ||
            IsException(exceptions, original))
            continue;
        const TDateTime start = zone ? zone->ToLocal(original) : original;
        if (search.Takes(start))
            Consider(best, start);
    }
}

// Changed occurrences count at their new start, wherever they were moved from.
void SearchChanged(const std::vector<TException>& exceptions, const TSearch& search,
                   TOccurrence& best) {
    for (const TException& entry : exceptions) {
        if (entry.exception->Deleted())
            continue;
        auto changed = entry.exception->AppointmentItem();
        if (!changed)
            continue;
        const TDateTime start = changed->Start();
        if (search.Takes(start))
            Consider(best, start, std::move(changed));
    }
}

TOccurrence Search(RecurrencePattern& pattern, TDateTime reference, TDateTime from, TDateTime to,
                   TDateTime alarmAfterStart = 0) {
    const TRule rule = ReadRule(pattern);
    const std::vector<TException> exceptions = ReadExceptions(pattern);
    const TSearch search{WholeDay(from), WholeDay(to), reference - kOneHour - alarmAfterStart};
    TOccurrence best;
    SearchSeries(pattern, rule, exceptions, search, best);
    SearchChanged(exceptions, search, best);
    return best;
}

} // namespace

TOccurrence NearOccurrence(RecurrencePattern& pattern, TDateTime reference,
                           TDateTime alarmAfterStart) {
    switch (pattern.RecurrenceType()) {
    case outlook::olRecursDaily:
    case outlook::olRecursMonthly:
        return Search(pattern, reference, reference, reference + 1, alarmAfterStart);
    case outlook::olRecursWeekly:
        return Search(pattern, reference, reference, reference + 2, alarmAfterStart);
    default:
        return {};
    }
}

TDateTime NextOccurrence(RecurrencePattern& pattern, TDateTime reference) {
    return NearOccurrence(pattern, reference).start;
}

TDateTime DailyOccurrence(RecurrencePattern& pattern, TDateTime reference) {
    return Search(pattern, reference, reference, reference + 1).start;
}

TDateTime WeeklyOccurrence(RecurrencePattern& pattern, TDateTime day, TDateTime limit) {
    return Search(pattern, day, day, limit).start;
}

TDateTime MonthlyOccurrence(RecurrencePattern& pattern, TDateTime reference) {
    return Search(pattern, reference, reference, reference + 1).start;
}

} // namespace rp
