// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/AppointmentRules.h"
#include "engine/OutlookProcessor.h"

namespace rp {

namespace {
const QString kFirstPrefix = QStringLiteral("First:");
} // namespace

// Each first-meeting notice is considered once a day: the next check is the coming
// midnight whether or not a notice went out.
void TOutlookProcessor::NotifyMorningFirstMeeting() {
    const TDateTime today = WholeDay(Now());
    NotifyFirstMeetingBetween(today, today + 1);
    NextMorningCheck = today + 1;
}

void TOutlookProcessor::NotifyEveningFirstMeeting() {
    const TDateTime today = WholeDay(Now());
    NotifyFirstMeetingBetween(today + 1, today + 2);
    NextEveningCheck = today + 1;
}

// A stop passes over every candidate. A notice that did not go out leaves its
// record unnotified, so the meeting still gets its regular reminder.
void TOutlookProcessor::NotifyFirstMeetingBetween(TDateTime from, TDateTime to) {
    if (StopRequested)
        return;
    const int first = FirstMeetingBetween(Appointments, from, to);
    if (first < 0)
        return;
    NotifyEventPrefixed(Appointments.At(first), kFirstPrefix);
    SaveStateFiles(); // at once, so a crash right after the send does not repeat it
}

} // namespace rp
