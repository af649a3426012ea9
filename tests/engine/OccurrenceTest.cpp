#include "engine/Occurrence.h"

#include <gtest/gtest.h>

namespace rp {
namespace {

// A recurrence pattern whose properties are plain fields.
struct PatternFields : outlook::RecurrencePattern {
    int Type = outlook::olRecursDaily;
    TDateTime Start = 0;
    TDateTime End = 0;
    bool Open = true;
    int Count = 0;
    int Every = 1;
    int Mask = 0;
    int Day = 0;
    TDateTime At = EncodeTime(9, 0);

    int RecurrenceType() override { return Type; }
    TDateTime PatternStartDate() override { return Start; }
    TDateTime PatternEndDate() override { return End; }
    bool NoEndDate() override { return Open; }
    int Occurrences() override { return Count; }
    int Interval() override { return Every; }
    int DayOfWeekMask() override { return Mask; }
    int DayOfMonth() override { return Day; }
    TDateTime StartTime() override { return At; }
};

constexpr int Sunday = 1, Monday = 2, Thursday = 16, Wednesday = 8;
constexpr int Weekdays = 2 | 4 | 8 | 16 | 32;

TDateTime On(int year, int month, int day, int hour = 0, int minute = 0) {
    return EncodeDateTime(year, month, day, hour, minute);
}

// Patterns end on a date held as midnight, with the count that leads there.
void EndsOn(PatternFields& pattern, TDateTime lastDay, int count) {
    pattern.Open = false;
    pattern.End = lastDay;
    pattern.Count = count;
}

TEST(EveryNDays, ReportsTodayEvenAfterItsTimeElseTomorrow) {
    PatternFields pattern;
    pattern.Start = On(2024, 1, 1);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 5, 14, 0)), On(2024, 3, 5, 9, 0));

    pattern.Every = 2; // 2024-03-05 lies an even number of days after the start
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 6, 8, 0)), On(2024, 3, 7, 9, 0));

    pattern.Start = On(2024, 3, 5); // every 2 days from yesterday: nothing today
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 6, 8, 0)), On(2024, 3, 7, 9, 0));

    pattern.Every = 3;
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 6, 8, 0)), 0);
}

TEST(EveryNDays, StartsAtThePatternStart) {
    PatternFields pattern;
    pattern.Start = On(2024, 3, 7);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 6, 8, 0)), On(2024, 3, 7, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 5, 8, 0)), 0);
}

TEST(EveryNDays, EndedPatternsReportNothing) {
    PatternFields pattern;
    pattern.Start = On(2024, 3, 1);
    EndsOn(pattern, On(2024, 3, 5), 5);
    // On the last day the usual time is later than the end date held as midnight.
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 5, 7, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 4, 7, 0)), On(2024, 3, 4, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 20, 7, 0)), 0);
}

TEST(EveryNDays, ZeroIntervalDoesNotHang) {
    PatternFields pattern;
    pattern.Start = On(2024, 1, 1);
    pattern.Every = 0;
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 5, 8, 0)), On(2024, 1, 5, 9, 0));
}

TEST(WeekdayDaily, FollowsTheMaskOnTodayThenTomorrow) {
    PatternFields pattern;
    pattern.Mask = Weekdays;
    pattern.Start = On(2024, 1, 1);                                                  // a Monday
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 5, 18, 0)), On(2024, 1, 5, 9, 0)); // Friday
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 6, 8, 0)), 0);                     // Saturday
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 7, 8, 0)), On(2024, 1, 8, 9, 0));  // Sunday
    EXPECT_EQ(NextOccurrence(pattern, On(2023, 12, 31, 8, 0)),
              On(2024, 1, 1, 9, 0));                               // eve of start
    EXPECT_EQ(NextOccurrence(pattern, On(2023, 12, 29, 8, 0)), 0); // a Friday before the start
}

TEST(WeekdayDaily, CountsOccurrencesAcrossWeeks) {
    PatternFields pattern;
    pattern.Mask = Monday | Thursday;
    pattern.Start = On(2024, 1, 1);
    pattern.Open = false;
    pattern.Count = 10; // Jan 1, 4, 8, 11, 15, 18, 22, 25, 29, Feb 1
    EXPECT_EQ(DailyOccurrence(pattern, On(2024, 2, 1, 8, 0)), On(2024, 2, 1, 9, 0));
    EXPECT_EQ(DailyOccurrence(pattern, On(2024, 2, 4, 8, 0)), 0);
    EXPECT_EQ(DailyOccurrence(pattern, On(2024, 1, 31, 8, 0)), On(2024, 2, 1, 9, 0));
}

TEST(WeekdayDaily, PatternsOfCenturiesCostNoMoreThanNew) {
    PatternFields pattern;
    pattern.Mask = Sunday;
    pattern.Start = On(1900, 1, 7); // a Sunday
    pattern.Open = false;
    pattern.Count = 6500; // about 124 years of Sundays
    EXPECT_EQ(DailyOccurrence(pattern, On(2024, 1, 6, 8, 0)), On(2024, 1, 7, 9, 0));
    EXPECT_EQ(DailyOccurrence(pattern, On(2030, 1, 5, 8, 0)), 0);
}

TEST(Weekly, EveryOtherWeekOnMaskedDays) {
    PatternFields pattern;
    pattern.Type = outlook::olRecursWeekly;
    pattern.Every = 2;
    pattern.Mask = Monday | Wednesday;
    pattern.Start = On(2024, 1, 1); // Monday of an "on" week
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 15, 10, 0)), On(2024, 1, 15, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 16, 10, 0)), On(2024, 1, 17, 9, 0));
    // The off week: Monday, Tuesday and Wednesday hold nothing.
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 8, 10, 0)), 0);

    // Saturday looks as far as the day after tomorrow.
    pattern.Every = 1;
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 13, 10, 0)), On(2024, 1, 15, 9, 0));
}

TEST(Weekly, EndedOrUnboundedPatterns) {
    PatternFields pattern;
    pattern.Type = outlook::olRecursWeekly;
    pattern.Mask = Monday;
    pattern.Start = On(2024, 1, 1);
    EndsOn(pattern, On(2024, 1, 15), 3);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 15, 8, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 14, 8, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 7, 8, 0)), On(2024, 1, 8, 9, 0));

    pattern.Count = 0; // no count, end date passed, not open: the gate closes
    EXPECT_EQ(WeeklyOccurrence(pattern, On(2024, 1, 21, 8, 0), On(2024, 1, 23, 8, 0)), 0);
    pattern.Every = 0;
    pattern.Open = true;
    pattern.End = 0;
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 22, 8, 0)), On(2024, 1, 22, 9, 0));
}

TEST(Monthly, OnTheDayOfMonthTodayOrTomorrow) {
    PatternFields pattern;
    pattern.Type = outlook::olRecursMonthly;
    pattern.Day = 15;
    pattern.Start = On(2024, 1, 15);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 15, 18, 0)), On(2024, 3, 15, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 14, 8, 0)), On(2024, 3, 15, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 16, 8, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2023, 12, 15, 8, 0)), 0); // before the start

    pattern.Every = 2;
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 2, 15, 8, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2025, 1, 15, 8, 0)), On(2025, 1, 15, 9, 0));
}

TEST(Monthly, DayBeyondTheMonthFallsOnItsLastDay) {
    PatternFields pattern;
    pattern.Type = outlook::olRecursMonthly;
    pattern.Day = 31;
    pattern.Start = On(1950, 1, 31);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 4, 30, 8, 0)), On(2024, 4, 30, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 2, 28, 8, 0)), On(2024, 2, 29, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 5, 30, 8, 0)), On(2024, 5, 31, 9, 0));
}

TEST(Monthly, CountsFromTheFirstMonthThatHoldsOne) {
    PatternFields pattern;
    pattern.Type = outlook::olRecursMonthly;
    pattern.Day = 15;
    pattern.Open = false;
    pattern.Count = 2;
    pattern.Start = On(2024, 1, 15);
    EXPECT_EQ(MonthlyOccurrence(pattern, On(2024, 2, 15, 8, 0)), On(2024, 2, 15, 9, 0));
    EXPECT_EQ(MonthlyOccurrence(pattern, On(2024, 3, 15, 8, 0)), 0);

    pattern.Start = On(2024, 1, 20); // January's 15th precedes the start
    EXPECT_EQ(MonthlyOccurrence(pattern, On(2024, 3, 15, 8, 0)), On(2024, 3, 15, 9, 0));
    EXPECT_EQ(MonthlyOccurrence(pattern, On(2024, 4, 15, 8, 0)), 0);
}

TEST(NextOccurrence, OtherPatternKindsNeverOccur) {
    PatternFields pattern;
    pattern.Start = On(2024, 1, 1);
    pattern.Day = 5;
    for (int type :
         {outlook::olRecursMonthNth, outlook::olRecursYearly, outlook::olRecursYearNth}) {
        pattern.Type = type;
        EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 5, 8, 0)), 0) << type;
    }
}

} // namespace
} // namespace rp
