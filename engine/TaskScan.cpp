// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/KeyDump.h"
#include "engine/OutlookProcessor.h"

#include <QSet>
#include <cmath>

namespace rp {

namespace {

using outlook::NoDate;
using outlook::TaskItem;

const QString kCheckingTasks = QStringLiteral("Checking for New Tasks...");
// Completed or no-longer-reminded tasks leave the list this long after their due day.
constexpr double kRemovalDelay = 2;
constexpr int32_t kDailyPeriodSetting = 2;

void Trace(const QString& text) {
    qCInfo(lcTrace).noquote() << text;
}

// The dates a task is judged by; 0 until collected.
struct TaskDates {
    TDateTime start = 0;
    TDateTime due = 0;
    TDateTime reminder = 0;
    // The due date the task had before it was moved on; 0 when it was not.
    TDateTime movedFrom = 0;
};

void CollectDates(TaskItem& task, TaskDates& dates) {
    dates.start = task.StartDate();
    dates.due = task.DueDate();
}

void CollectReminder(TaskItem& task, TaskDates& dates) {
    if (task.ReminderSet())
        dates.reminder = task.ReminderTime();
}

bool StartedBefore(TDateTime start, TDateTime today) {
    return start < today || start == NoDate;
}

// An overdue recurring task is moved on in the mail application until an
// occurrence starts or falls due today or later, or skipping fails. A task
// without a start date is moved on as far too: stopping after one step would
// track each stale occurrence in turn and send a past-due reminder for every one.
// The reminder is that of the occurrence the task is judged by, also when it was
// not overdue and so never moved on.
TaskDates CollectRecurring(TaskItem& task, TDateTime today) {
    TaskDates dates;
    const TDateTime firstDue = task.DueDate();
    bool overdue = StartedBefore(task.StartDate(), today) && firstDue < today;
    while (overdue) {
        overdue = task.SkipRecurrence() && StartedBefore(task.StartDate(), today) &&
                  task.DueDate() < today;
        CollectDates(task, dates);
        CollectReminder(task, dates);
    }
    CollectDates(task, dates);
    dates.reminder = 0;
    CollectReminder(task, dates);
    if (dates.due != firstDue)
        dates.movedFrom = firstDue;
    return dates;
}

TaskDates CollectDatesOf(TaskItem& task, TDateTime today) {
    if (task.IsRecurring())
        return CollectRecurring(task, today);
    TaskDates dates;
    CollectDates(task, dates);
    CollectReminder(task, dates);
    return dates;
}

// Started, or starting or falling due within a day, unless both dates have passed.
bool WorthTracking(IClock& clock, const TaskDates& dates) {
    if (clock.Now() > dates.start && clock.Now() > dates.due)
        return false;
    return clock.Now() + 1 >= dates.start || clock.Now() + 1 >= dates.due;
}

// Rounds halves to the even day under the default rounding mode, so a due time
// after 09:36 counts for the next day.
TDateTime DueDayOf(TDateTime dueDate) {
    return std::nearbyint(dueDate + 0.1);
}

QString TaskKey(const QString& subject, TDateTime dueDay) {
    return CutKey(subject + QStringLiteral(":") + ShortDateText(dueDay));
}

std::unique_ptr<TTaskEvent> MakeTaskRecord(const QString& subject, const TaskDates& dates) {
    auto record = std::make_unique<TTaskEvent>();
    record->StartDate = dates.start;
    record->DueDay = DueDayOf(dates.due);
    record->LastReminder = dates.reminder;
    record->PreNoticeTime = record->DueDay - 1;
    record->Key = TaskKey(subject, record->DueDay);
    return record;
}

// A finished record (the task completed in the mail application, or no longer
// there under this key) stops its notices and leaves the list; otherwise it would
// be reminded for ever.
void MarkFinished(TSortedList<TTaskEvent>& tasks, const QString& key, bool finished = true) {
    const int index = tasks.Find(key);
    if (index >= 0)
        tasks.At(index).Completed = finished;
}

void ExamineTask(TaskItem& task, TDateTime today, IClock& clock, TSortedList<TTaskEvent>& tasks,
                 QSet<QString>& met) {
    const QString subject = task.Subject();
    Trace(QStringLiteral("Check For : ") + subject);
    const TaskDates dates = CollectDatesOf(task, today);
    // The occurrence it was moved on from is over at once.
    if (dates.movedFrom != 0)
        MarkFinished(tasks, TaskKey(subject, DueDayOf(dates.movedFrom)));
    const QString key = TaskKey(subject, DueDayOf(dates.due));
    if (task.Complete()) {
        MarkFinished(tasks, key);
        return;
    }
    met.insert(key.toCaseFolded());
    if (!WorthTracking(clock, dates)) {
        // Still open and past due: a record wrongly finished comes back.
        MarkFinished(tasks, key, false);
        return;
    }
    auto record = MakeTaskRecord(subject, dates);
    Trace(QStringLiteral("Find Task :") + record->Key);
    const int index = tasks.Find(record->Key);
    if (index >= 0) {
        Trace(QStringLiteral("Repeat"));
        tasks.At(index).Completed = task.Complete();
        return;
    }
    Trace(QStringLiteral("Adding Task"));
    tasks.Add(key, std::move(record));
}

// What the task notices compare with Now:
// - The task reminder is due from NoticeTime, which holds the task's reminder
//   time in the mail application, or NoDate for a task without one, so such a
//   task gets no task reminder. It is copied from LastReminder the first time
//   the record meets this pass, before a past-due reminder can move LastReminder.
// - The pre-notice is due on the day before the due day (from PreNoticeTime, the
//   midnight that starts it) and no longer once the due day has begun.
// - A completed or no-longer-reminded task leaves the list two days after its
//   due day (DueDay + 2).
void SettleReminderTime(TTaskEvent& record) {
    if (record.NoticeTime == 0)
        record.NoticeTime = record.LastReminder != 0 ? record.LastReminder : NoDate;
}

bool TaskReminderDue(const TTaskEvent& record, TDateTime now) {
    return !record.ReminderSent && record.NoticeTime <= now;
}

bool PreNoticeDue(const TTaskEvent& record, TDateTime now) {
    return !record.PreNoticeSent && record.PreNoticeTime <= now && now < record.DueDay;
}

bool LeavesTheList(const TTaskEvent& record, const SettingsRecord& settings, TDateTime now) {
    return now - kRemovalDelay > record.DueDay && (record.Completed || !settings.TaskReminder);
}

// The past-due reminder period; an unknown setting counts as daily and is set so.
double PastDuePeriod(IEngineHost& host, int32_t setting) {
    switch (setting) {
    case 0:
        return kOneHour;
    case 1:
        return 0.5;
    case 2:
        return 1;
    case 3:
        return 7;
    default:
        host.SetTaskRemindPeriod(kDailyPeriodSetting);
        return 1;
    }
}

} // namespace

void TOutlookProcessor::CheckTasks() {
    if (TaskScanPos == 0)
        TaskScanPos = 1;
    const TDateTime today = WholeDay(Now());
    OpenTasksFolder();
    // The progress number is the position this call starts from.
    Status(kCheckingTasks + QString::number(TaskScanPos));
    // No task folder was ever handed over: nothing to examine.
    if (!TasksFolder)
        return;
    if (TaskScanPos == 1)
        BeginTaskPass(TasksFolder->Items()->Count());
    try {
        for (int examined = 0; TasksFolder->Items()->Count() >= TaskScanPos &&
                               examined < ScanBatchLimit && !AnyKeyDown();) {
            const outlook::ItemPtr item = TasksFolder->Items()->Item(TaskScanPos);
            ++examined;
            ++TaskScanPos;
            if (item)
                ExamineTask(*outlook::ItemAs<TaskItem>(item), today, *deps.Clock, Tasks,
                            taskPass.met);
        }
    } catch (...) {
        taskPass.sound = false; // an item was not seen: this pass cannot tell what is gone
        throw;
    }
    WriteKeyDump(DataPath(QStringLiteral("Test-Task.NST")), Tasks);
    const int count = TasksFolder->Items()->Count();
    if (count < TaskScanPos) {
        TaskScanPos = 1;
        EndTaskPass(count);
    }
}

void TOutlookProcessor::BeginTaskPass(int count) {
    taskPass.met.clear();
    taskPass.count = count;
    taskPass.sound = true;
}

// A pass over the whole folder that met no task under a tracked key finishes
// that record: the task was deleted, renamed, rescheduled or completed elsewhere.
// A pass during which the folder changed or an item failed, or which met no task
// at all (more likely a file being replaced than every task deleted), finishes
// nothing.
void TOutlookProcessor::EndTaskPass(int count) {
    if (taskPass.sound && count == taskPass.count && !taskPass.met.isEmpty())
        for (int i = 0; i < Tasks.Count(); ++i)
            if (!taskPass.met.contains(Tasks.Key(i).toCaseFolded()))
                Tasks.At(i).Completed = true;
    taskPass.sound = false;
    taskPass.met.clear();
}

// Each notice is saved at once after its flag is set, so a crash right after the
// send does not repeat it. A completed task gets no more notices.
void TOutlookProcessor::HandleTaskNotify() {
    for (int i = Tasks.Count() - 1; i >= 0; --i) {
        if (StopRequested)
            break;
        TTaskEvent& record = Tasks.At(i);
        const SettingsRecord settings = Settings();
        SettleReminderTime(record);
        if (!record.Completed && settings.TaskNotify && TaskReminderDue(record, Now())) {
            NotifyTask(record);
            record.ReminderSent = true;
            SaveStateFiles();
        }
        if (!record.Completed && settings.TaskPreNotify && PreNoticeDue(record, Now())) {
            NotifyTask(record);
            record.PreNoticeSent = true;
            SaveStateFiles();
        }
        const TDateTime now = Now();
        if (!record.Completed && settings.TaskReminder && record.DueDay <= now &&
            record.LastReminder + PastDuePeriod(*host, settings.TaskRemindPeriod) < now) {
            NotifyTask(record);
            record.LastReminder = now;
            SaveStateFiles();
        }
        if (LeavesTheList(record, settings, Now()))
            Tasks.Delete(i);
    }
}

} // namespace rp
