// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/IcalTime.h"
#include "platform/calendar/IcsRecords.h"
#include "tests/platform/MailStoreTestSupport.h"

#include <libical/ical.h>

using namespace rp;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

// The last occurrence as libical's own iterator walks it.
TDateTime WalkedLastOccurrence(const QByteArray& rule, const QByteArray& start) {
    const icalrecurrencetype recurrence = icalrecurrencetype_from_string(rule.constData());
    const icaltimetype first = icaltime_from_string(start.constData());
    icalrecur_iterator* iterator = icalrecur_iterator_new(recurrence, first);
    icaltimetype last = first;
    for (icaltimetype next = icalrecur_iterator_next(iterator); !icaltime_is_null_time(next);
         next = icalrecur_iterator_next(iterator))
        last = next;
    icalrecur_iterator_free(iterator);
    return ToLocalDays(last);
}

TDateTime ParsedEndDate(const QByteArray& rule, const QByteArray& start) {
    const QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\n"
                            "BEGIN:VEVENT\r\nUID:e1\r\nSUMMARY:Stand-up\r\nDTSTART:" +
                            start + "\r\nRRULE:" + rule + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    TIcsContents contents;
    EXPECT_TRUE(ParseIcsText(text, QStringLiteral("test.ics"), contents));
    if (contents.appointments.size() != 1 || !contents.appointments[0]->recurrence)
        return -1;
    return contents.appointments[0]->recurrence->patternEndDate;
}

void ExpectSameAsWalk(const QByteArray& rule, const QByteArray& start) {
    for (int count : {1, 2, 3, 5, 7, 12, 13, 40}) {
        const QByteArray counted = rule + ";COUNT=" + QByteArray::number(count);
        EXPECT_DOUBLE_EQ(ParsedEndDate(counted, start), WalkedLastOccurrence(counted, start))
            << counted.constData() << " from " << start.constData();
    }
}

TEST(IcsCountRuleTest, DailyRulesEndWhereTheWalkEnds) {
    TScopedTimeZone utc("UTC");
    ExpectSameAsWalk("FREQ=DAILY", "20240105T093000");
    ExpectSameAsWalk("FREQ=DAILY;INTERVAL=3", "20240228T170000");
}

TEST(IcsCountRuleTest, WeeklyRulesEndWhereTheWalkEnds) {
    TScopedTimeZone utc("UTC");
    ExpectSameAsWalk("FREQ=WEEKLY", "20240105T093000");                           // a Friday
    ExpectSameAsWalk("FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE,FR", "20240103T080000"); // mid-week
    ExpectSameAsWalk("FREQ=WEEKLY;BYDAY=SU,TU", "20240107T080000");
    ExpectSameAsWalk("FREQ=WEEKLY;BYDAY=SU,TU;WKST=SU", "20240107T080000");
    ExpectSameAsWalk("FREQ=WEEKLY;INTERVAL=3;BYDAY=TH,SA", "20240227T120000"); // not on a rule day
}

TEST(IcsCountRuleTest, MonthlyRulesSkipMonthsWithoutTheDay) {
    TScopedTimeZone utc("UTC");
    ExpectSameAsWalk("FREQ=MONTHLY;BYMONTHDAY=31", "20240131T100000");
    ExpectSameAsWalk("FREQ=MONTHLY;INTERVAL=2;BYMONTHDAY=30", "20240130T100000");
    ExpectSameAsWalk("FREQ=MONTHLY", "20240115T100000");
}

TEST(IcsCountRuleTest, OtherRulesAreStillWalked) {
    TScopedTimeZone utc("UTC");
    ExpectSameAsWalk("FREQ=MONTHLY;BYDAY=2TU", "20240109T100000");
    ExpectSameAsWalk("FREQ=YEARLY", "20240229T100000");
    ExpectSameAsWalk("FREQ=DAILY;BYHOUR=9,15", "20240105T090000");
}

TEST(IcsCountRuleTest, ZonedStartsKeepTheirWallClockTime) {
    TScopedTimeZone utc("UTC");
    const QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\n"
                            "BEGIN:VEVENT\r\nUID:e1\r\nSUMMARY:Call\r\n"
                            "DTSTART;TZID=Europe/Berlin:20240320T090000\r\n"
                            "RRULE:FREQ=DAILY;COUNT=14\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    TIcsContents contents;
    ASSERT_TRUE(ParseIcsText(text, QStringLiteral("test.ics"), contents));
    ASSERT_EQ(contents.appointments.size(), 1u);
    // Thirteen days on is 2 April, 09:00 in Berlin after the change to summer time:
    // the pattern counts in the rule's own zone.
    EXPECT_NEAR(contents.appointments[0]->recurrence->patternEndDate,
                EncodeDateTime(2024, 4, 2, 9, 0), 1.0 / 86400);
}

} // namespace
