// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The task list's rules on plain values: which task is worth a record, what the
// record holds, when each of the three task notices is due and when a record
// leaves the list. The task scan and the task notice pass ask them; nothing here
// calls the mail application.

#include "engine/ScanPass.h"
#include "engine/SettingsRecord.h"
#include "engine/TrackedRecords.h"

#include <QSet>
#include <QString>
#include <optional>

namespace rp {

// The dates a task is judged by; 0 until collected.
struct TTaskDates {
    TDateTime start = 0;
    TDateTime due = 0;
    TDateTime reminder = 0;
    // The due date the task had before it was moved on; 0 when it was not.
    TDateTime movedFrom = 0;
};

// Started, or starting or falling due within a day, unless both dates have passed.
bool WorthTracking(const TTaskDates& dates, TDateTime now);
// The day a due date counts for: a due time after 09:36 counts for the next day.
TDateTime DueDayOf(TDateTime dueDate);
QString TaskKey(const QString& subject, TDateTime dueDay);
TTaskEvent MakeTaskRecord(const QString& subject, const TTaskDates& dates);

// The task reminder is due from NoticeTime, copied from LastReminder (the task's
// reminder time in the mail application) the first time the notice pass meets the
// record, before a past-due reminder can move LastReminder. A task without a
// reminder gets NoDate there, so it gets no task reminder.
void SettleReminderTime(TTaskEvent& record);

// Each notice is due only for an open record whose switch is on.
bool TaskReminderDue(const TTaskEvent& record, const SettingsRecord& settings, TDateTime now);
// On the day before the due day (from PreNoticeTime, the midnight that starts it),
// no longer once the due day has begun.
bool PreNoticeDue(const TTaskEvent& record, const SettingsRecord& settings, TDateTime now);
// Past due from the start of the due day; reminded once a period after the last.
bool PastDue(const TTaskEvent& record, const SettingsRecord& settings, TDateTime now);
bool PeriodOver(const TTaskEvent& record, double period, TDateTime now);
// A completed or no-longer-reminded task leaves the list two days after its due day.
bool LeavesTheList(const TTaskEvent& record, const SettingsRecord& settings, TDateTime now);

// The past-due reminder period of a TaskRemindPeriod setting; none for a setting
// that names no period.
std::optional<double> PastDuePeriod(int32_t setting);
inline constexpr int32_t kDailyRemindPeriod = 2;

// The task keys met since the task scan last started at the top of the folder. A
// pass over the whole folder that met no task under a tracked key finishes that
// record: the task was deleted, renamed, rescheduled or completed elsewhere. One
// that met no task at all finishes nothing: every task gone at once is more likely
// a file being replaced.
class TTaskPass : public TScanPass {
public:
    bool Conclusive(int folderCount) const {
        return TScanPass::Conclusive(folderCount) && MetAny();
    }
};

} // namespace rp
