// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/AppointmentRules.h"

#include <algorithm>

namespace rp {

namespace {
constexpr int kSubjectChars = 30;
// A reminder is due this long before its reminder time.
constexpr double kReminderLead = 2 * kOneMinute;
// An unnotified record this late is reminded once more and then dropped.
constexpr double kStaleReminder = 0.25;
// A notified record is dropped once its start lies this far back: a day of clock
// correction (a clock put back, a flight west) plus the hour the appointment scan
// looks back, with an hour to spare. Until then the scan meets that occurrence
// again as already notified; a later occurrence with the same key takes the
// record over.
constexpr double kNotifiedKeep = 1 + 2 * kOneHour;
} // namespace

QString FirstCharacters(const QString& text, int count) {
    int length = std::min(count, static_cast<int>(text.size()));
    if (length > 0 && length < text.size() && text.at(length - 1).isHighSurrogate())
        --length;
    return text.left(length);
}

bool InScanWindow(TDateTime start, TDateTime now) {
    return start != 0 && !(now - kOneHour > start) && !(now + 2 < start);
}

TEventItem MakeEventRecord(const TAppointmentFacts& facts) {
    TEventItem record;
    record.StartTime = facts.start;
    // The lead time counts whether or not the item's own reminder is switched on.
    record.ReminderTime = facts.start - facts.reminderMinutes / 1440.0;
    record.Key = CutKey(LongTimeText(facts.start) + QStringLiteral("@loc:") + facts.location +
                        FirstCharacters(facts.subject, kSubjectChars));
    return record;
}

bool TakesRecordOver(const TEventItem& tracked, const TEventItem& next, TDateTime now) {
    constexpr double kSameStart = 1.0 / 86400; // a second
    return next.StartTime > tracked.StartTime + kSameStart &&
           (tracked.Notified || tracked.StartTime < now - kOneHour);
}

bool MeetingReminderDue(const TEventItem& record, TDateTime now) {
    return !record.Notified && record.ReminderTime <= now + kReminderLead;
}

bool OutOfScanReach(const TEventItem& record, TDateTime now) {
    return now - kNotifiedKeep > record.StartTime;
}

bool StaleReminderLeaves(const TEventItem& record, TDateTime now) {
    return now - kStaleReminder > record.ReminderTime && OutOfScanReach(record, now);
}

// Walking downward, an equal reminder time does not replace the one met first.
int FirstMeetingBetween(const TSortedList<TEventItem>& appointments, TDateTime from, TDateTime to) {
    int first = -1;
    for (int i = appointments.Count() - 1; i >= 0; --i) {
        const TEventItem& record = appointments.At(i);
        if (record.Notified || !(from < record.ReminderTime && record.ReminderTime < to))
            continue;
        if (first < 0 || appointments.At(first).ReminderTime > record.ReminderTime)
            first = i;
    }
    return first;
}

} // namespace rp
