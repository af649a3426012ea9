// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/TaskRules.h"
#include "engine/OutlookModel.h"
#include "tests/engine/NoticeFixture.h"

#include <optional>
#include <tuple>

namespace rp::test {
namespace {

using outlook::NoDate;

SettingsRecord AllTaskNotices() {
    SettingsRecord settings;
    settings.TaskNotify = settings.TaskPreNotify = settings.TaskReminder = true;
    return settings;
}

TTaskEvent RecordDue(TDateTime dueDay) {
    TTaskEvent record;
    record.DueDay = dueDay;
    record.PreNoticeTime = dueDay - 1;
    return record;
}

TEST(TaskRulesTest, WhichTasksAreWorthARecord) {
    const TDateTime now = Mar(4, 12, 0);
    struct Row {
        const char* name;
        TDateTime start, due;
        bool worth;
    } rows[] = {
        {"no dates", NoDate, NoDate, false},
        {"both passed", Mar(1), Mar(3), false},
        {"started, no due date", Mar(1) - 3, NoDate, true},
        {"no start, due tomorrow", NoDate, Mar(5), true},
        {"no start, due next week", NoDate, Mar(11), false},
        {"starts within a day", Mar(5, 11, 0), Mar(11), true},
        {"starts just over a day ahead", Mar(5, 12, 1), Mar(11), false},
        {"started, due tonight", Mar(1), Mar(4, 20, 0), true},
        {"started, due this morning", Mar(1), Mar(4, 9, 0), false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(WorthTracking({row.start, row.due, 0, 0}, now), row.worth) << row.name;
}

TEST(TaskRulesTest, DueTimesAfter0936CountForTheNextDay) {
    EXPECT_EQ(DueDayOf(Mar(4)), Mar(4));
    EXPECT_EQ(DueDayOf(Mar(4, 9, 35)), Mar(4));
    EXPECT_EQ(DueDayOf(Mar(4, 9, 37)), Mar(5));
    EXPECT_EQ(DueDayOf(Mar(4, 23, 59)), Mar(5));
}

TEST(TaskRulesTest, ANewRecordHoldsTheDueDayAndTheReminderItWasFoundWith) {
    UsLocale us;
    const TTaskEvent record =
        MakeTaskRecord(QStringLiteral("Send report"), {Mar(1), Mar(5, 10, 0), Mar(4, 9, 0), 0});
    EXPECT_EQ(record.Key, QStringLiteral("Send report:3/6/24"));
    EXPECT_EQ(record.StartDate, Mar(1));
    EXPECT_EQ(record.DueDay, Mar(6));
    EXPECT_EQ(record.PreNoticeTime, Mar(5));
    EXPECT_EQ(record.LastReminder, Mar(4, 9, 0));
    EXPECT_EQ(record.NoticeTime, 0);
    EXPECT_FALSE(record.ReminderSent || record.PreNoticeSent || record.Completed);
    // Keys are stored short: a long subject is cut.
    EXPECT_EQ(KeyBytes(MakeTaskRecord(QString(300, QLatin1Char('x')), {}).Key).size(),
              kMaxKeyBytes);
}

TEST(TaskRulesTest, TheReminderTimeIsSettledOnceFromTheFirstLastReminder) {
    TTaskEvent withReminder;
    withReminder.LastReminder = Mar(4, 9, 0);
    SettleReminderTime(withReminder);
    EXPECT_EQ(withReminder.NoticeTime, Mar(4, 9, 0));
    // A past-due reminder moves LastReminder later; the reminder time stays.
    withReminder.LastReminder = Mar(5, 9, 0);
    SettleReminderTime(withReminder);
    EXPECT_EQ(withReminder.NoticeTime, Mar(4, 9, 0));

    TTaskEvent without;
    SettleReminderTime(without);
    EXPECT_EQ(without.NoticeTime, NoDate);
    EXPECT_FALSE(TaskReminderDue(without, AllTaskNotices(), Mar(4, 12, 0)));
}

TEST(TaskRulesTest, WhenEachTaskNoticeIsDue) {
    const SettingsRecord all = AllTaskNotices();
    TTaskEvent record = RecordDue(Mar(5));
    record.NoticeTime = Mar(4, 9, 0);

    EXPECT_FALSE(TaskReminderDue(record, all, Mar(4, 8, 59)));
    EXPECT_TRUE(TaskReminderDue(record, all, Mar(4, 9, 0)));
    EXPECT_FALSE(PreNoticeDue(record, all, Mar(3, 23, 59)));
    EXPECT_TRUE(PreNoticeDue(record, all, Mar(4)));
    EXPECT_FALSE(PreNoticeDue(record, all, Mar(5))); // the due day has begun
    EXPECT_FALSE(PastDue(record, all, Mar(4, 23, 59)));
    EXPECT_TRUE(PastDue(record, all, Mar(5)));

    // Sent once each.
    TTaskEvent sent = record;
    sent.ReminderSent = sent.PreNoticeSent = true;
    EXPECT_FALSE(TaskReminderDue(sent, all, Mar(4, 12, 0)));
    EXPECT_FALSE(PreNoticeDue(sent, all, Mar(4, 12, 0)));

    // None for a completed record, none with its switch off.
    TTaskEvent completed = record;
    completed.Completed = true;
    SettingsRecord off = all;
    off.TaskNotify = off.TaskPreNotify = off.TaskReminder = false;
    for (const auto& [name, r, s] :
         {std::tuple{"completed", completed, all}, std::tuple{"switched off", record, off}}) {
        EXPECT_FALSE(TaskReminderDue(r, s, Mar(5, 12, 0))) << name;
        EXPECT_FALSE(PreNoticeDue(r, s, Mar(4, 12, 0))) << name;
        EXPECT_FALSE(PastDue(r, s, Mar(5, 12, 0))) << name;
    }
}

TEST(TaskRulesTest, PastDueRemindersRepeatAfterMoreThanAPeriod) {
    TTaskEvent record = RecordDue(Mar(4));
    record.LastReminder = Mar(4, 8, 0);
    EXPECT_FALSE(PeriodOver(record, 0.5, Mar(4, 19, 59)));
    EXPECT_TRUE(PeriodOver(record, 0.5, Mar(4, 20, 1)));
    // A record that never had a reminder is over its period at once.
    EXPECT_TRUE(PeriodOver(RecordDue(Mar(4)), 7, Mar(4, 0, 1)));

    struct Row {
        int32_t setting;
        std::optional<double> period;
    } rows[] = {{0, kOneHour}, {1, 0.5}, {2, 1}, {3, 7}, {4, {}}, {9, {}}, {-1, {}}};
    for (const Row& row : rows)
        EXPECT_EQ(PastDuePeriod(row.setting), row.period) << row.setting;
    EXPECT_EQ(PastDuePeriod(kDailyRemindPeriod), 1);
}

// Looked at hourly from noon the day before, with the half-day period, on a
// clock that counts whole milliseconds as the engine's does.
TEST(TaskRulesTest, PastDueRemindersStartAtTheDueDaysMidnightAndKeepTheirPeriod) {
    TTaskEvent record = RecordDue(Mar(5));
    const SettingsRecord settings = AllTaskNotices();
    const double period = PastDuePeriod(1).value();
    FakeClock clock;
    QList<TDateTime> remindedAt;
    for (TDateTime t = Mar(4, 12, 0); t <= Mar(6, 12, 0) + 1e-9; t += kOneHour) {
        clock.SetNow(t);
        const TDateTime now = clock.Now();
        if (PastDue(record, settings, now) && PeriodOver(record, period, now)) {
            remindedAt << now;
            record.LastReminder = now;
        }
    }
    // Past due from the midnight that starts the due day; then more than 12 hours apart.
    ASSERT_EQ(remindedAt.size(), 3);
    EXPECT_NEAR(remindedAt[0], Mar(5, 0, 0), 1e-6);
    EXPECT_NEAR(remindedAt[1], Mar(5, 13, 0), 1e-6);
    EXPECT_NEAR(remindedAt[2], Mar(6, 2, 0), 1e-6);
}

TEST(TaskRulesTest, AFinishedOrNoLongerRemindedRecordLeavesTwoDaysAfterItsDueDay) {
    SettingsRecord reminded = AllTaskNotices();
    SettingsRecord notReminded = reminded;
    notReminded.TaskReminder = false;
    TTaskEvent open = RecordDue(Mar(4));
    TTaskEvent completed = open;
    completed.Completed = true;

    EXPECT_FALSE(LeavesTheList(completed, reminded, Mar(6)));
    EXPECT_TRUE(LeavesTheList(completed, reminded, Mar(6, 0, 1)));
    EXPECT_TRUE(LeavesTheList(open, notReminded, Mar(6, 0, 1)));
    // Open and still reminded of: kept however late.
    EXPECT_FALSE(LeavesTheList(open, reminded, Mar(30)));
}

TEST(TaskRulesTest, OnlyASoundFullPassThatMetTasksFinishesTheOthers) {
    TTaskPass pass;
    EXPECT_FALSE(pass.Conclusive(0)); // no pass begun

    pass.Begin(3);
    pass.Meet(QStringLiteral("Report:3/4/24"));
    EXPECT_TRUE(pass.Met(QStringLiteral("REPORT:3/4/24"))); // keys compare without case
    EXPECT_FALSE(pass.Met(QStringLiteral("Other:3/4/24")));
    EXPECT_TRUE(pass.Conclusive(3));
    EXPECT_FALSE(pass.Conclusive(4)); // the folder changed during the pass

    pass.Spoil();
    EXPECT_FALSE(pass.Conclusive(3));

    pass.Begin(2);
    EXPECT_FALSE(pass.Conclusive(2)); // met nothing: more likely a file being replaced
    pass.Meet(QStringLiteral("a"));
    pass.End();
    EXPECT_FALSE(pass.Met(QStringLiteral("a")));
    EXPECT_FALSE(pass.Conclusive(2));
}

} // namespace
} // namespace rp::test
