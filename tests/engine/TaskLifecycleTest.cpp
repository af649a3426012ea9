// SPDX-License-Identifier: GPL-3.0-or-later
// Three weeks of a task list that the user keeps in another program: a weekly task
// moved on, a task renamed, one rescheduled, one completed, one deleted. Each
// task's notices are counted: they stop when the task under that key is gone, and
// an untouched task keeps its past-due reminders.

#include "tests/engine/NoticeFixture.h"

#include <QMap>
#include <algorithm>

namespace rp::test {
namespace {

using outlook::NoDate;

class TaskLifecycleTest : public NoticeFixture {
protected:
    TaskLifecycleTest() {
        h.host.UpdateSettings([](SettingsRecord& s) {
            s.MeetingNotify = s.MorningNotify = s.EveningNotify = false;
            s.UrgentEmail = false;
            s.TaskRemindPeriod = 2; // daily
        });
        h.clock.SetNow(Mar(4, 6, 0));
    }

    std::shared_ptr<MemoryTask> AddTask(const QString& subject, TDateTime start, TDateTime due) {
        auto task = h.outlook->AddTask(subject, due);
        task->startDate = start;
        return task;
    }

    // A change made in the other program once the clock reaches `at`.
    void At(TDateTime at, std::function<void()> change) { changes.append({at, std::move(change)}); }

    // Every cycle takes twenty minutes of the simulated weeks.
    void RunUntil(TDateTime until) {
        h.wake.OnWait = [this](int, int milliseconds) {
            for (auto& [at, change] : changes)
                if (change && h.clock.Now() >= at) {
                    h.outlook->Edit(change);
                    change = nullptr;
                }
            h.clock.Advance(kStepMs - milliseconds);
        };
        h.RunUntil(until);
    }

    QMap<QString, int> NoticesPerKey() const {
        QMap<QString, int> counts;
        for (const QString& subject : SentSubjects())
            ++counts[subject];
        return counts;
    }

    void Delete(const std::shared_ptr<MemoryTask>& task) {
        auto& items = h.outlook->tasks->items;
        items.erase(std::remove(items.begin(), items.end(), task), items.end());
    }

    static constexpr int kStepMs = 20 * 60 * 1000;
    QList<std::pair<TDateTime, std::function<void()>>> changes;
    UsLocale us;
};

TEST_F(TaskLifecycleTest, NoticesStopWithTheTaskAndGoOnForTheOthers) {
    auto weekly = AddTask(QStringLiteral("Timesheet"), Mar(8), Mar(8));
    weekly->isRecurring = true;
    weekly->laterDueDates = {Mar(15), Mar(22), Mar(29)};
    auto report = AddTask(QStringLiteral("Report"), NoDate, Mar(5));
    auto plumber = AddTask(QStringLiteral("Call plumber"), NoDate, Mar(5));
    auto flights = AddTask(QStringLiteral("Book flights"), NoDate, Mar(5));
    AddTask(QStringLiteral("Pay rent"), NoDate, Mar(20));
    At(Mar(5, 12, 0), [&] { flights->dueDate = Mar(12); });
    At(Mar(6, 12, 0), [&] { report->subject = QStringLiteral("Quarterly report"); });
    At(Mar(6, 12, 0), [&] { Delete(plumber); });
    At(Mar(8, 9, 0), [&] { report->complete = true; });
    At(Mar(13, 12, 0), [&] { flights->complete = true; });
    RunUntil(Mar(24));

    // A pre-notice the day before, a past-due reminder on each day after that
    // until the task is moved on, renamed, rescheduled, completed or deleted.
    const QMap<QString, int> expected{
        {"Timesheet:3/8/24", 2},    {"Timesheet:3/15/24", 2},       {"Timesheet:3/22/24", 2},
        {"Report:3/5/24", 3},       {"Quarterly report:3/5/24", 2}, {"Call plumber:3/5/24", 3},
        {"Book flights:3/5/24", 2}, {"Book flights:3/12/24", 3},    {"Pay rent:3/20/24", 5},
    };
    EXPECT_EQ(NoticesPerKey(), expected);
    EXPECT_EQ(weekly->skips, 3);
    EXPECT_TRUE(h.host.ErrorBoxes().isEmpty());
    // The finished records leave two days after their due day.
    EXPECT_EQ(Keys(h.SavedTasks()), QStringList({"Pay rent:3/20/24", "Timesheet:3/22/24"}));
}

// The records of a task deleted while the program was not running end with the
// first pass over the task list after the restart.
TEST_F(TaskLifecycleTest, TaskDeletedWhileStoppedEndsAfterTheRestart) {
    AddTask(QStringLiteral("Report"), NoDate, Mar(4));
    auto plumber = AddTask(QStringLiteral("Call plumber"), NoDate, Mar(4));
    RunUntil(Mar(4, 12, 0));
    h.Destroy();
    h.outlook->Edit([&] { Delete(plumber); });
    RunUntil(Mar(7, 12, 0));

    EXPECT_EQ(NoticesPerKey().value(QStringLiteral("Call plumber:3/4/24")), 1);
    EXPECT_EQ(NoticesPerKey().value(QStringLiteral("Report:3/4/24")), 4);
}

} // namespace
} // namespace rp::test
