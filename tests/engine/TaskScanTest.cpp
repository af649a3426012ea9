// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

using outlook::NoDate;

class TaskScanTest : public NoticeFixture {
protected:
    std::shared_ptr<MemoryTask> AddTask(const QString& subject, TDateTime start, TDateTime due) {
        auto task = h.outlook->AddTask(subject, due);
        task->startDate = start;
        return task;
    }
    TSortedList<TTaskEvent>& Tasks() { return Access::Tasks(P()); }
    const TTaskEvent& Task(const QString& key) {
        const int index = Tasks().Find(key);
        EXPECT_GE(index, 0) << key.toStdString();
        return Tasks().At(index);
    }
    // Only the named task notices switched on.
    void OnlyTaskNotices(bool reminder, bool preNotice, bool pastDue, int period = 2) {
        h.host.UpdateSettings([=](SettingsRecord& s) {
            s.TaskNotify = reminder;
            s.TaskPreNotify = preNotice;
            s.TaskReminder = pastDue;
            s.TaskRemindPeriod = period;
        });
    }
    void ScanAndNotify() {
        Access::CheckTasks(P());
        Access::HandleTaskNotify(P());
    }
};

TEST_F(TaskScanTest, RecordsOpenTasksThatStartOrFallDueWithinADay) {
    UsLocale us;
    AddTask(QStringLiteral("Done"), NoDate, Mar(5))->complete = true;
    AddTask(QStringLiteral("Both passed"), Mar(1), Mar(3));
    AddTask(QStringLiteral("No dates"), NoDate, NoDate);
    AddTask(QStringLiteral("Due tomorrow"), NoDate, Mar(5));
    AddTask(QStringLiteral("Started last week"), Mar(1) - 3, NoDate);
    AddTask(QStringLiteral("Due next week"), NoDate, Mar(11));
    AddTask(QStringLiteral("Starts tomorrow"), Mar(5), Mar(11));
    Park(Mar(4, 12, 0));
    Access::CheckTasks(P());
    EXPECT_EQ(Keys(Tasks()), (QStringList{"Due tomorrow:3/5/24", "Started last week:1/1/01",
                                          "Starts tomorrow:3/11/24"}));
    const TTaskEvent& due = Task(QStringLiteral("Due tomorrow:3/5/24"));
    EXPECT_EQ(due.StartDate, NoDate);
    EXPECT_EQ(due.DueDay, Mar(5));
    EXPECT_EQ(due.PreNoticeTime, Mar(4));
    EXPECT_EQ(due.NoticeTime, 0);
    EXPECT_EQ(
        h.ReadFile(QStringLiteral("Test-Task.NST")),
        QByteArray(
            "Due tomorrow:3/5/24\r\nStarted last week:1/1/01\r\nStarts tomorrow:3/11/24\r\n"));
}

TEST_F(TaskScanTest, DueTimesAfter0936CountForTheNextDay) {
    AddTask(QStringLiteral("a"), NoDate, Mar(5, 9, 37));
    AddTask(QStringLiteral("b"), NoDate, Mar(5, 9, 35));
    AddTask(QStringLiteral("c"), NoDate, Mar(5));
    AddTask(QStringLiteral("d"), NoDate, Mar(4, 23, 59));
    Park(Mar(4, 12, 0));
    Access::CheckTasks(P());
    ASSERT_EQ(Tasks().Count(), 4);
    EXPECT_EQ(Tasks().At(0).DueDay, Mar(6));
    EXPECT_EQ(Tasks().At(1).DueDay, Mar(5));
    EXPECT_EQ(Tasks().At(2).DueDay, Mar(5));
    EXPECT_EQ(Tasks().At(3).DueDay, Mar(5));
}

TEST_F(TaskScanTest, OverdueRecurringTasksAreMovedOnFirst) {
    UsLocale us;
    auto weekly = AddTask(QStringLiteral("Timesheet"), Mar(1) - 4, Mar(1) - 2);
    weekly->isRecurring = true;
    weekly->laterDueDates = {Mar(1), Mar(6), Mar(13)};
    auto undated = AddTask(QStringLiteral("Backup"), NoDate, Mar(1) - 2);
    undated->isRecurring = true;
    undated->laterDueDates = {Mar(1), Mar(2), Mar(6)};
    auto stuck = AddTask(QStringLiteral("Stuck"), Mar(1) - 4, Mar(1) - 2);
    stuck->isRecurring = true;
    Park(Mar(4, 12, 0));
    Access::CheckTasks(P());
    EXPECT_EQ(weekly->skips, 2);
    // Without a start date too, moved on as far as it must: the stale occurrences
    // of Mar 1 and 2 are never tracked, so they send no past-due reminders.
    EXPECT_EQ(undated->skips, 3);
    EXPECT_EQ(stuck->skips, 1);
    EXPECT_EQ(Keys(Tasks()), (QStringList{"Timesheet:3/6/24"}));
    EXPECT_EQ(Task(QStringLiteral("Timesheet:3/6/24")).StartDate, Mar(4));
}

TEST_F(TaskScanTest, EqualKeysShareARecordAndRemindersDoNotCarryOver) {
    UsLocale us;
    TraceCapture trace;
    auto first = AddTask(QStringLiteral("Report"), NoDate, Mar(5));
    first->reminderSet = true;
    first->reminderTime = Mar(4, 15, 0);
    AddTask(QStringLiteral("Call back"), NoDate, Mar(5));
    AddTask(QStringLiteral("REPORT"), NoDate, Mar(5, 9, 0));
    Park(Mar(4, 12, 0));
    Access::CheckTasks(P());
    EXPECT_EQ(Keys(Tasks()), (QStringList{"Call back:3/5/24", "Report:3/5/24"}));
    EXPECT_EQ(Task(QStringLiteral("Report:3/5/24")).LastReminder, Mar(4, 15, 0));
    EXPECT_EQ(Task(QStringLiteral("Call back:3/5/24")).LastReminder, 0);
    EXPECT_EQ(trace.Lines(),
              (QStringList{"Check For : Report", "Find Task :Report:3/5/24", "Adding Task",
                           "Check For : Call back", "Find Task :Call back:3/5/24", "Adding Task",
                           "Check For : REPORT", "Find Task :REPORT:3/5/24", "Repeat"}));
}

TEST_F(TaskScanTest, ExaminesTwentyTasksPerCall) {
    for (int i = 0; i < 25; ++i)
        AddTask(QStringLiteral("Later %1").arg(i), NoDate, Mar(20));
    Park();
    Access::CheckTasks(P());
    EXPECT_EQ(Access::TaskScanPos(P()), 21);
    EXPECT_EQ(h.host.LastStatus(), QStringLiteral("Checking for New Tasks...1"));
    Access::CheckTasks(P());
    EXPECT_EQ(Access::TaskScanPos(P()), 1);
    EXPECT_EQ(h.host.LastStatus(), QStringLiteral("Checking for New Tasks...21"));
    EXPECT_EQ(h.outlook->Calls(QStringLiteral("Items.Item")), 25);
    EXPECT_EQ(h.ReadFile(QStringLiteral("Test-Task.NST")), QByteArray());
}

TEST_F(TaskScanTest, TaskReminderOnlyForTasksWithAReminder) {
    OnlyTaskNotices(true, false, false);
    auto withReminder = AddTask(QStringLiteral("Call"), NoDate, Mar(5));
    withReminder->reminderSet = true;
    withReminder->reminderTime = Mar(4, 15, 0);
    AddTask(QStringLiteral("Plain"), NoDate, Mar(5));
    Park(Mar(4, 14, 59));
    ScanAndNotify();
    EXPECT_TRUE(SentSubjects().isEmpty());
    h.clock.SetNow(Mar(4, 15, 0, 1));
    ScanAndNotify();
    h.clock.SetNow(Mar(6, 15, 0));
    ScanAndNotify();
    ASSERT_EQ(SentSubjects().size(), 1);
    EXPECT_TRUE(SentSubjects().front().startsWith(QStringLiteral("Call:")));
    EXPECT_EQ(Tasks().At(1).NoticeTime, NoDate); // "Plain"
}

TEST_F(TaskScanTest, PreNoticeGoesOutOnTheDayBeforeTheDueDay) {
    OnlyTaskNotices(false, true, false);
    AddTask(QStringLiteral("Tomorrow"), NoDate, Mar(5));
    AddTask(QStringLiteral("Today"), NoDate, Mar(4));
    Park(Mar(4, 12, 0));
    ScanAndNotify();
    ScanAndNotify();
    h.clock.SetNow(Mar(5, 8, 0));
    ScanAndNotify();
    ASSERT_EQ(SentSubjects().size(), 1);
    EXPECT_TRUE(SentSubjects().front().startsWith(QStringLiteral("Tomorrow:")));
    // The notice stands in for the task reminder.
    EXPECT_TRUE(Tasks().At(1).ReminderSent);
    EXPECT_FALSE(Tasks().At(0).PreNoticeSent);
}

TEST_F(TaskScanTest, PastDueRemindersRepeatAfterEachPeriod) {
    OnlyTaskNotices(false, false, true, 1);
    AddTask(QStringLiteral("Report"), NoDate, Mar(5));
    Park(Mar(4, 12, 0));
    QList<TDateTime> sentAt;
    for (TDateTime t = Mar(4, 12, 0); t <= Mar(6, 12, 0) + 1e-9; t += kOneHour) {
        h.clock.SetNow(t);
        const auto before = SentSubjects().size();
        ScanAndNotify();
        if (SentSubjects().size() > before)
            sentAt << h.clock.Now();
    }
    // Past due from the midnight that starts the due day; then more than 12 hours apart.
    ASSERT_EQ(sentAt.size(), 3);
    EXPECT_NEAR(sentAt[0], Mar(5, 0, 0), 1e-6);
    EXPECT_NEAR(sentAt[1], Mar(5, 13, 0), 1e-6);
    EXPECT_NEAR(sentAt[2], Mar(6, 2, 0), 1e-6);
    EXPECT_TRUE(h.host.TaskRemindPeriodWrites().isEmpty());
}

TEST_F(TaskScanTest, UnknownPeriodCountsAsDailyAndIsSetSo) {
    OnlyTaskNotices(false, false, true, 9);
    AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    Park(Mar(4, 12, 0));
    ScanAndNotify();
    h.clock.SetNow(Mar(5, 11, 59));
    ScanAndNotify();
    h.clock.SetNow(Mar(5, 12, 1));
    ScanAndNotify();
    EXPECT_EQ(SentSubjects().size(), 2);
    EXPECT_EQ(h.host.TaskRemindPeriodWrites().first(), 2);
}

TEST_F(TaskScanTest, FinishedTasksLeaveTwoDaysAfterTheirDueDay) {
    OnlyTaskNotices(false, false, false);
    AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    Park(Mar(4, 12, 0));
    ScanAndNotify();
    h.outlook->Edit([this] { h.outlook->tasks->items.clear(); });
    h.clock.SetNow(Mar(5, 23, 59));
    Access::HandleTaskNotify(P());
    EXPECT_EQ(Tasks().Count(), 1);
    h.clock.SetNow(Mar(6, 0, 1));
    Access::HandleTaskNotify(P());
    EXPECT_EQ(Tasks().Count(), 0);
}

TEST_F(TaskScanTest, ACompletedTaskStopsItsRemindersAndLeaves) {
    OnlyTaskNotices(false, false, true, 0);
    auto task = AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    Park(Mar(4, 12, 0));
    ScanAndNotify();
    EXPECT_EQ(SentSubjects().size(), 1);
    task->complete = true;
    h.clock.SetNow(Mar(4, 14, 0));
    ScanAndNotify();
    EXPECT_EQ(SentSubjects().size(), 1);
    EXPECT_TRUE(Tasks().At(0).Completed);
    h.clock.SetNow(Mar(6, 0, 1));
    ScanAndNotify();
    EXPECT_EQ(Tasks().Count(), 0);
    EXPECT_EQ(SentSubjects().size(), 1);
}

TEST_F(TaskScanTest, FailedNoticesAreNotRetried) {
    auto task = AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    task->reminderSet = true;
    task->reminderTime = Mar(3, 9, 0);
    Park(Mar(4, 12, 0));
    UserMovesDuringSends();
    ScanAndNotify();
    const TTaskEvent& record = Tasks().At(0);
    EXPECT_TRUE(record.ReminderSent);
    EXPECT_EQ(record.LastReminder, h.clock.Now());
    h.input.OnCursorRead = nullptr;
    Access::HandleTaskNotify(P());
    EXPECT_TRUE(SentSubjects().isEmpty());
}

// Only a notice that went out stands in for the task reminder: a pre-notice the
// user interrupted is not tried again, and the reminder still follows.
TEST_F(TaskScanTest, AFailedPreNoticeLeavesTheTaskReminderToCome) {
    OnlyTaskNotices(true, true, false);
    auto task = AddTask(QStringLiteral("Report"), NoDate, Mar(5));
    task->reminderSet = true;
    task->reminderTime = Mar(4, 15, 0);
    Park(Mar(4, 12, 0));
    UserMovesDuringSends();
    ScanAndNotify();
    EXPECT_TRUE(Tasks().At(0).PreNoticeSent);
    EXPECT_FALSE(Tasks().At(0).ReminderSent);

    h.input.OnCursorRead = nullptr;
    ScanAndNotify();
    EXPECT_TRUE(SentSubjects().isEmpty());
    h.clock.SetNow(Mar(4, 15, 0));
    ScanAndNotify();
    ScanAndNotify();
    EXPECT_EQ(SentSubjects().size(), 1);
    EXPECT_TRUE(Tasks().At(0).ReminderSent);
}

TEST_F(TaskScanTest, RecurringTaskThatIsNotOverdueGetsItsReminder) {
    OnlyTaskNotices(true, false, false);
    auto weekly = AddTask(QStringLiteral("Timesheet"), Mar(4), Mar(8));
    weekly->isRecurring = true;
    weekly->reminderSet = true;
    weekly->reminderTime = Mar(4, 15, 0);
    weekly->laterDueDates = {Mar(15)};
    Park(Mar(4, 14, 0));
    ScanAndNotify();
    EXPECT_TRUE(SentSubjects().isEmpty());
    h.clock.SetNow(Mar(4, 15, 1));
    ScanAndNotify();
    ScanAndNotify();
    EXPECT_EQ(weekly->skips, 0);
    EXPECT_EQ(SentSubjects().size(), 1);
    EXPECT_EQ(Tasks().At(0).LastReminder, Mar(4, 15, 0));
}

TEST_F(TaskScanTest, TheOccurrenceATaskIsMovedOnFromEndsAtOnce) {
    UsLocale us;
    OnlyTaskNotices(false, false, true, 0);
    auto daily = AddTask(QStringLiteral("Backup"), NoDate, Mar(4));
    daily->isRecurring = true;
    daily->laterDueDates = {Mar(5)};
    Park(Mar(4, 12, 0));
    ScanAndNotify();
    EXPECT_EQ(SentSubjects(), QStringList{"Backup:3/4/24"});
    h.clock.SetNow(Mar(5, 0, 30));
    ScanAndNotify(); // moved on: the old key is over, the new one due today
    EXPECT_EQ(daily->skips, 1);
    EXPECT_TRUE(Task(QStringLiteral("Backup:3/4/24")).Completed);
    EXPECT_FALSE(Task(QStringLiteral("Backup:3/5/24")).Completed);
    h.clock.SetNow(Mar(5, 3, 0));
    ScanAndNotify();
    EXPECT_EQ(SentSubjects(), (QStringList{"Backup:3/4/24", "Backup:3/5/24", "Backup:3/5/24"}));
}

TEST_F(TaskScanTest, AFullPassFinishesTheRecordsItNoLongerMeets) {
    UsLocale us;
    OnlyTaskNotices(false, false, true, 0);
    auto report = AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    AddTask(QStringLiteral("Invoice"), NoDate, Mar(4));
    for (int i = 0; i < 25; ++i)
        AddTask(QStringLiteral("Later %1").arg(i), NoDate, Mar(20));
    Park(Mar(4, 12, 0));
    Access::CheckTasks(P());
    Access::CheckTasks(P());
    ASSERT_EQ(Tasks().Count(), 2);

    h.outlook->Edit([&] { report->subject = QStringLiteral("Quarterly report"); });
    Access::CheckTasks(P()); // half a pass: nothing is judged yet
    EXPECT_FALSE(Task(QStringLiteral("Report:3/4/24")).Completed);
    Access::CheckTasks(P());
    EXPECT_TRUE(Task(QStringLiteral("Report:3/4/24")).Completed);
    EXPECT_FALSE(Task(QStringLiteral("Invoice:3/4/24")).Completed);
    EXPECT_FALSE(Task(QStringLiteral("Quarterly report:3/4/24")).Completed);

    // Renamed back: the record comes back, also when it is past due.
    h.clock.SetNow(Mar(5, 12, 0));
    h.outlook->Edit([&] { report->subject = QStringLiteral("Report"); });
    Access::CheckTasks(P());
    Access::CheckTasks(P());
    EXPECT_FALSE(Task(QStringLiteral("Report:3/4/24")).Completed);
}

TEST_F(TaskScanTest, APassThatFailsOrMeetsNoTaskFinishesNothing) {
    OnlyTaskNotices(false, false, true, 0);
    AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    AddTask(QStringLiteral("Invoice"), NoDate, Mar(4));
    Park(Mar(4, 12, 0));
    Access::CheckTasks(P());
    ASSERT_EQ(Tasks().Count(), 2);

    // The second item of the next pass fails: the scan moves on past it, but
    // judges nothing.
    h.outlook->FailOn(QStringLiteral("TaskItem.Subject"), 4, 1);
    EXPECT_THROW(Access::CheckTasks(P()), outlook::EAutomationError);
    Access::CheckTasks(P());
    // A folder read empty for a moment (a file being replaced).
    const auto items = h.outlook->tasks->items;
    h.outlook->Edit([&] { h.outlook->tasks->items.clear(); });
    Access::CheckTasks(P());
    h.outlook->Edit([&] { h.outlook->tasks->items = items; });
    for (int i = 0; i < Tasks().Count(); ++i)
        EXPECT_FALSE(Tasks().At(i).Completed) << Tasks().Key(i).toStdString();
}

} // namespace
} // namespace rp::test
