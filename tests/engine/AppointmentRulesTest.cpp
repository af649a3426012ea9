// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/AppointmentRules.h"
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

TEventItem Event(TDateTime start, TDateTime reminder, bool notified = false) {
    TEventItem record;
    record.StartTime = start;
    record.ReminderTime = reminder;
    record.Notified = notified;
    return record;
}

TEventItem AllDay(TDateTime day, TDateTime reminder) {
    TEventItem record = Event(day, reminder);
    record.AllDay = true;
    return record;
}

TEST(AppointmentRulesTest, TheScanTracksStartsFromAnHourAgoToTwoDaysAhead) {
    const TDateTime now = Mar(4, 12, 0);
    EXPECT_TRUE(InScanWindow(Mar(4, 11, 1), now));
    EXPECT_FALSE(InScanWindow(Mar(4, 10, 59), now));
    EXPECT_TRUE(InScanWindow(Mar(6, 11, 59), now));
    EXPECT_FALSE(InScanWindow(Mar(6, 12, 1), now));
    EXPECT_FALSE(InScanWindow(0, 0.5)); // no start at all
}

TEST(AppointmentRulesTest, TheRecordIsKeyedByTimeLocationAndThirtySubjectCharacters) {
    UsLocale us;
    const TEventItem record =
        MakeEventRecord({Mar(4, 9, 30), 15, QStringLiteral("Room 12"),
                         QStringLiteral("Budget review with the whole finance team")});
    EXPECT_EQ(record.Key, QStringLiteral("9:30:00 AM@loc:Room 12Budget review with the whole f"));
    EXPECT_EQ(record.StartTime, Mar(4, 9, 30));
    EXPECT_NEAR(record.ReminderTime, Mar(4, 9, 15), 1e-9);
    EXPECT_FALSE(record.Notified);
    // No lead: the reminder is the start.
    EXPECT_EQ(MakeEventRecord({Mar(4, 9, 30), 0, {}, {}}).ReminderTime, Mar(4, 9, 30));
}

// A character outside the basic plane (two UTF-16 units) counts once; a family
// emoji is several characters joined by zero-width joiners.
TEST(AppointmentRulesTest, SubjectsAreCutBetweenWholeCharacters) {
    const QString emoji = QStringLiteral("\U0001F600");
    const QString man = QStringLiteral("\U0001F468");
    const QString family = man + QStringLiteral("\u200D\U0001F469\u200D\U0001F467");
    EXPECT_EQ(FirstCharacters(QStringLiteral("abc"), 30), QStringLiteral("abc"));
    EXPECT_EQ(FirstCharacters(QStringLiteral("abcdef"), 3), QStringLiteral("abc"));
    EXPECT_EQ(FirstCharacters(QStringLiteral("ab") + emoji + QStringLiteral("cd"), 3),
              QStringLiteral("ab") + emoji);
    EXPECT_EQ(FirstCharacters(family, 1), man);
    EXPECT_EQ(FirstCharacters(family, 5), family);
    EXPECT_EQ(FirstCharacters({}, 30), QString());
}

TEST(AppointmentRulesTest, OnlyALaterOccurrenceTakesOverAnAnnouncedOrLongBegunRecord) {
    const TDateTime now = Mar(4, 12, 0);
    const TEventItem tomorrow = Event(Mar(5, 9, 0), Mar(5, 8, 45));
    struct Row {
        const char* name;
        TEventItem tracked, next;
        bool takesOver;
    } rows[] = {
        {"announced today", Event(Mar(4, 9, 0), 0, true), tomorrow, true},
        {"begun over an hour ago", Event(Mar(4, 10, 59), 0), tomorrow, true},
        {"begun within the hour, not announced", Event(Mar(4, 11, 1), 0), tomorrow, false},
        {"the same start", Event(Mar(5, 9, 0), 0, true), tomorrow, false},
        {"an earlier occurrence (clock put back)", Event(Mar(5, 9, 0), 0, true),
         Event(Mar(4, 9, 0), 0), false},
        {"all day, its alarm still ahead", AllDay(Mar(4), Mar(4, 12, 30)), AllDay(Mar(5), 0),
         false},
        {"all day, its alarm over an hour past", AllDay(Mar(4), Mar(4, 10, 59)), AllDay(Mar(5), 0),
         true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TakesRecordOver(row.tracked, row.next, now), row.takesOver) << row.name;
}

TEST(AppointmentRulesTest, AReminderIsDueFromTwoMinutesBeforeItsTime) {
    const TDateTime now = Mar(4, 9, 0);
    EXPECT_TRUE(MeetingReminderDue(Event(Mar(4, 9, 17), now + 2 * kOneMinute), now));
    EXPECT_FALSE(MeetingReminderDue(Event(Mar(4, 9, 17), now + 2 * kOneMinute + 1e-5), now));
    EXPECT_TRUE(MeetingReminderDue(Event(Mar(4, 9, 0), Mar(3, 9, 0)), now)); // a day late
    EXPECT_FALSE(MeetingReminderDue(Event(Mar(4, 9, 0), Mar(3, 9, 0), true), now));
}

TEST(AppointmentRulesTest, RecordsLeaveOnlyOnceTheScanCanNoLongerMeetThem) {
    const TDateTime now = Mar(5, 12, 0);
    // A day and two hours after the start.
    EXPECT_TRUE(OutOfScanReach(Event(Mar(4, 9, 59), 0), now));
    EXPECT_FALSE(OutOfScanReach(Event(Mar(4, 10, 1), 0), now));

    // A reminder six hours late leaves once its meeting is out of reach too.
    EXPECT_TRUE(StaleReminderLeaves(Event(Mar(4, 9, 59), Mar(4, 9, 44)), now));
    EXPECT_FALSE(StaleReminderLeaves(Event(Mar(4, 10, 1), Mar(4, 9, 46)), now));
    EXPECT_FALSE(StaleReminderLeaves(Event(Mar(6, 21, 0), Mar(4, 9, 0)), now)); // long lead
}

class FirstMeetingRuleTest : public ::testing::Test {
protected:
    void Add(const QString& key, TDateTime reminder, bool notified = false) {
        list.Add(key, std::make_unique<TEventItem>(Event(reminder + 0.01, reminder, notified)));
    }
    QString First(TDateTime from, TDateTime to) const {
        const int index = FirstMeetingBetween(list, from, to);
        return index < 0 ? QStringLiteral("none") : list.Key(index);
    }
    TSortedList<TEventItem> list;
};

TEST_F(FirstMeetingRuleTest, TheEarliestReminderOfTheDayWins) {
    EXPECT_EQ(First(Mar(4), Mar(5)), QStringLiteral("none"));
    Add(QStringLiteral("10:00 meeting"), Mar(4, 8, 0));
    Add(QStringLiteral("09:00 meeting"), Mar(4, 8, 45));
    Add(QStringLiteral("yesterday's 00:10"), Mar(3, 23, 55));
    Add(QStringLiteral("announced"), Mar(4, 7, 0), true);
    Add(QStringLiteral("tomorrow"), Mar(5, 8, 0));
    list.Add(QStringLiteral("all day, its alarm at 07:30"),
             std::make_unique<TEventItem>(AllDay(Mar(4), Mar(4, 7, 30))));
    EXPECT_EQ(First(Mar(4), Mar(5)), QStringLiteral("10:00 meeting"));
    EXPECT_EQ(First(Mar(5), Mar(6)), QStringLiteral("tomorrow"));
    EXPECT_EQ(First(Mar(6), Mar(7)), QStringLiteral("none"));
}

TEST_F(FirstMeetingRuleTest, BothBoundsAreExclusiveAndTheGreaterKeyWinsATie) {
    Add(QStringLiteral("at midnight"), Mar(4));
    EXPECT_EQ(First(Mar(4), Mar(5)), QStringLiteral("none"));
    EXPECT_EQ(First(Mar(3), Mar(4)), QStringLiteral("none"));
    Add(QStringLiteral("alpha"), Mar(4, 8, 0));
    Add(QStringLiteral("beta"), Mar(4, 8, 0));
    EXPECT_EQ(First(Mar(4), Mar(5)), QStringLiteral("beta"));
}

} // namespace
} // namespace rp::test
