// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The engine's private state and steps, for tests. Touch them only while the
// engine thread is not running (parked or joined) or from a hook that runs on it.

#include "engine/OutlookProcessor.h"

namespace rp {

class TOutlookProcessorTestAccess {
public:
    using P = TOutlookProcessor;

    // State.
    static TSortedList<TEventItem>& Appointments(P& p) { return p.Appointments; }
    static TSortedList<TTaskEvent>& Tasks(P& p) { return p.Tasks; }
    static TSortedList<TEmailItem>& Emails(P& p) { return p.Emails; }
    static QStringList& DebugLines(P& p) { return p.DebugLines; }
    static bool& UserIdle(P& p) { return p.UserIdle; }
    static int32_t& AppointmentScanPos(P& p) { return p.AppointmentScanPos; }
    static int32_t& TaskScanPos(P& p) { return p.TaskScanPos; }
    static bool& StateChanged(P& p) { return p.StateChanged; }
    static TDateTime& NextMorningCheck(P& p) { return p.NextMorningCheck; }
    static TDateTime& NextEveningCheck(P& p) { return p.NextEveningCheck; }
    static outlook::TOutlookApplication& Outlook(P& p) { return *p.Outlook; }
    static std::shared_ptr<outlook::MAPIFolder>& CalendarFolder(P& p) { return p.CalendarFolder; }
    static std::shared_ptr<outlook::MAPIFolder>& TasksFolder(P& p) { return p.TasksFolder; }
    static std::shared_ptr<outlook::MAPIFolder>& InboxFolder(P& p) { return p.InboxFolder; }
    static QMutex& SendLock(P& p) { return p.SendLock; }

    // Steps.
    static bool AnyKeyDown(P& p) { return p.AnyKeyDown(); }
    static void OpenCalendarFolder(P& p) { p.OpenCalendarFolder(); }
    static void OpenTasksFolder(P& p) { p.OpenTasksFolder(); }
    static void OpenInboxFolder(P& p) { p.OpenInboxFolder(); }
    static void ProcessCheckes(P& p) { p.ProcessCheckes(); }
    static void CheckAppointments(P& p) { p.CheckAppointments(); }
    static void CheckTasks(P& p) { p.CheckTasks(); }
    static void CheckUrgentEmail(P& p) { p.CheckUrgentEmail(); }
    static bool SendNewemail(P& p, const QString& recipient, const QString& subject,
                             const QString& body) {
        return p.SendNewemail(recipient, subject, body);
    }
    static void NotifyEvent(P& p, TEventItem& record) { p.NotifyEvent(record); }
    static void NotifyEventPrefixed(P& p, TEventItem& record, const QString& prefix) {
        p.NotifyEventPrefixed(record, prefix);
    }
    static void NotifyTask(P& p, TTaskEvent& record) { p.NotifyTask(record); }
    static void HandleNotify(P& p) { p.HandleNotify(); }
    static void HandleTaskNotify(P& p) { p.HandleTaskNotify(); }
    static void NotifyMorningFirstMeeting(P& p) { p.NotifyMorningFirstMeeting(); }
    static void NotifyEveningFirstMeeting(P& p) { p.NotifyEveningFirstMeeting(); }
};

} // namespace rp
