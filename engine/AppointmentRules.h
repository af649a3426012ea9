// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The appointment list's rules on plain values: which start the scan tracks, what
// its record holds, when a later occurrence takes a record over, when a meeting
// reminder is due, when a record leaves the list and which record is a day's
// first meeting. The appointment scan, the reminder pass and the first-meeting
// notices ask them; nothing here calls the mail application.

#include "engine/SortedList.h"
#include "engine/TrackedRecords.h"

#include <QString>

namespace rp {

// The first count characters (code points): a character outside the basic
// plane, an emoji, counts once and is never halved. Grapheme clusters would keep
// a flag or a family emoji whole, but their rules change with each Unicode
// version, and a key stored today must match after an upgrade of Qt.
QString FirstCharacters(const QString& text, int count);

// From one hour ago to two days ahead, both bounds included.
bool InScanWindow(TDateTime time, TDateTime now);

// What the scan reads of an appointment (or of its changed occurrence).
struct TAppointmentFacts {
    TDateTime start = 0;
    int reminderMinutes = 0;
    QString location;
    QString subject;
    bool allDay = false;
    bool reminderSet = true;
    bool declined = false;
};
TEventItem MakeEventRecord(const TAppointmentFacts& facts);
// The key as the scan built it while the subject was cut after 30 UTF-16 units,
// so that records saved then still match their appointments.
QString EarlierEventKey(const TAppointmentFacts& facts);

// What the scan window is measured from: an all-day event's reminder, which may
// come hours after its midnight start (09:00 on the day); any other
// appointment's start.
TDateTime ScanTime(const TEventItem& record);

// A meeting the user declined gets no reminder, nor does an all-day event
// without an alarm of its own: the usual lead before its midnight start is a
// time nobody chose.
bool WantsReminder(const TAppointmentFacts& facts);

// The record tracks that very occurrence (the same start).
bool SameOccurrence(const TEventItem& tracked, const TEventItem& met);

// One record per key, told apart by StartTime: a later occurrence takes the
// record over once the tracked one is reminded or long begun (the next day of a
// daily meeting). An earlier one never does, so a clock put back meets the
// occurrence it already announced and sends nothing again.
bool TakesRecordOver(const TEventItem& tracked, const TEventItem& next, TDateTime now);

// Due from two minutes before the reminder time.
bool MeetingReminderDue(const TEventItem& record, TDateTime now);
// A record may leave the list only once the appointment scan can no longer meet
// its occurrence: a record dropped earlier comes straight back from the next scan
// as never notified, and a stale reminder whose meeting is still ahead (a long
// reminder lead) would then go out again at every pass over the calendar.
bool OutOfScanReach(const TEventItem& record, TDateTime now);
// A reminder six hours late leaves the list once it is out of the scan's reach.
bool StaleReminderLeaves(const TEventItem& record, TDateTime now);

// The index of the not yet notified record whose reminder falls strictly between
// from and to, earliest reminder first; -1 when there is none. Among equal
// reminder times the greater key wins. An all-day event never starts the day.
int FirstMeetingBetween(const TSortedList<TEventItem>& appointments, TDateTime from, TDateTime to);

} // namespace rp
