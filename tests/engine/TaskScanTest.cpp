// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/TaskRules.h"
#include "tests/engine/ScanFixture.h"

namespace rp::test {
namespace {

using outlook::NoDate;

const QString kChecking = QStringLiteral("Checking for New Tasks...");

// The task list alone: no calendar scan, no mail, notices at any hour.
class TaskScanTest : public ScanFixture {
protected:
    TaskScanTest() {
        h.host.UpdateSettings([](SettingsRecord& s) {
            s.MeetingNotify = s.MorningNotify = s.EveningNotify = false;
            s.UrgentEmail = false;
        });
        AllDayWindow();
    }

    std::shared_ptr<MemoryTask> AddTask(const QString& subject, TDateTime start, TDateTime due) {
        auto task = h.outlook->AddTask(subject, due);
        task->startDate = start;
        return task;
    }
    // The records as the engine last saved them.
    std::vector<TTaskEvent> Tasks() const { return h.SavedTasks(); }
    TTaskEvent Task(const QString& key) const { return RecordOf(Tasks(), key); }
    // Only the named task notices switched on.
    void OnlyTaskNotices(bool reminder, bool preNotice, bool pastDue, int period = 2) {
        h.host.UpdateSettings([=](SettingsRecord& s) {
            s.TaskNotify = reminder;
            s.TaskPreNotify = preNotice;
            s.TaskReminder = pastDue;
            s.TaskRemindPeriod = period;
        });
    }
    // The first cycle scans; each later one scans and sends what is due.
    void ScanAndNotify() { cycles.Next(); }
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
    StartAt(Mar(4, 12, 0));
    EXPECT_EQ(KeysOf(Tasks()), (QStringList{"Due tomorrow:3/5/24", "Started last week:1/1/01",
                                            "Starts tomorrow:3/11/24"}));
    const TTaskEvent due = Task(QStringLiteral("Due tomorrow:3/5/24"));
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
    StartAt(Mar(4, 12, 0));
    const std::vector<TTaskEvent> tasks = Tasks();
    ASSERT_EQ(tasks.size(), 4u);
    EXPECT_EQ(tasks[0].DueDay, Mar(6));
    EXPECT_EQ(tasks[1].DueDay, Mar(5));
    EXPECT_EQ(tasks[2].DueDay, Mar(5));
    EXPECT_EQ(tasks[3].DueDay, Mar(5));
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
    StartAt(Mar(4, 12, 0));
    EXPECT_EQ(weekly->skips, 2);
    // Without a start date too, moved on as far as it must: the stale occurrences
    // of Mar 1 and 2 are never tracked, so they send no past-due reminders.
    EXPECT_EQ(undated->skips, 3);
    EXPECT_EQ(stuck->skips, 1);
    EXPECT_EQ(KeysOf(Tasks()), (QStringList{"Timesheet:3/6/24"}));
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
    StartAt(Mar(4, 12, 0));
    EXPECT_EQ(KeysOf(Tasks()), (QStringList{"Call back:3/5/24", "Report:3/5/24"}));
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
    // The progress number is where each call begins: where the one before left off.
    StartAt(Mar(4, 12, 0));
    EXPECT_EQ(StatusesStartingWith(kChecking).last(), kChecking + QStringLiteral("1"));
    Cycle();
    EXPECT_EQ(StatusesStartingWith(kChecking).last(), kChecking + QStringLiteral("21"));
    EXPECT_EQ(h.outlook->Calls(QStringLiteral("Items.Item")), 25);
    EXPECT_EQ(h.ReadFile(QStringLiteral("Test-Task.NST")), QByteArray());
    Cycle();
    EXPECT_EQ(StatusesStartingWith(kChecking).last(), kChecking + QStringLiteral("1"));
}

TEST_F(TaskScanTest, TaskReminderOnlyForTasksWithAReminder) {
    OnlyTaskNotices(true, false, false);
    auto withReminder = AddTask(QStringLiteral("Call"), NoDate, Mar(5));
    withReminder->reminderSet = true;
    withReminder->reminderTime = Mar(4, 15, 0);
    AddTask(QStringLiteral("Plain"), NoDate, Mar(5));
    StartAt(Mar(4, 14, 59));
    ScanAndNotify();
    EXPECT_TRUE(SentSubjects().isEmpty());
    CycleAt(Mar(4, 15, 0, 1));
    CycleAt(Mar(6, 15, 0));
    Finish();
    ASSERT_EQ(SentSubjects().size(), 1);
    EXPECT_TRUE(SentSubjects().front().startsWith(QStringLiteral("Call:")));
    EXPECT_EQ(Tasks().at(1).NoticeTime, NoDate); // "Plain"
}

TEST_F(TaskScanTest, PreNoticeGoesOutOnTheDayBeforeTheDueDay) {
    OnlyTaskNotices(false, true, false);
    AddTask(QStringLiteral("Tomorrow"), NoDate, Mar(5));
    AddTask(QStringLiteral("Today"), NoDate, Mar(4));
    StartAt(Mar(4, 12, 0));
    ScanAndNotify();
    ScanAndNotify();
    CycleAt(Mar(5, 8, 0));
    ASSERT_EQ(SentSubjects().size(), 1);
    EXPECT_TRUE(SentSubjects().front().startsWith(QStringLiteral("Tomorrow:")));
    // The notice stands in for the task reminder.
    const std::vector<TTaskEvent> tasks = Tasks();
    EXPECT_TRUE(tasks.at(1).ReminderSent);
    EXPECT_FALSE(tasks.at(0).PreNoticeSent);
}

TEST_F(TaskScanTest, PastDueRemindersRepeatAfterEachPeriod) {
    OnlyTaskNotices(false, false, true, 1);
    AddTask(QStringLiteral("Report"), NoDate, Mar(5));
    // Half past the hour: at midnight itself no notice goes out.
    StartAt(Mar(4, 12, 30));
    QList<TDateTime> sentAt;
    for (TDateTime t = Mar(4, 12, 30); t <= Mar(6, 12, 30) + 1e-9; t += kOneHour) {
        const auto before = SentSubjects().size();
        CycleAt(t);
        if (SentSubjects().size() > before)
            sentAt << h.clock.Now();
    }
    // Past due from the midnight that starts the due day; then more than 12 hours apart.
    ASSERT_EQ(sentAt.size(), 3);
    EXPECT_NEAR(sentAt[0], Mar(5, 0, 30), 1e-6);
    EXPECT_NEAR(sentAt[1], Mar(5, 13, 30), 1e-6);
    EXPECT_NEAR(sentAt[2], Mar(6, 2, 30), 1e-6);
    EXPECT_NEAR(Tasks().front().LastReminder, Mar(6, 2, 30), 1e-6);
    EXPECT_TRUE(h.host.TaskRemindPeriodWrites().isEmpty());
}

TEST_F(TaskScanTest, UnknownPeriodCountsAsDailyAndIsSetSo) {
    OnlyTaskNotices(false, false, true, 9);
    AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    StartAt(Mar(4, 12, 0));
    ScanAndNotify();
    CycleAt(Mar(5, 11, 59));
    CycleAt(Mar(5, 12, 1));
    EXPECT_EQ(SentSubjects().size(), 2);
    EXPECT_EQ(h.host.TaskRemindPeriodWrites().first(), 2);
}

TEST_F(TaskScanTest, FinishedTasksLeaveTwoDaysAfterTheirDueDay) {
    OnlyTaskNotices(false, false, false);
    // Tracked from before, and gone from the task list since.
    h.SeedTasks({MakeTaskRecord(QStringLiteral("Report"), {NoDate, Mar(4), 0, 0})});
    StartAt(Mar(5, 23, 59));
    ScanAndNotify();
    CycleAt(Mar(6, 0, 1)); // saves what the notice pass at 23:59 left
    EXPECT_EQ(Tasks().size(), 1u);
    Finish();
    EXPECT_EQ(Tasks().size(), 0u);
}

TEST_F(TaskScanTest, ACompletedTaskStopsItsRemindersAndLeaves) {
    OnlyTaskNotices(false, false, true, 0);
    auto task = AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    StartAt(Mar(4, 12, 0));
    ScanAndNotify();
    EXPECT_EQ(SentSubjects().size(), 1);
    task->complete = true;
    CycleAt(Mar(4, 14, 0));
    EXPECT_EQ(SentSubjects().size(), 1);
    EXPECT_TRUE(Tasks().at(0).Completed);
    CycleAt(Mar(6, 0, 1));
    Finish();
    EXPECT_EQ(Tasks().size(), 0u);
    EXPECT_EQ(SentSubjects().size(), 1);
}

TEST_F(TaskScanTest, FailedNoticesAreNotRetried) {
    auto task = AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    task->reminderSet = true;
    task->reminderTime = Mar(3, 9, 0);
    StartAt(Mar(4, 12, 0));
    UserInterruptsSends();
    ScanAndNotify();
    const TTaskEvent record = Tasks().at(0);
    EXPECT_TRUE(record.ReminderSent);
    EXPECT_EQ(record.LastReminder, h.clock.Now());
    UserLetsSendsGo();
    ScanAndNotify();
    EXPECT_TRUE(SentSubjects().isEmpty());
    EXPECT_GT(h.clock.Yields(), 0); // the sends were tried
}

// Only a notice that went out stands in for the task reminder: a pre-notice the
// user interrupted is not tried again, and the reminder still follows.
TEST_F(TaskScanTest, AFailedPreNoticeLeavesTheTaskReminderToCome) {
    OnlyTaskNotices(true, true, false);
    auto task = AddTask(QStringLiteral("Report"), NoDate, Mar(5));
    task->reminderSet = true;
    task->reminderTime = Mar(4, 15, 0);
    StartAt(Mar(4, 12, 0));
    UserInterruptsSends();
    ScanAndNotify();
    EXPECT_TRUE(Tasks().at(0).PreNoticeSent);
    EXPECT_FALSE(Tasks().at(0).ReminderSent);

    UserLetsSendsGo();
    ScanAndNotify();
    EXPECT_TRUE(SentSubjects().isEmpty());
    CycleAt(Mar(4, 15, 0));
    ScanAndNotify();
    EXPECT_EQ(SentSubjects().size(), 1);
    EXPECT_TRUE(Tasks().at(0).ReminderSent);
}

TEST_F(TaskScanTest, RecurringTaskThatIsNotOverdueGetsItsReminder) {
    OnlyTaskNotices(true, false, false);
    auto weekly = AddTask(QStringLiteral("Timesheet"), Mar(4), Mar(8));
    weekly->isRecurring = true;
    weekly->reminderSet = true;
    weekly->reminderTime = Mar(4, 15, 0);
    weekly->laterDueDates = {Mar(15)};
    StartAt(Mar(4, 14, 0));
    ScanAndNotify();
    EXPECT_TRUE(SentSubjects().isEmpty());
    CycleAt(Mar(4, 15, 1));
    ScanAndNotify();
    EXPECT_EQ(weekly->skips, 0);
    EXPECT_EQ(SentSubjects().size(), 1);
    EXPECT_EQ(Tasks().at(0).LastReminder, Mar(4, 15, 0));
}

TEST_F(TaskScanTest, TheOccurrenceATaskIsMovedOnFromEndsAtOnce) {
    UsLocale us;
    OnlyTaskNotices(false, false, true, 0);
    auto daily = AddTask(QStringLiteral("Backup"), NoDate, Mar(4));
    daily->isRecurring = true;
    daily->laterDueDates = {Mar(5)};
    StartAt(Mar(4, 12, 0));
    ScanAndNotify();
    EXPECT_EQ(SentSubjects(), QStringList{"Backup:3/4/24"});
    CycleAt(Mar(5, 0, 30)); // moved on: the old key is over, the new one due today
    EXPECT_EQ(daily->skips, 1);
    EXPECT_TRUE(Task(QStringLiteral("Backup:3/4/24")).Completed);
    EXPECT_FALSE(Task(QStringLiteral("Backup:3/5/24")).Completed);
    CycleAt(Mar(5, 3, 0));
    EXPECT_EQ(SentSubjects(), (QStringList{"Backup:3/4/24", "Backup:3/5/24", "Backup:3/5/24"}));
}

// The scans alone: the user stays at the computer, so no notice pass runs.
TEST_F(TaskScanTest, AFullPassFinishesTheRecordsItNoLongerMeets) {
    UsLocale us;
    OnlyTaskNotices(false, false, true, 0);
    UserStaysAtTheComputer();
    auto report = AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    AddTask(QStringLiteral("Invoice"), NoDate, Mar(4));
    for (int i = 0; i < 25; ++i)
        AddTask(QStringLiteral("Later %1").arg(i), NoDate, Mar(20));
    StartAt(Mar(4, 12, 0));
    Cycle();
    ASSERT_EQ(Tasks().size(), 2u);

    h.outlook->Edit([&] { report->subject = QStringLiteral("Quarterly report"); });
    Cycle(); // half a pass: nothing is judged yet
    EXPECT_FALSE(Task(QStringLiteral("Report:3/4/24")).Completed);
    Cycle();
    EXPECT_TRUE(Task(QStringLiteral("Report:3/4/24")).Completed);
    EXPECT_FALSE(Task(QStringLiteral("Invoice:3/4/24")).Completed);
    EXPECT_FALSE(Task(QStringLiteral("Quarterly report:3/4/24")).Completed);

    // Renamed back: the record comes back, also when it is past due.
    h.outlook->Edit([&] { report->subject = QStringLiteral("Report"); });
    CycleAt(Mar(5, 12, 0));
    Cycle();
    EXPECT_FALSE(Task(QStringLiteral("Report:3/4/24")).Completed);
    EXPECT_TRUE(SentSubjects().isEmpty());
}

TEST_F(TaskScanTest, APassThatFailsOrMeetsNoTaskFinishesNothing) {
    OnlyTaskNotices(false, false, true, 0);
    UserStaysAtTheComputer();
    AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    AddTask(QStringLiteral("Invoice"), NoDate, Mar(4));
    StartAt(Mar(4, 12, 0));
    ASSERT_EQ(Tasks().size(), 2u);

    // The second item of the next pass fails: the scan moves on past it, but
    // judges nothing.
    h.outlook->FailOn(QStringLiteral("TaskItem.Subject"), 4, 1);
    Cycle(); // held in the pause before the retry
    EXPECT_EQ(h.host.LastStatus(), QStringLiteral("The operation failed. Retrying in 5 seconds."));
    Cycle();
    // A folder read empty for a moment (a file being replaced).
    const auto items = h.outlook->tasks->items;
    h.outlook->Edit([&] { h.outlook->tasks->items.clear(); });
    Cycle();
    h.outlook->Edit([&] { h.outlook->tasks->items = items; });
    Finish();
    const std::vector<TTaskEvent> tasks = Tasks();
    ASSERT_EQ(tasks.size(), 2u);
    for (const TTaskEvent& record : tasks)
        EXPECT_FALSE(record.Completed) << record.Key.toStdString();
}

} // namespace
} // namespace rp::test
