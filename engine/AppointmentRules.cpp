// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/AppointmentRules.h"

#include <algorithm>
#include <cmath>

namespace rp {

namespace {
constexpr int kSubjectChars = 30;
constexpr double kSameStart = 1.0 / 86400; // a second
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

QString KeyOf(const TAppointmentFacts& facts, const QString& subjectCut) {
    return CutKey(LongTimeText(facts.start) + QStringLiteral("@loc:") + facts.location +
                  subjectCut);
}
} // namespace

QString FirstCharacters(const QString& text, int count) {
    qsizetype end = 0;
    for (int kept = 0; kept < count && end < text.size(); ++kept) {
        const bool pair = text.at(end).isHighSurrogate() && end + 1 < text.size() &&
                          text.at(end + 1).isLowSurrogate();
        end += pair ? 2 : 1;
    }
    return text.left(end);
}

bool InScanWindow(TDateTime time, TDateTime now) {
    return time != 0 && !(now - kOneHour > time) && !(now + 2 < time);
}

TEventItem MakeEventRecord(const TAppointmentFacts& facts) {
    TEventItem record;
    record.StartTime = facts.start;
    // The lead time counts whether or not the item's own reminder is switched on.
    record.ReminderTime = facts.start - facts.reminderMinutes / 1440.0;
    record.Key = KeyOf(facts, FirstCharacters(facts.subject, kSubjectChars));
    record.AllDay = facts.allDay;
    return record;
}

QString EarlierEventKey(const TAppointmentFacts& facts) {
    qsizetype units = std::min<qsizetype>(kSubjectChars, facts.subject.size());
    if (units > 0 && units < facts.subject.size() && facts.subject.at(units - 1).isHighSurrogate())
        --units;
    return KeyOf(facts, facts.subject.left(units));
}

TDateTime ScanTime(const TEventItem& record) {
    return record.AllDay ? record.ReminderTime : record.StartTime;
}

bool WantsReminder(const TAppointmentFacts& facts) {
    return !facts.declined && (!facts.allDay || facts.reminderSet);
}

bool SameOccurrence(const TEventItem& tracked, const TEventItem& met) {
    return std::abs(met.StartTime - tracked.StartTime) <= kSameStart;
}

bool TakesRecordOver(const TEventItem& tracked, const TEventItem& next, TDateTime now) {
    return next.StartTime > tracked.StartTime + kSameStart &&
           (tracked.Notified || ScanTime(tracked) < now - kOneHour);
}

bool MeetingReminderDue(const TEventItem& record, TDateTime now) {
    return !record.Notified && record.ReminderTime <= now + kReminderLead;
}

// An all-day event's reminder may come after its start; the scan meets it until then.
bool OutOfScanReach(const TEventItem& record, TDateTime now) {
    return now - kNotifiedKeep > std::max(record.StartTime, record.ReminderTime);
}

bool StaleReminderLeaves(const TEventItem& record, TDateTime now) {
    return now - kStaleReminder > record.ReminderTime && OutOfScanReach(record, now);
}

// Walking downward, an equal reminder time does not replace the one met first.
int FirstMeetingBetween(const TSortedList<TEventItem>& appointments, TDateTime from, TDateTime to) {
    int first = -1;
    for (int i = appointments.Count() - 1; i >= 0; --i) {
        const TEventItem& record = appointments.At(i);
        if (record.Notified || record.AllDay ||
            !(from < record.ReminderTime && record.ReminderTime < to))
            continue;
        if (first < 0 || appointments.At(first).ReminderTime > record.ReminderTime)
            first = i;
    }
    return first;
}

} // namespace rp
