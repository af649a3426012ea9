// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/AppointmentRules.h"
#include "engine/KeyDump.h"
#include "engine/Occurrence.h"
#include "engine/OutlookProcessor.h"

namespace rp {

namespace {

const QString kCheckingAppointments = QStringLiteral("Checking for New Appointments...");

// How long after its start an all-day event's alarm comes (09:00 on the day:
// 9 hours); 0 for other appointments, whose scan window counts from the start.
TDateTime AlarmAfterStart(outlook::AppointmentItem& item) {
    return item.AllDayEvent() ? -item.ReminderMinutesBeforeStart() * kOneMinute : 0;
}

// The appointment's start, or for a recurring one its occurrence near the
// reference time, which may be a changed occurrence with its own subject.
TOccurrence StartOf(outlook::AppointmentItem& item, TDateTime reference) {
    if (!item.IsRecurring())
        return {item.Start(), nullptr};
    const auto pattern = item.GetRecurrencePattern();
    return pattern ? NearOccurrence(*pattern, reference, AlarmAfterStart(item)) : TOccurrence{};
}

TAppointmentFacts FactsOf(outlook::AppointmentItem& item, TDateTime start) {
    TAppointmentFacts facts;
    facts.start = start;
    facts.reminderMinutes = item.ReminderMinutesBeforeStart();
    facts.location = item.Location();
    facts.subject = item.Subject();
    facts.allDay = item.AllDayEvent();
    facts.reminderSet = item.ReminderSet();
    facts.declined = item.ResponseStatus() == outlook::olResponseDeclined;
    return facts;
}

// The index of the record tracked under the key. A record saved under the key
// the scan built before takes the new key, so an upgrade sends nothing twice.
int FindTracked(TSortedList<TEventItem>& appointments, const QString& key,
                const TAppointmentFacts& facts) {
    const int index = appointments.Find(key);
    if (index >= 0)
        return index;
    // The keys differ only for a subject with a character outside the basic plane.
    const QString earlierKey = EarlierEventKey(facts);
    const int earlier = earlierKey == key ? -1 : appointments.Find(earlierKey);
    if (earlier < 0)
        return -1;
    auto record = std::make_unique<TEventItem>(appointments.At(earlier));
    record->Key = key;
    appointments.Delete(earlier);
    appointments.Add(key, std::move(record));
    return appointments.Find(key);
}

// A record of an occurrence that wants no reminder (declined, or all day
// without an alarm) was made before the user declined or by an earlier rule:
// it goes unless it was announced already.
void ForgetUnannounced(TSortedList<TEventItem>& appointments, int index, const TEventItem& met) {
    if (index >= 0 && !appointments.At(index).Notified &&
        SameOccurrence(appointments.At(index), met))
        appointments.Delete(index);
}

// The same occurrence met again: it is now known whether it is all day, and a
// reminder not yet sent follows the alarm as it is now.
void Refresh(TEventItem& tracked, const TEventItem& met) {
    tracked.AllDay = met.AllDay;
    if (!tracked.Notified)
        tracked.ReminderTime = met.ReminderTime;
}

// Adds the appointment's record unless its key is tracked already; false when the
// appointment does not fall in the scan window.
bool TrackAppointment(outlook::AppointmentItem& item, TDateTime reference, IClock& clock,
                      TSortedList<TEventItem>& appointments, TScanPass& pass) {
    const TOccurrence occurrence = StartOf(item, reference);
    outlook::AppointmentItem& source = occurrence.changed ? *occurrence.changed : item;
    if (occurrence.start == 0 ||
        !InScanWindow(occurrence.start + AlarmAfterStart(source), clock.Now()))
        return false;
    const TAppointmentFacts facts = FactsOf(source, occurrence.start);
    auto record = std::make_unique<TEventItem>(MakeEventRecord(facts));
    const int index = FindTracked(appointments, record->Key, facts);
    if (!WantsReminder(facts)) {
        ForgetUnannounced(appointments, index, *record);
        return true;
    }
    pass.Meet(record->Key);
    if (index < 0) {
        const QString key = record->Key;
        appointments.Add(key, std::move(record));
    } else if (TakesRecordOver(appointments.At(index), *record, clock.Now())) {
        appointments.At(index) = std::move(*record);
    } else if (SameOccurrence(appointments.At(index), *record)) {
        Refresh(appointments.At(index), *record);
    }
    return true;
}

} // namespace

void TOutlookProcessor::ProcessCheckes() {
    DebugLog(QStringLiteral("ProcessCheckes"));
    const SettingsRecord meetings = Settings();
    if (meetings.MeetingNotify || meetings.MorningNotify || meetings.EveningNotify)
        CheckAppointments();
    const SettingsRecord tasks = Settings();
    if (tasks.TaskNotify || tasks.TaskPreNotify || tasks.TaskReminder)
        CheckTasks();
    DebugLog(QStringLiteral("ProcessCheckes-End"));
}

void TOutlookProcessor::CheckAppointments() {
    if (AppointmentScanPos == 0)
        AppointmentScanPos = 1;
    const TDateTime reference = Now();
    OpenCalendarFolder();
    Status(kCheckingAppointments);
    // No calendar was ever handed over: nothing to examine.
    if (!CalendarFolder)
        return;
    if (AppointmentScanPos == 1)
        appointmentPass.Begin(CalendarFolder->Items()->Count());
    try {
        ScanAppointmentBatch(reference);
    } catch (...) {
        appointmentPass.Spoil();
        throw;
    }
    const int count = CalendarFolder->Items()->Count();
    if (count < AppointmentScanPos) {
        AppointmentScanPos = 1;
        EndAppointmentPass(count);
    }
}

void TOutlookProcessor::ScanAppointmentBatch(TDateTime reference) {
    for (int examined = 0; CalendarFolder->Items()->Count() >= AppointmentScanPos &&
                           examined < ScanBatchLimit && !AnyKeyDown();) {
        // The progress number is the position of the item being examined.
        Status(kCheckingAppointments + QString::number(AppointmentScanPos));
        const outlook::ItemPtr item = CalendarFolder->Items()->Item(AppointmentScanPos);
        // Moved on before the item is read, so an item that fails is passed over.
        ++AppointmentScanPos;
        ++examined;
        if (!item)
            continue;
        auto appointment = outlook::ItemAs<outlook::AppointmentItem>(item);
        if (TrackAppointment(*appointment, reference, *deps.Clock, Appointments, appointmentPass))
            WriteKeyDump(DataPath(QStringLiteral("Test-Note.NST")), Appointments);
    }
}

// A meeting not yet announced that a whole pass no longer met at its tracked start
// was cancelled, deleted or moved: its record goes, so no reminder names the old
// slot. One already announced stays, so a clock put back repeats nothing; one
// whose start is past was not met only because it is past, and stays for the
// late-reminder rules.
void TOutlookProcessor::EndAppointmentPass(int count) {
    if (appointmentPass.Conclusive(count)) {
        const int tracked = Appointments.Count();
        const TDateTime stillMet = Now() - kOneHour;
        for (int i = Appointments.Count() - 1; i >= 0; --i) {
            const TEventItem& record = Appointments.At(i);
            if (!record.Notified && ScanTime(record) >= stillMet &&
                !appointmentPass.Met(Appointments.Key(i)))
                Appointments.Delete(i);
        }
        if (Appointments.Count() != tracked)
            WriteKeyDump(DataPath(QStringLiteral("Test-Note.NST")), Appointments);
    }
    appointmentPass.End();
}

} // namespace rp
