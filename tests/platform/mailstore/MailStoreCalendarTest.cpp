// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/platform/MailStoreTestSupport.h"

#include "engine/Occurrence.h"
#include "platform/calendar/IcsSource.h"
#include "platform/mailstore/MailStoreItems.h"

using namespace rp;
using namespace rp::outlook;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

class MailStoreCalendarTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::copy(DataDir() + "/calendar.ics", store.Path("calendar.ics"));
        store.WriteProfile("[Calendar]\nPath=" + store.Path("calendar.ics").toUtf8() + "\n");
    }
    std::shared_ptr<AppointmentItem> Appointment(int index) {
        return store.Item<AppointmentItem>(olFolderCalendar, index);
    }

    // New York changed to summer time on 10 March 2024, Berlin only on 31 March:
    // the sample's March meetings fall in those three weeks on purpose.
    TScopedTimeZone newYork{"America/New_York"};
    TStoreFixture store;
};

TEST_F(MailStoreCalendarTest, TimesOfEveryKindAreLocalTimes) {
    ASSERT_EQ(store.Folder(olFolderCalendar)->Items()->Count(), 9); // no start, cancelled: left out
    EXPECT_NEAR(Appointment(1)->Start(), EncodeDateTime(2024, 3, 11, 4, 30), kSecond); // TZID
    EXPECT_NEAR(Appointment(2)->Start(), EncodeDateTime(2024, 3, 12, 11, 0), kSecond); // UTC
    EXPECT_NEAR(Appointment(3)->Start(), EncodeDateTime(2024, 3, 13, 8, 0), kSecond);  // floating
    EXPECT_EQ(Appointment(4)->Start(), EncodeDate(2024, 3, 14));                       // all day
    EXPECT_EQ(Appointment(1)->Subject(), "Budget review");
    EXPECT_EQ(Appointment(1)->Location(), "Room 12");
    EXPECT_EQ(Appointment(3)->Location(), "Dr. Weiss, Main Street 4");
    EXPECT_FALSE(Appointment(1)->IsRecurring());
}

TEST_F(MailStoreCalendarTest, RemindersComeFromTheFirstDisplayOrEmailAlarm) {
    EXPECT_EQ(Appointment(1)->ReminderMinutesBeforeStart(), 10);
    EXPECT_EQ(Appointment(2)->ReminderMinutesBeforeStart(), 60);  // the audio alarm does not count
    EXPECT_EQ(Appointment(3)->ReminderMinutesBeforeStart(), 15);  // none: the usual default
    EXPECT_EQ(Appointment(6)->ReminderMinutesBeforeStart(), 30);  // 45 before the end of 15 minutes
    EXPECT_EQ(Appointment(7)->ReminderMinutesBeforeStart(), 120); // absolute trigger
}

TEST_F(MailStoreCalendarTest, DailyRuleWithCountEndsOnItsLastOccurrence) {
    auto item = Appointment(5);
    ASSERT_TRUE(item->IsRecurring());
    auto pattern = item->GetRecurrencePattern();
    EXPECT_EQ(pattern->RecurrenceType(), olRecursDaily);
    EXPECT_EQ(pattern->Interval(), 2);
    EXPECT_EQ(pattern->DayOfWeekMask(), 0);
    EXPECT_EQ(pattern->Occurrences(), 5);
    EXPECT_FALSE(pattern->NoEndDate());
    // Counted in the rule's own zone, which the pattern carries.
    ASSERT_TRUE(pattern->StartTimeZone());
    EXPECT_EQ(pattern->StartTimeZone()->ID(), "Europe/Berlin");
    EXPECT_EQ(pattern->PatternStartDate(), EncodeDate(2024, 3, 18));
    EXPECT_NEAR(pattern->StartTime(), EncodeTime(7, 0), kSecond);
    EXPECT_NEAR(pattern->PatternEndDate(), EncodeDateTime(2024, 3, 26, 7, 0), kSecond);
    EXPECT_NEAR(NextOccurrence(*pattern, EncodeDateTime(2024, 3, 20, 0, 30)),
                EncodeDateTime(2024, 3, 20, 2, 0), kSecond);
    EXPECT_EQ(NextOccurrence(*pattern, EncodeDateTime(2024, 3, 27, 0, 30)), 0);
}

TEST_F(MailStoreCalendarTest, WeeklyRuleWithUntilKeepsItsDaysAndEnd) {
    auto pattern = Appointment(6)->GetRecurrencePattern();
    EXPECT_EQ(pattern->RecurrenceType(), olRecursWeekly);
    EXPECT_EQ(pattern->DayOfWeekMask(), 2 | 8 | 32); // Monday, Wednesday, Friday
    EXPECT_EQ(pattern->Interval(), 1);
    EXPECT_EQ(pattern->Occurrences(), 0);
    EXPECT_FALSE(pattern->NoEndDate());
    EXPECT_NEAR(pattern->PatternEndDate(), EncodeDateTime(2024, 4, 30, 23, 59, 59), kSecond);
    EXPECT_NEAR(Appointment(6)->Start(), EncodeDateTime(2024, 3, 4, 8, 0), kSecond);
}

// 14:00 in Berlin is 08:00 in New York, but 09:00 in the weeks between the two
// cities' clock changes.
TEST_F(MailStoreCalendarTest, WeeklyMeetingInBerlinMovesInNewYorkBetweenTheChangeovers) {
    auto pattern = Appointment(6)->GetRecurrencePattern();
    const auto at = [&](int month, int day) {
        return NextOccurrence(*pattern, EncodeDateTime(2024, month, day, 7, 0));
    };
    EXPECT_NEAR(at(3, 6), EncodeDateTime(2024, 3, 6, 8, 0), kSecond);
    EXPECT_NEAR(at(3, 13), EncodeDateTime(2024, 3, 13, 9, 0), kSecond);
    EXPECT_NEAR(at(3, 29), EncodeDateTime(2024, 3, 29, 9, 0), kSecond);
    EXPECT_NEAR(at(4, 1), EncodeDateTime(2024, 4, 1, 8, 0), kSecond);
    EXPECT_NEAR(at(4, 30), 0, kSecond); // a Tuesday: Wednesday's is past the end
}

TEST_F(MailStoreCalendarTest, MonthlyAndYearlyRulesMapToTheirKinds) {
    auto byMonthDay = Appointment(7)->GetRecurrencePattern();
    EXPECT_EQ(byMonthDay->RecurrenceType(), olRecursMonthly);
    EXPECT_EQ(byMonthDay->DayOfMonth(), 15);
    EXPECT_TRUE(byMonthDay->NoEndDate());
    EXPECT_EQ(Appointment(8)->GetRecurrencePattern()->RecurrenceType(), olRecursMonthNth);
    auto yearly = Appointment(9)->GetRecurrencePattern();
    EXPECT_EQ(yearly->RecurrenceType(), olRecursYearly);
    // An UNTIL date includes the whole of its day.
    EXPECT_NEAR(yearly->PatternEndDate(), EncodeDate(2030, 5, 7) - kSecond, kSecond / 2);
}

TEST_F(MailStoreCalendarTest, AMissingFileIsAnErrorNamingIt) {
    QFile::remove(store.Path("calendar.ics"));
    try {
        store.Folder(olFolderCalendar)->Items();
        FAIL() << "no error";
    } catch (const EAutomationError& error) {
        EXPECT_TRUE(error.Message().contains(store.Path("calendar.ics"))) << error.what();
    }
}

TEST_F(MailStoreCalendarTest, ItemIndexesOutsideTheFolderFail) {
    auto items = store.Folder(olFolderCalendar)->Items();
    EXPECT_THROW(items->Item(0), EAutomationError);
    EXPECT_THROW(items->Item(10), EAutomationError);
}

QByteArray Event(const QByteArray& uid, const QByteArray& summary) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\nBEGIN:VEVENT\r\nUID:" + uid +
           "\r\nDTSTAMP:20240301T000000Z\r\nDTSTART:20240320T090000Z\r\nSUMMARY:" + summary +
           "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

TEST(MailStoreCalendarFolderTest, AFolderIsReadInFileNameOrderAndOnlyChangedFilesAgain) {
    QTemporaryDir dir;
    WriteText(dir.filePath("b.ics"), Event("b", "Second"));
    WriteText(dir.filePath("a.ics"), Event("a", "First"));
    WriteText(dir.filePath("notes.txt"), "not a calendar");
    TIcsSource source(dir.path(), "calendar", 0);
    auto contents = source.Contents();
    ASSERT_EQ(contents->appointments.size(), 2u);
    EXPECT_EQ(contents->appointments[0]->subject, "First");
    EXPECT_EQ(contents->appointments[1]->subject, "Second");
    EXPECT_EQ(source.ParseCount(), 2);

    for (int i = 0; i < 50; ++i)
        source.Contents();
    EXPECT_EQ(source.ParseCount(), 2);
    EXPECT_EQ(source.Contents(), contents) << "an unchanged folder keeps its snapshot";

    WriteText(dir.filePath("b.ics"), Event("b", "Second, moved"));
    EXPECT_EQ(source.Contents()->appointments[1]->subject, "Second, moved");
    EXPECT_EQ(source.ParseCount(), 3);

    QFile::remove(dir.filePath("a.ics"));
    EXPECT_EQ(source.Contents()->appointments.size(), 1u);
    EXPECT_EQ(source.ParseCount(), 3);
}

TEST(MailStoreCalendarFolderTest, TheDiskIsLookedAtOnlyAfterTheRecheckInterval) {
    QTemporaryDir dir;
    const QString file = dir.filePath("calendar.ics");
    WriteText(file, Event("a", "Before"));
    TIcsSource source(file, "calendar", 60000);
    EXPECT_EQ(source.Contents()->appointments[0]->subject, "Before");
    WriteText(file, Event("a", "After, and longer"));
    EXPECT_EQ(source.Contents()->appointments[0]->subject, "Before");
    source.Invalidate();
    EXPECT_EQ(source.Contents()->appointments[0]->subject, "After, and longer");
}

TEST(MailStoreCalendarFolderTest, TextsComeBackWholeAndAreHeldWithoutSpareRoom) {
    QTemporaryDir dir;
    const QString file = dir.filePath("calendar.ics");
    // A no-break space around the summary is trimmed like any other space.
    WriteText(file, Event("a", QString::fromUtf8("\u00a0Réunion ⚠ in Köln 📅\u00a0").toUtf8()));
    TIcsSource source(file, "calendar", 0);
    const auto contents = source.Contents();
    ASSERT_EQ(contents->appointments.size(), 1u);
    const TAppointmentRecord& record = *contents->appointments[0];
    EXPECT_EQ(record.subject.capacity(), record.subject.size());
    EXPECT_TRUE(record.location.isEmpty());
    auto item = MakeAppointment(contents->appointments[0]);
    EXPECT_EQ(item->Subject(), QString::fromUtf8("Réunion ⚠ in Köln 📅"));
    EXPECT_EQ(item->Location(), QString());
    EXPECT_FALSE(item->IsRecurring());
}

TEST(MailStoreCalendarFolderTest, GarbageAndEmptyFilesGiveNoItemsButNoError) {
    QTemporaryDir dir;
    WriteText(dir.filePath("a.ics"), "");
    WriteText(dir.filePath("b.ics"), "this is not iCalendar\n");
    WriteText(dir.filePath("c.ics"), Event("c", "Kept"));
    TIcsSource source(dir.path(), "calendar", 0);
    ASSERT_EQ(source.Contents()->appointments.size(), 1u);
    EXPECT_EQ(source.Contents()->appointments[0]->subject, "Kept");
}

} // namespace

namespace {

QByteArray Override(const QByteArray& recurrenceId, const QByteArray& rest) {
    return "BEGIN:VEVENT\r\nUID:standup\r\nRECURRENCE-ID;TZID=Europe/Berlin:" + recurrenceId +
           "\r\n" + rest + "END:VEVENT\r\n";
}

// What the scan meets on a day, as "local start subject @ location".
QString MetOn(const std::shared_ptr<AppointmentItem>& item, TDateTime reference) {
    const TOccurrence found = NearOccurrence(*item->GetRecurrencePattern(), reference);
    if (found.start == 0)
        return QStringLiteral("none");
    AppointmentItem& occurrence = found.changed ? *found.changed : *item;
    return ToQDateTime(found.start).toString(u"dd HH:mm ") + occurrence.Subject() + " @ " +
           occurrence.Location();
}

// Deleted occurrences by EXDATE and by a cancelled override; one moved an hour
// later with its own subject and place; the overrides written before the series.
TEST(MailStoreExceptionTest, DeletedOccurrencesAreGoneAndMovedOnesMeetOnceAtTheirNewStart) {
    TScopedTimeZone berlin("Europe/Berlin");
    const TIcsContents contents = ParseEvents(
        Override("20270112T160000", "DTSTART;TZID=Europe/Berlin:20270112T170000\r\n"
                                    "SUMMARY:Stand-up (late)\r\nLOCATION:Room 9\r\n") +
        Override("20270113T160000", "DTSTART;TZID=Europe/Berlin:20270113T160000\r\n"
                                    "STATUS:CANCELLED\r\n") +
        "BEGIN:VEVENT\r\nUID:standup\r\nDTSTART;TZID=Europe/Berlin:20270104T160000\r\n"
        "RRULE:FREQ=DAILY\r\nEXDATE;TZID=Europe/Berlin:20270111T160000\r\n"
        "EXDATE:20270115T150000Z\r\nSUMMARY:Stand-up\r\nLOCATION:Room 4\r\nEND:VEVENT\r\n");
    ASSERT_EQ(contents.appointments.size(), 1u); // the overrides are no meetings of their own
    const auto item = MakeAppointment(contents.appointments[0]);
    EXPECT_EQ(item->GetRecurrencePattern()->Exceptions()->Count(), 4);
    const auto on = [](int day, int hour) { return EncodeDateTime(2027, 1, day, hour, 0); };
    EXPECT_EQ(MetOn(item, on(10, 8)), "10 16:00 Stand-up @ Room 4");
    EXPECT_EQ(MetOn(item, on(11, 8)), "12 17:00 Stand-up (late) @ Room 9");
    EXPECT_EQ(MetOn(item, on(12, 17)), "12 17:00 Stand-up (late) @ Room 9");
    EXPECT_EQ(MetOn(item, on(12, 18) + kOneMinute), "none");
    EXPECT_EQ(MetOn(item, on(13, 8)), "14 16:00 Stand-up @ Room 4");
    EXPECT_EQ(MetOn(item, on(14, 18)), "none");
    EXPECT_EQ(MetOn(item, on(15, 18)), "16 16:00 Stand-up @ Room 4");
}

TEST(MailStoreExceptionTest, AnOverrideWithoutItsSeriesIsAMeetingOfItsOwn) {
    TScopedTimeZone berlin("Europe/Berlin");
    const TIcsContents contents =
        ParseEvents(Override("20270112T160000", "DTSTART;TZID=Europe/Berlin:20270112T170000\r\n"
                                                "SUMMARY:Invited to one\r\n"));
    ASSERT_EQ(contents.appointments.size(), 1u);
    EXPECT_FALSE(contents.appointments[0]->recurrence);
    EXPECT_NEAR(contents.appointments[0]->start, EncodeDateTime(2027, 1, 12, 17, 0), kSecond);
}

// A rule with parts the pattern cannot hold must not be read as a plainer one:
// every day in January is not every day.
TEST(MailStoreExceptionTest, RulesWithPartsThePatternCannotHoldNeverQualify) {
    TScopedTimeZone utc("UTC");
    for (const QByteArray rule :
         {"FREQ=DAILY;BYMONTH=1", "FREQ=WEEKLY;BYDAY=MO;BYMONTH=1", "FREQ=DAILY;BYMONTHDAY=20",
          "FREQ=MONTHLY;BYMONTH=3;BYMONTHDAY=5"}) {
        const TIcsContents contents =
            ParseEvents("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:20270105T090000\r\nRRULE:" + rule +
                        "\r\nSUMMARY:x\r\nEND:VEVENT\r\n");
        ASSERT_EQ(contents.appointments.size(), 1u);
        const auto item = MakeAppointment(contents.appointments[0]);
        EXPECT_EQ(NextOccurrence(*item->GetRecurrencePattern(), EncodeDateTime(2027, 7, 5, 8, 0)),
                  0)
            << rule.constData();
    }
}

} // namespace
