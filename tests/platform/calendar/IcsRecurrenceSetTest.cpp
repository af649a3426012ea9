// SPDX-License-Identifier: GPL-3.0-or-later
// Recurrence sets as calendar programs write them: extra dates (RDATE), changes
// of an occurrence and all later ones (RANGE=THISANDFUTURE) and weeks that start
// on another day than Monday (WKST), read into items the scan meets once each.

#include "engine/Occurrence.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/mailstore/MailStoreItems.h"
#include "tests/platform/MailStoreTestSupport.h"

#include <QStringList>
#include <set>

using namespace rp;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

QByteArray Series(const QByteArray& properties) {
    return "BEGIN:VEVENT\r\nUID:set\r\n" + properties + "SUMMARY:Review\r\nLOCATION:Room 4\r\n" +
           "END:VEVENT\r\n";
}

QByteArray Override(const QByteArray& properties, const QByteArray& texts = {}) {
    return "BEGIN:VEVENT\r\nUID:set\r\n" + properties + texts + "END:VEVENT\r\n";
}

QString Describe(TDateTime start, outlook::AppointmentItem& item) {
    return ToQDateTime(start).toString(u"MM-dd HH:mm ") + item.Subject() + " @ " + item.Location();
}

// What the scan records of each item at the reference, as "MM-dd HH:mm subject @ location".
QStringList MetAt(const TIcsContents& contents, TDateTime reference) {
    QStringList met;
    for (const auto& record : contents.appointments) {
        const auto item = MakeAppointment(record);
        if (!item->IsRecurring()) {
            if (item->Start() >= reference - kOneHour && item->Start() <= reference + 2)
                met << Describe(item->Start(), *item);
            continue;
        }
        const TOccurrence found = NearOccurrence(*item->GetRecurrencePattern(), reference);
        if (found.start != 0)
            met << Describe(found.start, found.changed ? *found.changed : *item);
    }
    met.sort();
    return met;
}

// Every occurrence the scan meets when it looks every hour of the days given.
std::set<QString> MetOver(const TIcsContents& contents, TDateTime from, TDateTime to) {
    std::set<QString> met;
    for (TDateTime reference = from; reference < to; reference += kOneHour)
        for (const QString& found : MetAt(contents, reference))
            met.insert(found);
    return met;
}

TDateTime On(int month, int day, int hour, int minute = 0) {
    return EncodeDateTime(2027, month, day, hour, minute);
}

// A weekly Monday meeting in Berlin, seen from New York, with extra dates in
// each form a calendar program writes them.
TEST(IcsRecurrenceSetTest, ExtraDatesAreMetOnceAtTheirTrueLocalStart) {
    TScopedTimeZone newYork("America/New_York");
    const TIcsContents contents = ParseEvents(
        Series("DTSTART;TZID=Europe/Berlin:20270104T100000\r\nRRULE:FREQ=WEEKLY;COUNT=4\r\n"
               "RDATE;TZID=Europe/Berlin:20270106T150000,20270108T150000\r\n"
               "RDATE:20270113T200000Z\r\n"
               "RDATE;VALUE=PERIOD;TZID=Europe/Berlin:20270121T070000/PT1H\r\n"
               "RDATE;TZID=Europe/Berlin:20270127T150000\r\n"
               "EXDATE;TZID=Europe/Berlin:20270108T150000\r\n") +
        Override("RECURRENCE-ID;TZID=Europe/Berlin:20270127T150000\r\n"
                 "DTSTART;TZID=Europe/Berlin:20270127T160000\r\n",
                 "SUMMARY:Review (moved)\r\n"));
    ASSERT_EQ(contents.appointments.size(), 1u);
    const std::set<QString> met = MetOver(contents, On(1, 1, 0), On(2, 5, 0));
    EXPECT_EQ(met, (std::set<QString>{"01-04 04:00 Review @ Room 4", "01-06 09:00 Review @ Room 4",
                                      "01-11 04:00 Review @ Room 4", "01-13 15:00 Review @ Room 4",
                                      "01-18 04:00 Review @ Room 4", "01-21 01:00 Review @ Room 4",
                                      "01-25 04:00 Review @ Room 4",
                                      "01-27 10:00 Review (moved) @ Room 4"}));
}

TEST(IcsRecurrenceSetTest, ExtraDatesWithoutARuleAreAppointmentsOfTheirOwn) {
    TScopedTimeZone berlin("Europe/Berlin");
    const TIcsContents contents =
        ParseEvents(Series("DTSTART:20270301T090000Z\r\n"
                           "RDATE:20270302T090000Z,20270303T090000Z,20270304T090000Z\r\n"
                           "EXDATE:20270303T090000Z\r\n") +
                    Override("RECURRENCE-ID:20270304T090000Z\r\nDTSTART:20270304T110000Z\r\n"));
    std::set<QString> starts;
    for (const auto& record : contents.appointments) {
        EXPECT_FALSE(record->recurrence);
        starts.insert(ToQDateTime(record->start).toString(u"MM-dd HH:mm"));
    }
    EXPECT_EQ(starts, (std::set<QString>{"03-01 10:00", "03-02 10:00", "03-04 12:00"}));
    // Its start deleted, a meeting without a rule has no date left.
    EXPECT_TRUE(ParseEvents(Series("DTSTART:20270301T090000Z\r\nEXDATE:20270301T090000Z\r\n"))
                    .appointments.empty());
}

// Some programs write a moved occurrence as deleted too; it is met once, moved.
TEST(IcsRecurrenceSetTest, AMovedOccurrenceAlsoWrittenAsDeletedIsMetAtItsNewStart) {
    TScopedTimeZone berlin("Europe/Berlin");
    const TIcsContents contents =
        ParseEvents(Series("DTSTART;TZID=Europe/Berlin:20270104T160000\r\nRRULE:FREQ=DAILY\r\n"
                           "EXDATE;TZID=Europe/Berlin:20270112T160000\r\n") +
                    Override("RECURRENCE-ID;TZID=Europe/Berlin:20270112T160000\r\n"
                             "DTSTART;TZID=Europe/Berlin:20270112T170000\r\n",
                             "SUMMARY:Review (late)\r\n"));
    EXPECT_EQ(MetAt(contents, On(1, 12, 8)), QStringList{"01-12 17:00 Review (late) @ Room 4"});
}

// A daily stand-up moved from 16:00 to 17:00 in another room from the 12th on,
// then cancelled from the 20th on, as a calendar program writes "this and
// following" changes.
TEST(IcsRecurrenceSetTest, ThisAndFutureChangesEveryLaterOccurrenceAndNoEarlierOne) {
    TScopedTimeZone berlin("Europe/Berlin");
    const TIcsContents contents = ParseEvents(
        Series("DTSTART;TZID=Europe/Berlin:20270104T160000\r\nRRULE:FREQ=DAILY;COUNT=30\r\n"
               "EXDATE;TZID=Europe/Berlin:20270114T160000\r\n") +
        Override("RECURRENCE-ID;RANGE=THISANDFUTURE;TZID=Europe/Berlin:20270112T160000\r\n"
                 "DTSTART;TZID=Europe/Berlin:20270112T170000\r\n",
                 "SUMMARY:Stand-up\r\nLOCATION:Room 9\r\n") +
        Override("RECURRENCE-ID;TZID=Europe/Berlin:20270116T160000\r\n"
                 "DTSTART;TZID=Europe/Berlin:20270116T080000\r\n",
                 "SUMMARY:Early\r\nLOCATION:Room 9\r\n") +
        Override("RECURRENCE-ID;RANGE=THISANDFUTURE;TZID=Europe/Berlin:20270120T160000\r\n"
                 "DTSTART;TZID=Europe/Berlin:20270120T160000\r\nSTATUS:CANCELLED\r\n"));
    const auto at = [&](int day, int hour) { return MetAt(contents, On(1, day, hour)); };
    EXPECT_EQ(at(11, 8),
              (QStringList{"01-11 16:00 Review @ Room 4", "01-12 17:00 Stand-up @ Room 9"}));
    EXPECT_EQ(at(11, 18), QStringList{"01-12 17:00 Stand-up @ Room 9"}); // no 16:00 one
    EXPECT_EQ(at(14, 8), QStringList{"01-15 17:00 Stand-up @ Room 9"});  // the 14th deleted
    EXPECT_EQ(at(16, 6), QStringList{"01-16 08:00 Early @ Room 9"});
    EXPECT_EQ(at(19, 8), QStringList{"01-19 17:00 Stand-up @ Room 9"});
    EXPECT_TRUE(at(20, 8).isEmpty());
    EXPECT_TRUE(at(28, 8).isEmpty());
}

// Moved by a day, a Monday and Wednesday meeting is a Tuesday and Thursday one;
// moved back across midnight, it keeps its count of occurrences.
TEST(IcsRecurrenceSetTest, ThisAndFutureMovesTheWeekdaysAndKeepsTheEnd) {
    TScopedTimeZone utc("UTC");
    const TIcsContents contents =
        ParseEvents(Series("DTSTART:20270104T003000\r\nRRULE:FREQ=WEEKLY;BYDAY=MO,WE;COUNT=8\r\n") +
                    Override("RECURRENCE-ID;RANGE=THISANDFUTURE:20270111T003000\r\n"
                             "DTSTART:20270112T003000\r\n") +
                    Override("RECURRENCE-ID;RANGE=THISANDFUTURE:20270118T003000\r\n"
                             "DTSTART:20270118T233000\r\n"));
    const std::set<QString> met = MetOver(contents, On(1, 1, 0), On(2, 15, 0));
    EXPECT_EQ(met,
              (std::set<QString>{"01-04 00:30 Review @ Room 4", "01-06 00:30 Review @ Room 4",
                                 "01-12 00:30 Review @ Room 4", "01-14 00:30 Review @ Room 4",
                                 "01-18 23:30 Review @ Room 4", "01-20 23:30 Review @ Room 4",
                                 "01-25 23:30 Review @ Room 4", "01-27 23:30 Review @ Room 4"}));
}

std::set<QString> WeeklyDays(const QByteArray& start, const QByteArray& rule) {
    const TIcsContents contents =
        ParseEvents(Series("DTSTART:" + start + "\r\nRRULE:" + rule + "\r\n"));
    std::set<QString> days;
    for (const QString& met : MetOver(contents, EncodeDate(1997, 8, 1), EncodeDate(1997, 9, 6)))
        days.insert(met.left(5));
    return days;
}

// RFC 5545's own example: the first day of the week decides which Sunday goes
// with which Tuesday once weeks are skipped; a start outside the rule's days
// and weeks starting midweek follow the same counting.
TEST(IcsRecurrenceSetTest, TheFirstDayOfTheWeekGroupsTheDaysOfEveryOtherWeek) {
    TScopedTimeZone utc("UTC");
    EXPECT_EQ(WeeklyDays("19970805T090000", "FREQ=WEEKLY;INTERVAL=2;COUNT=4;BYDAY=TU,SU;WKST=MO"),
              (std::set<QString>{"08-05", "08-10", "08-19", "08-24"}));
    EXPECT_EQ(WeeklyDays("19970805T090000", "FREQ=WEEKLY;INTERVAL=2;COUNT=4;BYDAY=TU,SU;WKST=SU"),
              (std::set<QString>{"08-05", "08-17", "08-19", "08-31"}));
    EXPECT_EQ(WeeklyDays("19970804T090000", "FREQ=WEEKLY;INTERVAL=2;BYDAY=SU;WKST=SU"),
              (std::set<QString>{"08-17", "08-31"}));
    EXPECT_EQ(WeeklyDays("19970804T090000",
                         "FREQ=WEEKLY;INTERVAL=2;UNTIL=19970902T235959Z;WKST=WE;BYDAY=SU,MO,TU"),
              (std::set<QString>{"08-04", "08-05", "08-17", "08-18", "08-19", "08-31", "09-01",
                                 "09-02"}));
}

} // namespace
