// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/TaskRules.h"

#include "engine/OutlookModel.h"

#include <cmath>

namespace rp {

namespace {
// Completed or no-longer-reminded tasks leave the list this long after their due day.
constexpr double kRemovalDelay = 2;
} // namespace

bool WorthTracking(const TTaskDates& dates, TDateTime now) {
    if (now > dates.start && now > dates.due)
        return false;
    return now + 1 >= dates.start || now + 1 >= dates.due;
}

// Rounds halves to the even day under the default rounding mode.
TDateTime DueDayOf(TDateTime dueDate) {
    return std::nearbyint(dueDate + 0.1);
}

QString TaskKey(const QString& subject, TDateTime dueDay) {
    return CutKey(subject + QStringLiteral(":") + ShortDateText(dueDay));
}

TTaskEvent MakeTaskRecord(const QString& subject, const TTaskDates& dates) {
    TTaskEvent record;
    record.StartDate = dates.start;
    record.DueDay = DueDayOf(dates.due);
    record.LastReminder = dates.reminder;
    record.PreNoticeTime = record.DueDay - 1;
    record.Key = TaskKey(subject, record.DueDay);
    return record;
}

void SettleReminderTime(TTaskEvent& record) {
    if (record.NoticeTime == 0)
        record.NoticeTime = record.LastReminder != 0 ? record.LastReminder : outlook::NoDate;
}

bool TaskReminderDue(const TTaskEvent& record, const SettingsRecord& settings, TDateTime now) {
    return !record.Completed && settings.TaskNotify && !record.ReminderSent &&
           record.NoticeTime <= now;
}

bool PreNoticeDue(const TTaskEvent& record, const SettingsRecord& settings, TDateTime now) {
    return !record.Completed && settings.TaskPreNotify && !record.PreNoticeSent &&
           record.PreNoticeTime <= now && now < record.DueDay;
}

bool PastDue(const TTaskEvent& record, const SettingsRecord& settings, TDateTime now) {
    return !record.Completed && settings.TaskReminder && record.DueDay <= now;
}

bool PeriodOver(const TTaskEvent& record, double period, TDateTime now) {
    return record.LastReminder + period < now;
}

bool LeavesTheList(const TTaskEvent& record, const SettingsRecord& settings, TDateTime now) {
    return now - kRemovalDelay > record.DueDay && (record.Completed || !settings.TaskReminder);
}

std::optional<double> PastDuePeriod(int32_t setting) {
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
        return std::nullopt;
    }
}

} // namespace rp
