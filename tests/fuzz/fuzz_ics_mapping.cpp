// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary text to the calendar reader and reads every mapped item through
// the object model, as the scans would, including the next occurrence of a
// recurring appointment: nothing may crash or run away.

#include "engine/Occurrence.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/mailstore/MailStoreItems.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cmath>

namespace {

using namespace rp;

void CheckTime(TDateTime value) {
    if (std::isnan(value))
        fuzz::Fail("a mapped time is not a number");
}

void ReadAppointment(outlook::AppointmentItem& item) {
    CheckTime(item.Start());
    item.ReminderMinutesBeforeStart();
    item.Location();
    item.Subject();
    item.ReminderSet();
    item.ResponseStatus();
    const TDateTime alarmAfterStart =
        item.AllDayEvent() ? -item.ReminderMinutesBeforeStart() / 1440.0 : 0;
    if (!item.IsRecurring())
        return;
    const auto pattern = item.GetRecurrencePattern();
    if (!pattern)
        fuzz::Fail("a recurring appointment has no pattern");
    for (TDateTime reference : {item.Start(), item.Start() + 1.0, 46474.5})
        CheckTime(NearOccurrence(*pattern, reference, alarmAfterStart).start);
}

void ReadTask(outlook::TaskItem& item) {
    item.Subject();
    CheckTime(item.StartDate());
    CheckTime(item.DueDate());
    item.Complete();
    if (item.ReminderSet())
        CheckTime(item.ReminderTime());
    item.IsRecurring();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::QuietLogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    mailstore::TIcsContents contents;
    // The user's answers to invitations are read too.
    static const mailstore::TUserAddresses user{"anna@example.org"};
    if (!mailstore::ParseIcsText(text, QStringLiteral("/fuzz/calendar.ics"), contents, nullptr,
                                 user))
        return 0;
    for (const auto& record : contents.appointments)
        ReadAppointment(*mailstore::MakeAppointment(record));
    for (const auto& record : contents.tasks)
        ReadTask(*mailstore::MakeTask(record, nullptr));
    return 0;
}
