// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/KeyDump.h"
#include "engine/OutlookProcessor.h"

#include "engine/TaskRules.h"

namespace rp {

namespace {

using outlook::NoDate;
using outlook::TaskItem;

const QString kCheckingTasks = QStringLiteral("Checking for New Tasks...");

void Trace(const QString& text) {
    qCInfo(lcTrace).noquote() << text;
}

void CollectDates(TaskItem& task, TTaskDates& dates) {
    dates.start = task.StartDate();
    dates.due = task.DueDate();
}

void CollectReminder(TaskItem& task, TTaskDates& dates) {
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
TTaskDates CollectRecurring(TaskItem& task, TDateTime today) {
    TTaskDates dates;
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

TTaskDates CollectDatesOf(TaskItem& task, TDateTime today) {
    if (task.IsRecurring())
        return CollectRecurring(task, today);
    TTaskDates dates;
    CollectDates(task, dates);
    CollectReminder(task, dates);
    return dates;
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
                 TTaskPass& pass) {
    const QString subject = task.Subject();
    Trace(QStringLiteral("Check For : ") + subject);
    const TTaskDates dates = CollectDatesOf(task, today);
    // The occurrence it was moved on from is over at once.
    if (dates.movedFrom != 0)
        MarkFinished(tasks, TaskKey(subject, DueDayOf(dates.movedFrom)));
    const QString key = TaskKey(subject, DueDayOf(dates.due));
    if (task.Complete()) {
        MarkFinished(tasks, key);
        return;
    }
    pass.Meet(key);
    if (!WorthTracking(dates, clock.Now())) {
        // Still open and past due: a record wrongly finished comes back.
        MarkFinished(tasks, key, false);
        return;
    }
    auto record = std::make_unique<TTaskEvent>(MakeTaskRecord(subject, dates));
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
        taskPass.Begin(TasksFolder->Items()->Count());
    try {
        for (int examined = 0; TasksFolder->Items()->Count() >= TaskScanPos &&
                               examined < ScanBatchLimit && !AnyKeyDown();) {
            const outlook::ItemPtr item = TasksFolder->Items()->Item(TaskScanPos);
            ++examined;
            ++TaskScanPos;
            if (item)
                ExamineTask(*outlook::ItemAs<TaskItem>(item), today, *deps.Clock, Tasks, taskPass);
        }
    } catch (...) {
        taskPass.Spoil();
        throw;
    }
    WriteKeyDump(DataPath(QStringLiteral("Test-Task.NST")), Tasks);
    const int count = TasksFolder->Items()->Count();
    if (count < TaskScanPos) {
        TaskScanPos = 1;
        EndTaskPass(count);
    }
}

void TOutlookProcessor::EndTaskPass(int count) {
    if (taskPass.Conclusive(count))
        for (int i = 0; i < Tasks.Count(); ++i)
            if (!taskPass.Met(Tasks.Key(i)))
                Tasks.At(i).Completed = true;
    taskPass.End();
}

// The past-due reminder period; an unknown setting counts as daily and is set so.
double TOutlookProcessor::PastDuePeriodSetting(const SettingsRecord& settings) {
    const std::optional<double> period = PastDuePeriod(settings.TaskRemindPeriod);
    if (period)
        return *period;
    host->SetTaskRemindPeriod(kDailyRemindPeriod);
    return *PastDuePeriod(kDailyRemindPeriod);
}

// Each notice is saved at once after its record is marked, so a crash right after
// the send does not repeat it. A notice is tried once: one that did not go out is
// marked all the same (NotifyTask marks the task reminded when it went out).
void TOutlookProcessor::HandleTaskNotify() {
    for (int i = Tasks.Count() - 1; i >= 0 && !StopRequested; --i) {
        TTaskEvent& record = Tasks.At(i);
        const SettingsRecord settings = Settings();
        SettleReminderTime(record);
        if (TaskReminderDue(record, settings, Now())) {
            if (!NotifyTask(record))
                record.ReminderSent = true;
            SaveStateFiles();
        }
        if (PreNoticeDue(record, settings, Now())) {
            NotifyTask(record);
            record.PreNoticeSent = true;
            SaveStateFiles();
        }
        const TDateTime now = Now();
        // The period only for a past-due record: an unknown setting is put right
        // when it is first needed.
        if (PastDue(record, settings, now) &&
            PeriodOver(record, PastDuePeriodSetting(settings), now)) {
            NotifyTask(record);
            record.LastReminder = now;
            SaveStateFiles();
        }
        if (LeavesTheList(record, settings, Now()))
            Tasks.Delete(i);
    }
}

} // namespace rp
