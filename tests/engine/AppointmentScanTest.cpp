// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

class AppointmentScanTest : public NoticeFixture {
protected:
    void FillCalendar(int count, TDateTime start) {
        for (int i = 1; i <= count; ++i)
            h.outlook->AddAppointment(QStringLiteral("Meeting %1").arg(i, 2, 10, QLatin1Char('0')),
                                      start);
    }
    int ItemReads() const { return h.outlook->Calls(QStringLiteral("Items.Item")); }
    TSortedList<TEventItem>& Appointments() { return Access::Appointments(P()); }
};

TEST_F(AppointmentScanTest, ExaminesTwentyItemsPerCallAndWrapsAround) {
    FillCalendar(45, Mar(20, 9, 0)); // none qualifies
    auto& p = Park();
    QList<int> examined, positions;
    for (int call = 0; call < 4; ++call) {
        const int before = ItemReads();
        Access::CheckAppointments(p);
        examined << ItemReads() - before;
        positions << Access::AppointmentScanPos(p);
    }
    EXPECT_EQ(examined, (QList<int>{20, 20, 5, 20}));
    EXPECT_EQ(positions, (QList<int>{21, 41, 1, 21}));
    EXPECT_TRUE(h.host.StatusTexts().contains(QStringLiteral("Checking for New Appointments...")));
    EXPECT_TRUE(
        h.host.StatusTexts().contains(QStringLiteral("Checking for New Appointments...45")));
}

TEST_F(AppointmentScanTest, EmptyCalendarMissingItemsAndAKeyHeldDown) {
    auto& p = Park();
    Access::CheckAppointments(p);
    EXPECT_EQ(Access::AppointmentScanPos(p), 1);

    // Positions without an item count toward the twenty.
    h.outlook->Edit([this] { h.outlook->calendar->items.assign(25, nullptr); });
    Access::CheckAppointments(p);
    EXPECT_EQ(Access::AppointmentScanPos(p), 21);

    h.input.SetKeyDown(0x10);
    Access::UserIdle(p) = true;
    Access::CheckAppointments(p);
    EXPECT_EQ(Access::AppointmentScanPos(p), 21);
    EXPECT_FALSE(Access::UserIdle(p));
}

TEST_F(AppointmentScanTest, AFailingItemIsPassedOverNextTime) {
    FillCalendar(3, Mar(4, 13, 0));
    h.outlook->FailOn(QStringLiteral("AppointmentItem.Start"), 1, 1);
    auto& p = Park();
    EXPECT_THROW(Access::CheckAppointments(p), outlook::EAutomationError);
    EXPECT_EQ(Access::AppointmentScanPos(p), 2);
    Access::CheckAppointments(p);
    EXPECT_EQ(Keys(Appointments()).size(), 2);
}

TEST_F(AppointmentScanTest, WindowRunsFromOneHourAgoToTwoDaysAhead) {
    auto& p = Park(Mar(4, 12, 0));
    const TDateTime now = h.clock.Now(); // the bounds are compared as the scan computes them
    const TDateTime minute = kOneMinute;
    h.outlook->AddAppointment(QStringLiteral("hour ago"), now - kOneHour);
    h.outlook->AddAppointment(QStringLiteral("hour and a minute ago"), now - kOneHour - minute);
    h.outlook->AddAppointment(QStringLiteral("two days ahead"), now + 2);
    h.outlook->AddAppointment(QStringLiteral("two days and a minute"), now + 2 + minute);
    h.outlook->AddAppointment(QStringLiteral("no start"), 0);
    Access::CheckAppointments(p);
    EXPECT_EQ(Keys(Appointments()),
              (QStringList{"11:00:00@loc:hour ago", "12:00:00@loc:two days ahead"}));
}

TEST_F(AppointmentScanTest, RecordCarriesStartReminderAndKey) {
    UsLocale us;
    auto item = h.outlook->AddAppointment(
        QStringLiteral("Budget review of the second quarter plans"), Mar(4, 9, 30));
    item->location = QStringLiteral("Room 12");
    item->reminderMinutesBeforeStart = 15;
    auto& p = Park(Mar(4, 8, 0));
    Access::CheckAppointments(p);
    ASSERT_EQ(Appointments().Count(), 1);
    const TEventItem& record = Appointments().At(0);
    EXPECT_EQ(record.Key, QStringLiteral("9:30:00 AM@loc:Room 12Budget review of the second qu"));
    EXPECT_EQ(record.StartTime, Mar(4, 9, 30));
    EXPECT_DOUBLE_EQ(record.ReminderTime, Mar(4, 9, 15));
    EXPECT_FALSE(record.Notified);
    EXPECT_EQ(h.ReadFile(QStringLiteral("Test-Note.NST")),
              QByteArray(record.Key.toUtf8() + "\r\n"));
}

TEST_F(AppointmentScanTest, LongKeysAreCutAndSharedKeysMakeOneRecord) {
    auto first = h.outlook->AddAppointment(QStringLiteral("Standup"), Mar(4, 14, 0));
    auto next = h.outlook->AddAppointment(QStringLiteral("STANDUP"), Mar(5, 14, 0));
    first->location = next->location = QStringLiteral("Room 2");
    auto long_ = h.outlook->AddAppointment(QStringLiteral("Long"), Mar(4, 15, 0));
    long_->location = QStringLiteral("R") + QString(300, QChar(u'é'));
    auto& p = Park();
    Access::CheckAppointments(p);
    ASSERT_EQ(Appointments().Count(), 2);
    EXPECT_EQ(Appointments().At(0).StartTime, Mar(4, 14, 0));
    EXPECT_EQ(KeyBytes(Appointments().Key(1)).size(), 254); // 255 would split a character
}

TEST_F(AppointmentScanTest, RecurringMeetingsAreRecordedAtTheirNearOccurrence) {
    auto daily = h.outlook->AddAppointment(QStringLiteral("Standup"), Mar(1, 10, 0));
    daily->isRecurring = true;
    daily->pattern = h.outlook->NewPattern();
    daily->pattern->recurrenceType = outlook::olRecursDaily;
    daily->pattern->patternStartDate = Mar(1);
    daily->pattern->startTime = EncodeTime(10, 0);
    auto yearly = h.outlook->AddAppointment(QStringLiteral("Anniversary"), Mar(4, 13, 0));
    yearly->isRecurring = true;
    yearly->pattern = h.outlook->NewPattern();
    yearly->pattern->recurrenceType = outlook::olRecursYearly;
    yearly->pattern->patternStartDate = Mar(4);
    auto& p = Park(Mar(4, 12, 0));
    Access::CheckAppointments(p);
    // Today's 10:00 lies two hours back: tomorrow's is known already, in time for
    // the evening's notice of tomorrow's first meeting.
    ASSERT_EQ(Keys(Appointments()), QStringList{"10:00:00@loc:Standup"});
    EXPECT_EQ(Appointments().At(0).StartTime, Mar(5, 10, 0));

    h.clock.SetNow(Mar(5, 0, 1));
    Access::CheckAppointments(p);
    ASSERT_EQ(Appointments().Count(), 1);
}

TEST_F(AppointmentScanTest, SwitchesDecideWhichScansRun) {
    h.outlook->AddAppointment(QStringLiteral("Review"), Mar(4, 15, 0));
    h.outlook->AddTask(QStringLiteral("Report"), Mar(5));
    h.host.UpdateSettings([](SettingsRecord& s) {
        s.MeetingNotify = s.EveningNotify = false;
        s.TaskNotify = s.TaskPreNotify = s.TaskReminder = false;
    });
    auto& p = Park();
    p.Debugging = true;
    Access::ProcessCheckes(p);
    EXPECT_EQ(Appointments().Count(), 1); // MorningNotify alone keeps the scan going
    EXPECT_EQ(Access::Tasks(p).Count(), 0);
    EXPECT_EQ(Access::DebugLines(p).mid(Access::DebugLines(p).size() - 2),
              (QStringList{"ProcessCheckes", "ProcessCheckes-End"}));

    h.host.UpdateSettings([](SettingsRecord& s) {
        s.MorningNotify = false;
        s.TaskReminder = true;
    });
    h.outlook->AddAppointment(QStringLiteral("Later"), Mar(4, 16, 0));
    Access::ProcessCheckes(p);
    EXPECT_EQ(Appointments().Count(), 1);
    EXPECT_EQ(Access::Tasks(p).Count(), 1);
}

TEST_F(AppointmentScanTest, TrackedMeetingsAreRemindedWithEverySwitchOff) {
    h.host.UpdateSettings(
        [](SettingsRecord& s) { s.MeetingNotify = s.MorningNotify = s.EveningNotify = false; });
    h.outlook->AddAppointment(QStringLiteral("New"), Mar(4, 12, 10));
    auto& p = Park(Mar(4, 12, 0));
    AddEvent(QStringLiteral("tracked"), Mar(4, 12, 10), Mar(4, 11, 55));
    Access::ProcessCheckes(p);
    Access::HandleNotify(p);
    EXPECT_EQ(SentSubjects(), QStringList{"tracked"});
}

// A daily stand-up keeps one key; each day's occurrence takes the record over
// from the day before, so each is reminded once.
TEST_F(AppointmentScanTest, ADailyMeetingIsRemindedOncePerDay) {
    auto standup = h.outlook->AddAppointment(QStringLiteral("Standup"), Mar(1, 10, 0));
    standup->isRecurring = true;
    standup->reminderMinutesBeforeStart = 10;
    standup->pattern = h.outlook->NewPattern();
    standup->pattern->recurrenceType = outlook::olRecursDaily;
    standup->pattern->patternStartDate = Mar(1);
    standup->pattern->startTime = EncodeTime(10, 0);
    auto& p = Park(Mar(4, 7, 0));
    for (TDateTime t = Mar(4, 7, 0); t < Mar(6, 22, 0); t += 5 * kOneMinute) {
        h.clock.SetNow(t);
        Access::CheckAppointments(p);
        Access::HandleNotify(p);
    }
    EXPECT_EQ(SentSubjects(), QStringList(3, QStringLiteral("10:00:00@loc:Standup")));
    // Only the next day's occurrence is left, not yet reminded.
    ASSERT_EQ(Appointments().Count(), 1);
    EXPECT_EQ(Appointments().At(0).StartTime, Mar(7, 10, 0));
    EXPECT_FALSE(Appointments().At(0).Notified);
}

} // namespace
} // namespace rp::test
