// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/AppointmentRules.h"
#include "tests/engine/ScanFixture.h"

namespace rp::test {
namespace {

const QString kChecking = QStringLiteral("Checking for New Appointments...");

class AppointmentScanTest : public ScanFixture {
protected:
    void FillCalendar(int count, TDateTime start) {
        for (int i = 1; i <= count; ++i)
            h.outlook->AddAppointment(QStringLiteral("Meeting %1").arg(i, 2, 10, QLatin1Char('0')),
                                      start);
    }
    int ItemReads() const { return h.outlook->Calls(QStringLiteral("Items.Item")); }
    std::vector<TEventItem> Tracked() const { return h.SavedAppointments(); }
    QStringList TrackedKeys() const { return KeysOf(Tracked()); }

    // The position of each item the scan examined so far, in order.
    QList<int> Progress() const {
        QList<int> positions;
        for (const QString& text : StatusesStartingWith(kChecking))
            if (text.size() > kChecking.size())
                positions << text.mid(kChecking.size()).toInt();
        return positions;
    }
    // Where the scan began in the last cycle; 0 when it examined nothing.
    int BeganAt(qsizetype progressBefore) const { return Progress().value(progressBefore); }

    void LogEverything() {
        h.clock.OnSleep = [this](int) { h.Engine().Debugging = true; };
    }
    QStringList LogTail(int lines) const {
        const QStringList log = h.DebugLogLines();
        return log.mid(log.size() - lines);
    }
};

TEST_F(AppointmentScanTest, ExaminesTwentyItemsPerCallAndWrapsAround) {
    FillCalendar(45, Mar(20, 9, 0)); // none qualifies
    QList<int> examined, beganAt;
    for (int call = 0; call < 5; ++call) {
        const int before = ItemReads();
        const qsizetype progressBefore = Progress().size();
        if (call == 0)
            StartAt(Mar(4, 12, 0));
        else
            Cycle();
        examined << ItemReads() - before;
        beganAt << BeganAt(progressBefore);
    }
    EXPECT_EQ(examined.mid(0, 4), (QList<int>{20, 20, 5, 20}));
    // Each call goes on where the one before left off.
    EXPECT_EQ(beganAt.mid(1), (QList<int>{21, 41, 1, 21}));
    EXPECT_TRUE(h.host.StatusTexts().contains(kChecking));
    EXPECT_TRUE(h.host.StatusTexts().contains(kChecking + QStringLiteral("45")));
}

TEST_F(AppointmentScanTest, EmptyCalendarMissingItemsAndAKeyHeldDown) {
    LogEverything();
    StartAt(Mar(4, 12, 0));

    // Positions without an item count toward the twenty.
    h.outlook->Edit([this] { h.outlook->calendar->items.assign(25, nullptr); });
    int before = ItemReads();
    qsizetype progressBefore = Progress().size();
    Cycle();
    EXPECT_EQ(BeganAt(progressBefore), 1); // the empty calendar left the scan at the top
    EXPECT_EQ(ItemReads() - before, 20);
    EXPECT_EQ(LogTail(2), (QStringList{"HandleNotify", "HandleNotify - Exit"}));

    // A key goes down as the scan looks: it examines nothing, and the user is
    // no longer away, so the cycle's notice pass does not run.
    const int scanRead = h.input.KeyReads() + 2; // after the wait's own read
    h.input.OnKeyRead = [this, scanRead](int read) {
        if (read == scanRead)
            h.input.SetKeyDown(0x10);
    };
    before = ItemReads();
    Cycle();
    EXPECT_EQ(ItemReads() - before, 0);
    EXPECT_EQ(LogTail(2), (QStringList{"ProcessCheckes", "ProcessCheckes-End"}));

    h.input.SetKeyDown(0x10, false);
    progressBefore = Progress().size();
    Cycle();
    EXPECT_EQ(BeganAt(progressBefore), 21);
}

TEST_F(AppointmentScanTest, AFailingItemIsPassedOverNextTime) {
    FillCalendar(3, Mar(4, 13, 0));
    h.outlook->FailOn(QStringLiteral("AppointmentItem.Start"), 1, 1);
    StartAt(Mar(4, 12, 0)); // held in the pause before the retry
    EXPECT_EQ(h.host.LastStatus(), QStringLiteral("The operation failed. Retrying in 5 seconds."));
    EXPECT_EQ(Progress(), QList<int>{1});
    Cycle();
    EXPECT_EQ(Progress(), (QList<int>{1, 2, 3}));
    EXPECT_EQ(TrackedKeys().size(), 2);
}

TEST_F(AppointmentScanTest, WindowRunsFromOneHourAgoToTwoDaysAhead) {
    h.clock.SetNow(Mar(4, 12, 0));
    const TDateTime now = h.clock.Now(); // the bounds are compared as the scan computes them
    const TDateTime minute = kOneMinute;
    h.outlook->AddAppointment(QStringLiteral("hour ago"), now - kOneHour);
    h.outlook->AddAppointment(QStringLiteral("hour and a minute ago"), now - kOneHour - minute);
    h.outlook->AddAppointment(QStringLiteral("two days ahead"), now + 2);
    h.outlook->AddAppointment(QStringLiteral("two days and a minute"), now + 2 + minute);
    h.outlook->AddAppointment(QStringLiteral("no start"), 0);
    StartAt(now);
    EXPECT_EQ(TrackedKeys(), (QStringList{"11:00:00@loc:hour ago", "12:00:00@loc:two days ahead"}));
}

TEST_F(AppointmentScanTest, RecordCarriesStartReminderAndKey) {
    UsLocale us;
    auto item = h.outlook->AddAppointment(
        QStringLiteral("Budget review of the second quarter plans"), Mar(4, 9, 30));
    item->location = QStringLiteral("Room 12");
    item->reminderMinutesBeforeStart = 15;
    StartAt(Mar(4, 8, 0));
    const std::vector<TEventItem> tracked = Tracked();
    ASSERT_EQ(tracked.size(), 1u);
    const TEventItem& record = tracked.front();
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
    StartAt(Mar(4, 12, 0));
    const std::vector<TEventItem> tracked = Tracked();
    ASSERT_EQ(tracked.size(), 2u);
    EXPECT_EQ(tracked[0].StartTime, Mar(4, 14, 0));
    EXPECT_EQ(KeyBytes(tracked[1].Key).size(), 254); // 255 would split a character
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
    StartAt(Mar(4, 12, 0));
    // Today's 10:00 lies two hours back: tomorrow's is known already, in time for
    // the evening's notice of tomorrow's first meeting.
    ASSERT_EQ(TrackedKeys(), QStringList{"10:00:00@loc:Standup"});
    EXPECT_EQ(Tracked().front().StartTime, Mar(5, 10, 0));

    CycleAt(Mar(5, 0, 1));
    ASSERT_EQ(Tracked().size(), 1u);
}

TEST_F(AppointmentScanTest, SwitchesDecideWhichScansRun) {
    h.outlook->AddAppointment(QStringLiteral("Review"), Mar(4, 15, 0));
    h.outlook->AddTask(QStringLiteral("Report"), Mar(5));
    h.host.UpdateSettings([](SettingsRecord& s) {
        s.MeetingNotify = s.EveningNotify = false;
        s.TaskNotify = s.TaskPreNotify = s.TaskReminder = false;
    });
    LogEverything();
    StartAt(Mar(4, 12, 0));
    EXPECT_EQ(Tracked().size(), 1u); // MorningNotify alone keeps the scan going
    EXPECT_EQ(h.SavedTasks().size(), 0u);
    EXPECT_EQ(LogTail(2), (QStringList{"ProcessCheckes", "ProcessCheckes-End"}));

    h.host.UpdateSettings([](SettingsRecord& s) {
        s.MorningNotify = false;
        s.TaskReminder = true;
    });
    h.outlook->AddAppointment(QStringLiteral("Later"), Mar(4, 16, 0));
    Cycle();
    EXPECT_EQ(Tracked().size(), 1u);
    EXPECT_EQ(h.SavedTasks().size(), 1u);
}

TEST_F(AppointmentScanTest, TrackedMeetingsAreRemindedWithEverySwitchOff) {
    h.host.UpdateSettings(
        [](SettingsRecord& s) { s.MeetingNotify = s.MorningNotify = s.EveningNotify = false; });
    h.outlook->AddAppointment(QStringLiteral("New"), Mar(4, 12, 10));
    TEventItem tracked;
    tracked.Key = QStringLiteral("tracked");
    tracked.StartTime = Mar(4, 12, 10);
    tracked.ReminderTime = Mar(4, 11, 55);
    h.SeedAppointments({tracked});
    StartAt(Mar(4, 12, 0));
    Cycle();
    EXPECT_EQ(SentSubjects(), QStringList{"tracked"});
}

// A daily stand-up keeps one key; each day's occurrence takes the record over
// from the day before, so each is reminded once.
TEST_F(AppointmentScanTest, ADailyMeetingIsRemindedOncePerDay) {
    // The reminders alone: a first-meeting notice would stand in for one.
    h.host.UpdateSettings([](SettingsRecord& s) { s.MorningNotify = s.EveningNotify = false; });
    auto standup = h.outlook->AddAppointment(QStringLiteral("Standup"), Mar(1, 10, 0));
    standup->isRecurring = true;
    standup->reminderMinutesBeforeStart = 10;
    standup->pattern = h.outlook->NewPattern();
    standup->pattern->recurrenceType = outlook::olRecursDaily;
    standup->pattern->patternStartDate = Mar(1);
    standup->pattern->startTime = EncodeTime(10, 0);
    StartAt(Mar(4, 7, 0));
    for (TDateTime t = Mar(4, 7, 5); t < Mar(6, 22, 0); t += 5 * kOneMinute)
        CycleAt(t);
    Finish();
    EXPECT_EQ(SentSubjects(), QStringList(3, QStringLiteral("10:00:00@loc:Standup")));
    // Only the next day's occurrence is left, not yet reminded.
    const std::vector<TEventItem> tracked = Tracked();
    ASSERT_EQ(tracked.size(), 1u);
    EXPECT_EQ(tracked.front().StartTime, Mar(7, 10, 0));
    EXPECT_FALSE(tracked.front().Notified);
}

} // namespace
} // namespace rp::test
