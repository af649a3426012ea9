// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/IcsSeries.h"

#include "platform/calendar/IcalTime.h"

#include "engine/OutlookModel.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>

namespace rp::mailstore {

namespace {

using TKind = TInstanceChange::TKind;
using TRecords = std::vector<std::shared_ptr<const TAppointmentRecord>>;

constexpr int kMonday = 2;
// Every month has these days; a day past them is missing from some months.
constexpr int kDaysEveryMonthHas = 28;

// The occurrences from one "this and future" change up to the next one, all
// moved alike and sharing their texts.
struct TSegment {
    TDateTime from = std::numeric_limits<double>::lowest(); // original starts
    TDateTime to = std::numeric_limits<double>::max();      // up to, not including
    TDateTime shift = 0;
    bool cancelled = false;
    QByteArray subject;
    QByteArray location;
    TReminderTraits reminder;

    bool First() const { return from == std::numeric_limits<double>::lowest(); }
    bool Open() const { return to == std::numeric_limits<double>::max(); }
    bool Holds(TDateTime original) const {
        return original > from - kSameInstant / 2 && original < to - kSameInstant / 2;
    }
};

std::vector<TSegment> Segments(const TAppointmentRecord& series,
                               std::vector<TFutureChange> futures) {
    std::sort(futures.begin(), futures.end(), [](const TFutureChange& a, const TFutureChange& b) {
        return a.original < b.original;
    });
    std::vector<TSegment> result(1);
    result[0].subject = series.subject;
    result[0].location = series.location;
    result[0].reminder = series.reminder;
    // Each occurrence follows the last change at or before it, a cancelling one too.
    for (const TFutureChange& future : futures) {
        result.back().to = future.original;
        TSegment next;
        next.from = future.original;
        // Whole seconds, so moved occurrences still meet their exceptions.
        next.shift = std::round(future.shift * 86400.0) / 86400.0;
        next.cancelled = future.cancelled;
        next.subject = future.subject;
        next.location = future.location;
        next.reminder = future.reminder;
        result.push_back(std::move(next));
    }
    return result;
}

TDateTime LocalOf(const std::shared_ptr<const TIcalZone>& zone, TDateTime wall) {
    return zone ? zone->ToLocal(wall) : wall;
}

std::shared_ptr<const TAppointmentRecord> Occurrence(const TSegment& segment, TDateTime start) {
    auto record = std::make_shared<TAppointmentRecord>();
    record->start = start;
    record->subject = segment.subject;
    record->location = segment.location;
    record->reminder = segment.reminder;
    return record;
}

std::vector<TExceptionRecord> SegmentExceptions(const std::vector<TInstanceChange>& changes,
                                                const TSegment& segment,
                                                const std::shared_ptr<const TIcalZone>& zone) {
    std::vector<TExceptionRecord> result;
    for (const TInstanceChange& change : changes) {
        if (!segment.Holds(change.original))
            continue;
        const TDateTime original = change.original + segment.shift;
        if (change.kind == TKind::Deleted)
            result.push_back({original, nullptr});
        else if (change.kind == TKind::Added)
            result.push_back({original, Occurrence(segment, LocalOf(zone, original))});
        else
            result.push_back({original, change.moved});
    }
    return result;
}

int RotatedMask(int mask, int days) {
    const int by = (days % 7 + 7) % 7;
    return ((mask << by) | (mask >> (7 - by))) & 0x7F;
}

int WeekdayBit(int weekday) {
    return 1 << (weekday - 1);
}

// The segment's occurrences are the rule's moved by its shift: whole days move
// the weekdays and the day of the month, the rest the time of day.
TRecurrenceRecord SegmentPattern(const TRecurrenceRecord& pattern, const TSegment& segment,
                                 int& movedDays) {
    TRecurrenceRecord result = pattern;
    const TDateTime start = pattern.startTime + segment.shift;
    movedDays = static_cast<int>(std::floor(start + kSameInstant / 2));
    result.startTime = std::max(0.0, start - movedDays);
    if (!segment.First())
        result.patternStartDate = WholeDay(segment.from) + movedDays;
    if (!segment.Open()) {
        const TDateTime cut = segment.to - kSameInstant;
        result.patternEndDate = pattern.noEndDate ? cut : std::min(pattern.patternEndDate, cut);
        result.noEndDate = false;
    }
    if (!result.noEndDate)
        result.patternEndDate += segment.shift;
    // The end date alone bounds a part of a set; a count would start over.
    if (!segment.First() || !segment.Open())
        result.occurrences = 0;
    result.dayOfWeekMask = RotatedMask(pattern.dayOfWeekMask, movedDays);
    if (pattern.type == outlook::olRecursMonthly && movedDays != 0) {
        // Months without the day have no occurrence; moved, that cannot be said.
        const int day = pattern.dayOfMonth + movedDays;
        if (pattern.dayOfMonth > kDaysEveryMonthHas || day < 1 || day > kDaysEveryMonthHas)
            result.type = kRecursOther;
        else
            result.dayOfMonth = day;
    }
    return result;
}

// The pattern counts weeks from Monday; a rule whose weeks start on another day
// groups its days into other weeks once it skips weeks. The days from the week's
// first day to Sunday and those from Monday on then fall in different Monday
// weeks, so each group is a pattern of its own, starting on its first occurrence.
int MondayWeekPosition(int weekday) {
    return (weekday + 5) % 7;
}

int MaskFromPosition(int position, bool atOrAfter) {
    int mask = 0;
    for (int weekday = 1; weekday <= 7; ++weekday)
        if ((MondayWeekPosition(weekday) >= position) == atOrAfter)
            mask |= WeekdayBit(weekday);
    return mask;
}

TDateTime FirstOccurrenceDay(const TRecurrenceRecord& pattern, int mask, int weekStart) {
    const TDateTime first = WholeDay(pattern.patternStartDate);
    const TDateTime weekOfFirst = first - (DayOfWeek(first) - weekStart + 7) % 7;
    for (int offset = 0; offset <= 7 * (pattern.interval + 1); ++offset) {
        const TDateTime day = first + offset;
        const auto week = static_cast<int>(std::lround(day - weekOfFirst)) / 7;
        if (week % pattern.interval == 0 && (mask & WeekdayBit(DayOfWeek(day))))
            return day;
    }
    return first;
}

std::vector<TRecurrenceRecord> ByWeekStart(const TRecurrenceRecord& pattern, int weekStart) {
    const int position = MondayWeekPosition(weekStart);
    if (pattern.type != outlook::olRecursWeekly || pattern.interval < 2 || position == 0)
        return {pattern};
    const int late = pattern.dayOfWeekMask & MaskFromPosition(position, true);
    const int early = pattern.dayOfWeekMask & MaskFromPosition(position, false);
    std::vector<TRecurrenceRecord> parts;
    for (const int mask : {late, early}) {
        if (!mask)
            continue;
        TRecurrenceRecord part = pattern;
        part.dayOfWeekMask = mask;
        part.patternStartDate = FirstOccurrenceDay(pattern, mask, weekStart);
        part.occurrences = 0; // the end date says where a count ends
        part.exceptions.clear();
        parts.push_back(std::move(part));
    }
    // Each exception goes with the days it belongs to; others with the first part.
    for (const TExceptionRecord& exception : pattern.exceptions) {
        const int bit = WeekdayBit(DayOfWeek(exception.originalDate));
        const auto owner = std::find_if(parts.begin(), parts.end(), [&](const auto& part) {
            return (part.dayOfWeekMask & bit) != 0;
        });
        (owner == parts.end() ? parts.front() : *owner).exceptions.push_back(exception);
    }
    return parts;
}

// What is left of a cancelled stretch: the occurrences moved on their own.
std::vector<TInstanceChange> MovedOnes(const std::vector<TInstanceChange>& changes) {
    std::vector<TInstanceChange> result;
    std::copy_if(changes.begin(), changes.end(), std::back_inserter(result),
                 [](const TInstanceChange& change) { return change.kind == TKind::Moved; });
    return result;
}

std::shared_ptr<const TAppointmentRecord> SeriesItem(const TSegment& segment,
                                                     TRecurrenceRecord pattern, TDateTime start) {
    auto record = std::make_shared<TAppointmentRecord>(*Occurrence(segment, start));
    record->recurrence = std::make_shared<const TRecurrenceRecord>(std::move(pattern));
    return record;
}

int MovedWeekday(int weekday, int days) {
    return ((weekday - 1 + days) % 7 + 7) % 7 + 1;
}

// The stretch's pattern, or nullopt when nothing of it is left. Of a cancelled
// stretch the occurrences moved on their own stay, as exceptions of a pattern
// that ends before it starts: the scan meets them on the days it meets the
// series'.
std::optional<TRecurrenceRecord> StretchPattern(const TRecurrenceRecord& pattern,
                                                const std::vector<TInstanceChange>& changes,
                                                const TSegment& segment, int& movedDays) {
    TRecurrenceRecord result = SegmentPattern(pattern, segment, movedDays);
    result.exceptions =
        SegmentExceptions(segment.cancelled ? MovedOnes(changes) : changes, segment, pattern.zone);
    if (!segment.cancelled)
        return result;
    if (result.exceptions.empty())
        return std::nullopt;
    result.noEndDate = false;
    result.occurrences = 0;
    result.patternEndDate = result.patternStartDate - 1;
    return result;
}

} // namespace

TRecords SeriesItems(const TAppointmentRecord& series, const TRecurrenceRecord& pattern,
                     const std::vector<TInstanceChange>& changes,
                     std::vector<TFutureChange> futures, int weekStart) {
    TRecords result;
    for (const TSegment& segment : Segments(series, std::move(futures))) {
        int movedDays = 0;
        const std::optional<TRecurrenceRecord> stretch =
            StretchPattern(pattern, changes, segment, movedDays);
        if (!stretch)
            continue;
        const auto parts =
            ByWeekStart(*stretch, MovedWeekday(weekStart > 0 ? weekStart : kMonday, movedDays));
        for (const TRecurrenceRecord& part : parts) {
            const bool asRead = segment.First() && parts.size() == 1 &&
                                part.patternStartDate == pattern.patternStartDate;
            const TDateTime start =
                asRead ? series.start : LocalOf(part.zone, part.patternStartDate + part.startTime);
            result.push_back(SeriesItem(segment, part, start));
        }
    }
    return result;
}

TRecords SingleItems(const TAppointmentRecord& series, const std::shared_ptr<const TIcalZone>& zone,
                     const std::vector<TInstanceChange>& changes,
                     std::vector<TFutureChange> futures) {
    TRecords result;
    for (const TSegment& segment : Segments(series, std::move(futures)))
        for (const TExceptionRecord& exception :
             SegmentExceptions(segment.cancelled ? MovedOnes(changes) : changes, segment, zone))
            if (exception.changed)
                result.push_back(exception.changed);
    return result;
}

} // namespace rp::mailstore
