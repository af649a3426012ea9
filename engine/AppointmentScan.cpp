// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/AppointmentRules.h"
#include "engine/KeyDump.h"
#include "engine/Occurrence.h"
#include "engine/OutlookProcessor.h"

namespace rp {

namespace {

const QString kCheckingAppointments = QStringLiteral("Checking for New Appointments...");

// The appointment's start, or for a recurring one its occurrence near the
// reference time, which may be a changed occurrence with its own subject.
TOccurrence StartOf(outlook::AppointmentItem& item, TDateTime reference) {
    if (!item.IsRecurring())
        return {item.Start(), nullptr};
    const auto pattern = item.GetRecurrencePattern();
    return pattern ? NearOccurrence(*pattern, reference) : TOccurrence{};
}

TAppointmentFacts FactsOf(outlook::AppointmentItem& item, TDateTime start) {
    TAppointmentFacts facts;
    facts.start = start;
    facts.reminderMinutes = item.ReminderMinutesBeforeStart();
    facts.location = item.Location();
    facts.subject = item.Subject();
    return facts;
}

// Adds the appointment's record unless its key is tracked already; false when the
// appointment does not fall in the scan window.
bool TrackAppointment(outlook::AppointmentItem& item, TDateTime reference, IClock& clock,
                      TSortedList<TEventItem>& appointments, TScanPass& pass) {
    const TOccurrence occurrence = StartOf(item, reference);
    const TDateTime start = occurrence.start;
    if (!InScanWindow(start, clock.Now()))
        return false;
    auto record = std::make_unique<TEventItem>(
        MakeEventRecord(FactsOf(occurrence.changed ? *occurrence.changed : item, start)));
    pass.Meet(record->Key);
    const int index = appointments.Find(record->Key);
    if (index < 0) {
        const QString key = record->Key;
        appointments.Add(key, std::move(record));
    } else if (TakesRecordOver(appointments.At(index), *record, clock.Now())) {
        appointments.At(index) = std::move(*record);
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
            if (!record.Notified && record.StartTime >= stillMet &&
                !appointmentPass.Met(Appointments.Key(i)))
                Appointments.Delete(i);
        }
        if (Appointments.Count() != tracked)
            WriteKeyDump(DataPath(QStringLiteral("Test-Note.NST")), Appointments);
    }
    appointmentPass.End();
}

} // namespace rp
