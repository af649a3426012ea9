// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/Occurrence.h"
#include "tests/support/MemoryOutlook.h"

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
    std::shared_ptr<outlook::TimeZone> StartTimeZone() override { return nullptr; }
    std::shared_ptr<outlook::Exceptions> Exceptions() override { return nullptr; }
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

TEST(EveryNDays, ReportsTodayUntilAnHourPastThenTomorrow) {
    PatternFields pattern;
    pattern.Start = On(2024, 1, 1);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 5, 10, 0)), On(2024, 3, 5, 9, 0));
    // Past the scan's hour of grace today's is of no use, and tomorrow's is already
    // known for the evening's first-meeting notice.
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 5, 10, 1)), On(2024, 3, 6, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 5, 21, 50)), On(2024, 3, 6, 9, 0));

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
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 5, 9, 30)), On(2024, 1, 5, 9, 0)); // Friday
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 5, 18, 0)), 0); // Saturday holds none
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 6, 8, 0)), 0);  // Saturday
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 1, 7, 8, 0)), On(2024, 1, 8, 9, 0)); // Sunday
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
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 15, 9, 45)), On(2024, 3, 15, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 15, 18, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 14, 8, 0)), On(2024, 3, 15, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 3, 16, 8, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2023, 12, 15, 8, 0)), 0); // before the start

    pattern.Every = 2;
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 2, 15, 8, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2025, 1, 15, 8, 0)), On(2025, 1, 15, 9, 0));
}

// As calendar files have it: a month without the day has no occurrence, and it
// does not count toward the number of occurrences.
TEST(Monthly, MonthsWithoutTheDayHaveNone) {
    PatternFields pattern;
    pattern.Type = outlook::olRecursMonthly;
    pattern.Day = 31;
    pattern.Start = On(1950, 1, 31);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 4, 30, 8, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 2, 28, 8, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2024, 5, 30, 8, 0)), On(2024, 5, 31, 9, 0));

    pattern.Day = 29;
    pattern.Start = On(2023, 1, 29);
    pattern.Open = false;
    pattern.Count = 3; // Jan 29, Mar 29, Apr 29 2023
    EXPECT_EQ(NextOccurrence(pattern, On(2023, 2, 28, 8, 0)), 0);
    EXPECT_EQ(NextOccurrence(pattern, On(2023, 4, 28, 8, 0)), On(2023, 4, 29, 9, 0));
    EXPECT_EQ(NextOccurrence(pattern, On(2023, 5, 28, 8, 0)), 0);
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

namespace rp::test {
namespace {

TDateTime Day(int year, int month, int day, int hour = 0, int minute = 0) {
    return EncodeDateTime(year, month, day, hour, minute);
}

// Patterns as the in-memory mail application holds them, with zones and exceptions.
class PatternTest : public ::testing::Test {
protected:
    PatternTest() : pattern(store.NewPattern()) {
        series.subject = QStringLiteral("Budget review");
        series.location = QStringLiteral("Room 4");
        pattern->startTime = EncodeTime(16, 0);
    }
    MemoryOutlook store;
    std::shared_ptr<MemoryRecurrence> pattern;
    MemoryAppointment series{store};
};

// The process runs in UTC here: a zone's wall time moves against it on the zone's
// changeover days, and stays where it is after them.
TEST_F(PatternTest, ZonedOccurrencesTakeEachDaysOwnOffset) {
    pattern->recurrenceType = outlook::olRecursDaily;
    pattern->patternStartDate = Day(2027, 3, 1);
    pattern->startTime = EncodeTime(9, 0);
    pattern->startTimeZone = std::make_shared<MemoryTimeZone>("Europe/Berlin");
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 3, 27, 6)), Day(2027, 3, 27, 8));
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 3, 28, 6)), Day(2027, 3, 28, 7));
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 7, 1, 6)), Day(2027, 7, 1, 7));
    // The rule's days are Tokyo's: its first day starts then, not a day earlier.
    pattern->startTime = EncodeTime(23, 30);
    pattern->startTimeZone = std::make_shared<MemoryTimeZone>("Asia/Tokyo");
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 3, 10, 12)), Day(2027, 3, 10, 14, 30));
    pattern->patternStartDate = Day(2027, 3, 11);
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 3, 10, 12)), Day(2027, 3, 11, 14, 30));
}

TEST_F(PatternTest, DeletedOccurrencesAreNeverMet) {
    pattern->recurrenceType = outlook::olRecursDaily;
    pattern->patternStartDate = Day(2027, 1, 1);
    pattern->Delete(Day(2027, 1, 10, 16));
    // Not today's deleted one, nor a next day standing in for it.
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 1, 10, 8)), Day(2027, 1, 11, 16));
    pattern->Delete(Day(2027, 1, 11, 16));
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 1, 10, 8)), 0);
}

TEST_F(PatternTest, MovedOccurrencesCountAtTheirNewStartOnly) {
    pattern->recurrenceType = outlook::olRecursWeekly;
    pattern->dayOfWeekMask = 4; // Tuesdays
    pattern->patternStartDate = Day(2027, 1, 5);
    auto moved = pattern->Move(Day(2027, 1, 12, 16), Day(2027, 1, 12, 17), series);
    moved->subject = QStringLiteral("Budget review (moved)");
    TOccurrence found = NearOccurrence(*pattern, Day(2027, 1, 12, 8));
    EXPECT_EQ(found.start, Day(2027, 1, 12, 17));
    ASSERT_TRUE(found.changed);
    EXPECT_EQ(found.changed->Subject(), QStringLiteral("Budget review (moved)"));

    // Moved out of reach: nothing left in the original's place.
    pattern->Move(Day(2027, 1, 19, 16), Day(2027, 1, 25, 16), series);
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 1, 19, 8)), 0);
    // Moved into reach from another week, ahead of the series' own occurrence.
    pattern->Move(Day(2027, 2, 2, 16), Day(2027, 1, 27, 9), series);
    found = NearOccurrence(*pattern, Day(2027, 1, 26, 20));
    EXPECT_EQ(found.start, Day(2027, 1, 27, 9));
}

// Every other week, looked at from each day of an on week and of an off week.
TEST_F(PatternTest, EveryOtherWeekFindsOnWeeksAndNeverOffWeeks) {
    pattern->recurrenceType = outlook::olRecursWeekly;
    pattern->interval = 2;
    pattern->dayOfWeekMask = 8 | 32;                // Wednesdays and Fridays
    pattern->patternStartDate = Day(2027, 1, 6);    // a Wednesday of an on week
    const TDateTime onWednesday = Day(2027, 1, 20); // two weeks on
    for (int before = 0; before < 3; ++before)
        EXPECT_EQ(NextOccurrence(*pattern, onWednesday - before + 0.3), onWednesday + 16.0 / 24)
            << before;
    EXPECT_EQ(NextOccurrence(*pattern, onWednesday + 2 - 1 + 0.3), onWednesday + 2 + 16.0 / 24);
    for (int day = 0; day < 5; ++day) // Saturday of the on week to Wednesday of the off week
        EXPECT_EQ(NextOccurrence(*pattern, onWednesday + 3 + day + 0.3), 0) << day;
    // Monday and Tuesday before the week of the start hold nothing either.
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 1, 4, 8)), Day(2027, 1, 6, 16));
    EXPECT_EQ(NextOccurrence(*pattern, Day(2026, 12, 30, 8)), 0);
}

TEST_F(PatternTest, DailyRulesRunToTheirEnd) {
    pattern->recurrenceType = outlook::olRecursDaily;
    pattern->interval = 2;
    pattern->patternStartDate = Day(2027, 1, 1);
    // An end date alone, as an UNTIL gives it.
    pattern->noEndDate = false;
    pattern->patternEndDate = Day(2027, 1, 21, 16);
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 1, 20, 8)), Day(2027, 1, 21, 16));
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 1, 22, 8)), 0);
    // A count alone: ten occurrences, the last on January 19, not one more.
    pattern->patternEndDate = 0;
    pattern->occurrences = 10;
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 1, 18, 8)), Day(2027, 1, 19, 16));
    EXPECT_EQ(NextOccurrence(*pattern, Day(2027, 1, 20, 8)), 0);
}

} // namespace
} // namespace rp::test
