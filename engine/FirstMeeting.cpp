// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/OutlookProcessor.h"

namespace rp {

namespace {

const QString kFirstPrefix = QStringLiteral("First:");

// The not yet notified record whose reminder falls strictly between from and to,
// earliest reminder first. Walking downward, an equal reminder time does not
// replace the one met first, so the greater key wins a tie.
TEventItem* FirstMeetingBetween(TSortedList<TEventItem>& appointments, TDateTime from, TDateTime to,
                                const std::atomic<bool>& stopRequested) {
    TEventItem* first = nullptr;
    for (int i = appointments.Count() - 1; i >= 0; --i) {
        if (stopRequested)
            continue;
        TEventItem& record = appointments.At(i);
        if (record.Notified || !(from < record.ReminderTime && record.ReminderTime < to))
            continue;
        if (!first || first->ReminderTime > record.ReminderTime)
            first = &record;
    }
    return first;
}

} // namespace

void TOutlookProcessor::NotifyMorningFirstMeeting() {
    const TDateTime today = WholeDay(Now());
    if (TEventItem* first = FirstMeetingBetween(Appointments, today, today + 1, StopRequested)) {
        NotifyEventPrefixed(*first, kFirstPrefix);
        SaveStateFiles(); // at once, so a crash right after the send does not repeat it
    }
    NextMorningCheck = today + 1;
}

void TOutlookProcessor::NotifyEveningFirstMeeting() {
    const TDateTime today = WholeDay(Now());
    if (TEventItem* first =
            FirstMeetingBetween(Appointments, today + 1, today + 2, StopRequested)) {
        NotifyEventPrefixed(*first, kFirstPrefix);
        SaveStateFiles();
    }
    NextEveningCheck = today + 1;
}

} // namespace rp
