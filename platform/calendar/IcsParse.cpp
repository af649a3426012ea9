// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/IcalTime.h"
#include "platform/calendar/IcsRead.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/calendar/IcsSeries.h"
#include "platform/calendar/TaskRecurrence.h"
#include "platform/common/Files.h"

#include "engine/OutlookModel.h"

#include <QSet>
#include <algorithm>
#include <cmath>
#include <libical/ical.h>
#include <map>
#include <set>
#include <vector>

namespace rp::mailstore {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// Enough to find the last of any real-world COUNT rule without running away.
constexpr int kMaxOccurrencesWalked = 100000;

using TZoneCache = std::map<const icaltimezone*, std::shared_ptr<const TIcalZone>>;

struct TComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using TComponentPtr = std::unique_ptr<icalcomponent, TComponentDeleter>;

QString TextProperty(icalcomponent* component, icalproperty_kind kind) {
    icalproperty* property = icalcomponent_get_first_property(component, kind);
    if (!property)
        return {};
    const char* text = icalvalue_get_text(icalproperty_get_value(property));
    return text ? QString::fromUtf8(text).trimmed() : QString();
}

// Trimmed as text (Unicode spaces too), kept as UTF-8 without spare room.
QByteArray CompactTextProperty(icalcomponent* component, icalproperty_kind kind) {
    QByteArray bytes = TextProperty(component, kind).toUtf8();
    bytes.squeeze();
    return bytes;
}

QByteArray UidOf(icalcomponent* component) {
    icalproperty* property = icalcomponent_get_first_property(component, ICAL_UID_PROPERTY);
    const char* uid = property ? icalproperty_get_uid(property) : nullptr;
    return uid ? QByteArray(uid) : QByteArray();
}

// When an alarm fires, as a local day count, given the times it may be related to.
struct TAlarmTrigger {
    std::optional<TDateTime> absolute;
    double offsetDays = 0;
    bool relatedToEnd = false;
};

bool IsNotifyingAlarm(icalcomponent* alarm) {
    icalproperty* action = icalcomponent_get_first_property(alarm, ICAL_ACTION_PROPERTY);
    if (!action)
        return false;
    const icalproperty_action kind = icalproperty_get_action(action);
    return kind == ICAL_ACTION_DISPLAY || kind == ICAL_ACTION_EMAIL;
}

std::optional<TAlarmTrigger> FirstAlarmTrigger(icalcomponent* component) {
    for (icalcomponent* alarm = icalcomponent_get_first_component(component, ICAL_VALARM_COMPONENT);
         alarm; alarm = icalcomponent_get_next_component(component, ICAL_VALARM_COMPONENT)) {
        icalproperty* trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
        if (!trigger || !IsNotifyingAlarm(alarm))
            continue;
        const icaltriggertype value = icalproperty_get_trigger(trigger);
        TAlarmTrigger result;
        if (!icaltime_is_null_time(value.time)) {
            result.absolute = ToLocalDays(value.time);
            return result;
        }
        result.offsetDays = icaldurationtype_as_int(value.duration) / kSecondsPerDay;
        icalparameter* related = icalproperty_get_first_parameter(trigger, ICAL_RELATED_PARAMETER);
        result.relatedToEnd = related && icalparameter_get_related(related) == ICAL_RELATED_END;
        return result;
    }
    return std::nullopt;
}

int WeekdayBit(short byDay) {
    const int weekday = icalrecurrencetype_day_day_of_week(byDay); // 1 = Sunday
    return weekday >= 1 && weekday <= 7 ? 1 << (weekday - 1) : 0;
}

struct TByDay {
    int mask = 0;
    bool hasPosition = false;
};

TByDay ByDayOf(const icalrecurrencetype& rule) {
    TByDay result;
    for (int i = 0; i < ICAL_BY_DAY_SIZE && rule.by_day[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
        result.mask |= WeekdayBit(rule.by_day[i]);
        result.hasPosition = result.hasPosition || icalrecurrencetype_day_position(rule.by_day[i]);
    }
    return result;
}

int ByMonthDayCount(const icalrecurrencetype& rule) {
    int count = 0;
    while (count < ICAL_BY_MONTHDAY_SIZE && rule.by_month_day[count] != ICAL_RECURRENCE_ARRAY_MAX)
        ++count;
    return count;
}

void MapMonthly(const icalrecurrencetype& rule, const icaltimetype& start,
                TRecurrenceRecord& pattern) {
    const int monthDays = ByMonthDayCount(rule);
    if (ByDayOf(rule).mask != 0 || monthDays > 1 || (monthDays == 1 && rule.by_month_day[0] < 1)) {
        pattern.type = outlook::olRecursMonthNth;
        pattern.dayOfMonth = start.day;
        return;
    }
    pattern.type = outlook::olRecursMonthly;
    pattern.dayOfMonth = monthDays == 1 ? rule.by_month_day[0] : start.day;
}

void MapFrequency(const icalrecurrencetype& rule, const icaltimetype& start,
                  TRecurrenceRecord& pattern) {
    const TByDay byDay = ByDayOf(rule);
    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
        pattern.type = outlook::olRecursDaily;
        pattern.dayOfWeekMask = byDay.mask;
        break;
    case ICAL_WEEKLY_RECURRENCE:
        pattern.type = outlook::olRecursWeekly;
        pattern.dayOfWeekMask = byDay.mask ? byDay.mask : 1 << (icaltime_day_of_week(start) - 1);
        break;
    case ICAL_MONTHLY_RECURRENCE:
        MapMonthly(rule, start, pattern);
        break;
    case ICAL_YEARLY_RECURRENCE:
        pattern.type = byDay.mask ? outlook::olRecursYearNth : outlook::olRecursYearly;
        pattern.dayOfMonth = start.day;
        break;
    default:
        pattern.type = kRecursOther;
        break;
    }
}

bool Empty(const short* parts) {
    return parts[0] == ICAL_RECURRENCE_ARRAY_MAX;
}

// No BY part but possibly BYDAY (weekly) or BYMONTHDAY (monthly).
bool OnlySimpleParts(const icalrecurrencetype& rule) {
    return !rule.rscale && Empty(rule.by_second) && Empty(rule.by_minute) && Empty(rule.by_hour) &&
           Empty(rule.by_year_day) && Empty(rule.by_week_no) && Empty(rule.by_month) &&
           Empty(rule.by_set_pos);
}

// A daily, weekly or monthly pattern holds a weekday mask or one day of the month
// and nothing else: a rule with more parts (BYMONTH, BYHOUR, BYSETPOS...) read as
// one of them would remind on days it has no occurrence.
bool FitsItsKind(const icalrecurrencetype& rule, int type) {
    if (type != outlook::olRecursDaily && type != outlook::olRecursWeekly &&
        type != outlook::olRecursMonthly)
        return true;
    if (!OnlySimpleParts(rule))
        return false;
    return type == outlook::olRecursMonthly ||
           (Empty(rule.by_month_day) && !ByDayOf(rule).hasPosition);
}

icaltimetype DaysLater(icaltimetype time, int days) {
    icaltime_adjust(&time, days, 0, 0, 0);
    return time;
}

// The n-th (from 1) day of a daily rule without BY parts.
std::optional<icaltimetype> LastDaily(const icalrecurrencetype& rule, const icaltimetype& start) {
    if (!Empty(rule.by_day) || !Empty(rule.by_month_day))
        return std::nullopt;
    return DaysLater(start, (rule.count - 1) * rule.interval);
}

// Days of the week from the week's first day (WKST), 0 to 6.
int WeekOffset(int weekday, const icalrecurrencetype& rule) {
    const int first = rule.week_start == ICAL_NO_WEEKDAY ? ICAL_MONDAY_WEEKDAY : rule.week_start;
    return (weekday - first + 7) % 7;
}

// A weekly rule on plain weekdays that include the start's own.
std::optional<icaltimetype> LastWeekly(const icalrecurrencetype& rule, const icaltimetype& start) {
    const TByDay byDay = ByDayOf(rule);
    if (!Empty(rule.by_month_day) || byDay.hasPosition)
        return std::nullopt;
    const int startWeekday = icaltime_day_of_week(start);
    const int mask = byDay.mask ? byDay.mask : 1 << (startWeekday - 1);
    if (!(mask & (1 << (startWeekday - 1))))
        return std::nullopt;
    std::vector<int> offsets; // of the rule's days, in week order
    for (int weekday = 1; weekday <= 7; ++weekday)
        if (mask & (1 << (weekday - 1)))
            offsets.push_back(WeekOffset(weekday, rule));
    std::sort(offsets.begin(), offsets.end());
    const int startOffset = WeekOffset(startWeekday, rule);
    const int first =
        static_cast<int>(std::find(offsets.begin(), offsets.end(), startOffset) - offsets.begin());
    const int perWeek = static_cast<int>(offsets.size());
    const int index = first + rule.count - 1; // counted through the weeks of the rule
    const int weeks = index / perWeek;
    const int dayOffset = offsets[static_cast<size_t>(index % perWeek)];
    return DaysLater(start, weeks * 7 * rule.interval + dayOffset - startOffset);
}

// A monthly rule on the start's day of the month; months without that day are
// passed over.
std::optional<icaltimetype> LastMonthly(const icalrecurrencetype& rule, const icaltimetype& start) {
    const int monthDays = ByMonthDayCount(rule);
    if (!Empty(rule.by_day) || monthDays > 1 ||
        (monthDays == 1 && rule.by_month_day[0] != start.day))
        return std::nullopt;
    icaltimetype last = start;
    int month = start.year * 12 + (start.month - 1);
    for (int found = 1; found < rule.count;) {
        month += rule.interval;
        const int year = month / 12;
        const int monthOfYear = month % 12 + 1;
        if (start.day > icaltime_days_in_month(monthOfYear, year))
            continue;
        last.year = year;
        last.month = monthOfYear;
        ++found;
    }
    return last;
}

// Plain daily, weekly and monthly COUNT rules, worked out without walking them:
// the iterator's steps cost more than the whole rest of reading the event.
std::optional<icaltimetype> LastByArithmetic(const icalrecurrencetype& rule,
                                             const icaltimetype& start) {
    // Past the walk's own limit the walk decides, so the answer stays the same.
    if (!OnlySimpleParts(rule) || rule.count <= 0 || rule.count > kMaxOccurrencesWalked ||
        rule.interval <= 0)
        return std::nullopt;
    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
        return LastDaily(rule, start);
    case ICAL_WEEKLY_RECURRENCE:
        return LastWeekly(rule, start);
    case ICAL_MONTHLY_RECURRENCE:
        return LastMonthly(rule, start);
    default:
        return std::nullopt;
    }
}

// The start of the last occurrence of a COUNT rule, in the pattern's frame.
TDateTime LastOccurrence(const icalrecurrencetype& rule, const icaltimetype& start,
                         const icaltimezone* frame) {
    if (const std::optional<icaltimetype> last = LastByArithmetic(rule, start))
        return FrameDays(*last, frame);
    icalrecur_iterator* iterator = icalrecur_iterator_new(rule, start);
    if (!iterator)
        return 0;
    icaltimetype last = start;
    int walked = 0;
    for (icaltimetype next = icalrecur_iterator_next(iterator);
         !icaltime_is_null_time(next) && walked < kMaxOccurrencesWalked;
         next = icalrecur_iterator_next(iterator), ++walked)
        last = next;
    icalrecur_iterator_free(iterator);
    last.zone = start.zone;
    return FrameDays(last, frame);
}

// An UNTIL date includes its whole day.
TDateTime UntilDays(const icaltimetype& until, const icaltimezone* frame) {
    const TDateTime days = FrameDays(until, frame);
    return until.is_date ? days + 1.0 - 1.0 / kSecondsPerDay : days;
}

// The zone a rule's days are counted in: its start's, UTC included. All-day and
// floating rules keep the user's local time.
const icaltimezone* FrameZoneOf(const icaltimetype& start) {
    if (start.is_date)
        return nullptr;
    return icaltime_is_utc(start) ? icaltimezone_get_utc_timezone() : start.zone;
}

// The frame's zone kept for the scan; the read itself converts with the file's own.
std::shared_ptr<const TIcalZone> FrameOf(const icaltimezone* zone, TZoneCache& zones) {
    if (!zone)
        return nullptr;
    // A file's own zone is copied once per read, not once per event.
    std::shared_ptr<const TIcalZone>& kept = zones[zone];
    if (!kept)
        kept = TIcalZone::Of(zone);
    return kept;
}

std::optional<TRecurrenceRecord> RecurrenceOf(icalcomponent* event, const icaltimetype& start,
                                              TZoneCache& zones) {
    icalproperty* property = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
    if (!property)
        return std::nullopt;
    const icalrecurrencetype rule = icalproperty_get_rrule(property);
    if (rule.freq == ICAL_NO_RECURRENCE)
        return std::nullopt;
    TRecurrenceRecord pattern;
    MapFrequency(rule, start, pattern);
    if (!FitsItsKind(rule, pattern.type))
        pattern.type = kRecursOther;
    pattern.interval = rule.interval > 0 ? rule.interval : 1;
    const icaltimezone* frame = FrameZoneOf(start);
    pattern.zone = FrameOf(frame, zones);
    const TDateTime startDays = FrameDays(start, frame);
    pattern.patternStartDate = WholeDay(startDays);
    pattern.startTime = TimeOfDay(startDays);
    pattern.occurrences = rule.count > 0 ? rule.count : 0;
    pattern.noEndDate = rule.count <= 0 && icaltime_is_null_time(rule.until);
    if (!icaltime_is_null_time(rule.until))
        pattern.patternEndDate = UntilDays(rule.until, frame);
    else if (rule.count > 0)
        pattern.patternEndDate = LastOccurrence(rule, start, frame);
    else
        pattern.patternEndDate = outlook::NoDate;
    return pattern;
}

bool IsCancelled(icalcomponent* component) {
    icalproperty* status = icalcomponent_get_first_property(component, ICAL_STATUS_PROPERTY);
    return status && icalproperty_get_status(status) == ICAL_STATUS_CANCELLED;
}

void SkipItem(const char* kind, icalcomponent* component, const QString& filePath,
              const char* reason) {
    qCWarning(lcMailStore).noquote()
        << "Skipped a" << kind << "in" << filePath << "(UID" << UidOf(component) << "):" << reason;
}

// The alarm's time as minutes before the start. A timed meeting is reminded at
// its start at the latest; an all-day event's alarm usually comes after its
// midnight start (TRIGGER:PT9H, 09:00 on the day).
int MinutesBefore(icalcomponent* event, const TAlarmTrigger& trigger, TDateTime start,
                  bool allDay) {
    TDateTime fires = 0;
    if (trigger.absolute) {
        fires = *trigger.absolute;
    } else {
        const double lengthDays =
            trigger.relatedToEnd
                ? icaldurationtype_as_int(icalcomponent_get_duration(event)) / kSecondsPerDay
                : 0.0;
        fires = start + lengthDays + trigger.offsetDays;
    }
    const int minutes = static_cast<int>(std::lround((start - fires) * 1440.0));
    return allDay ? minutes : std::max(0, minutes);
}

bool IsUsers(icalproperty* attendee, const TUserAddresses& user) {
    if (const char* value = icalproperty_get_attendee(attendee);
        value && user.count(CalendarAddress(value)))
        return true;
    icalparameter* email = icalproperty_get_first_parameter(attendee, ICAL_EMAIL_PARAMETER);
    const char* address = email ? icalparameter_get_email(email) : nullptr;
    return address && user.count(CalendarAddress(address));
}

// Ranked so that of two entries of the user's (two of their addresses invited),
// the one saying they go wins, and a decline wins over no answer.
int Rank(int response) {
    switch (response) {
    case outlook::olResponseAccepted:
        return 4;
    case outlook::olResponseTentative:
        return 3;
    case outlook::olResponseDeclined:
        return 2;
    case outlook::olResponseNotResponded:
        return 1;
    default:
        return 0;
    }
}

int ResponseOfPartstat(icalproperty* attendee) {
    icalparameter* partstat = icalproperty_get_first_parameter(attendee, ICAL_PARTSTAT_PARAMETER);
    switch (partstat ? icalparameter_get_partstat(partstat) : ICAL_PARTSTAT_NEEDSACTION) {
    case ICAL_PARTSTAT_ACCEPTED:
        return outlook::olResponseAccepted;
    case ICAL_PARTSTAT_TENTATIVE:
        return outlook::olResponseTentative;
    case ICAL_PARTSTAT_DECLINED:
        return outlook::olResponseDeclined;
    default:
        return outlook::olResponseNotResponded;
    }
}

bool OrganizedBy(icalcomponent* event, const TUserAddresses& user) {
    icalproperty* organizer = icalcomponent_get_first_property(event, ICAL_ORGANIZER_PROPERTY);
    const char* value = organizer ? icalproperty_get_organizer(organizer) : nullptr;
    return value && user.count(CalendarAddress(value));
}

// The user's answer to the invitation, from their entries among the attendees.
// Busy status (X-MICROSOFT-CDO-BUSYSTATUS, TRANSP) says nothing about it.
int ResponseOf(icalcomponent* event, const TUserAddresses& user) {
    if (user.empty())
        return outlook::olResponseNone;
    if (OrganizedBy(event, user))
        return outlook::olResponseOrganized;
    int response = outlook::olResponseNone;
    for (icalproperty* attendee = icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY);
         attendee; attendee = icalcomponent_get_next_property(event, ICAL_ATTENDEE_PROPERTY)) {
        const int answer = IsUsers(attendee, user) ? ResponseOfPartstat(attendee) : response;
        if (Rank(answer) > Rank(response))
            response = answer;
    }
    return response;
}

// What the event says about reminding the user. An override keeps from its
// series (`traits`) what it does not say itself: the alarm and the user's answer.
TReminderTraits ReminderOf(icalcomponent* event, TDateTime start, bool allDay,
                           const TUserAddresses& user, TReminderTraits traits = {}) {
    traits.allDay = allDay;
    if (icalcomponent_get_first_property(event, ICAL_ATTENDEE_PROPERTY) ||
        icalcomponent_get_first_property(event, ICAL_ORGANIZER_PROPERTY))
        traits.response = static_cast<uint8_t>(ResponseOf(event, user));
    if (const std::optional<TAlarmTrigger> trigger = FirstAlarmTrigger(event)) {
        traits.set = true;
        traits.minutes = MinutesBefore(event, *trigger, start, allDay);
    }
    return traits;
}

// The original start of an EXDATE, RDATE or RECURRENCE-ID in the pattern's
// frame; a date alone names the occurrence of that day.
TDateTime OriginalStart(icaltimetype time, icalproperty* property, icalcomponent* calendar,
                        TDateTime startTime, const icaltimezone* frame) {
    if (time.is_date)
        return EncodeDate(time.year, time.month, time.day) + startTime;
    if (!icaltime_is_utc(time))
        time.zone = ZoneOfProperty(property, calendar);
    return FrameDays(time, frame);
}

// What the file says about single occurrences of one set, by original start.
struct TSetChanges {
    icalcomponent* calendar = nullptr;
    const icaltimezone* frame = nullptr;
    const TUserAddresses* user = nullptr;
    TDateTime startTime = 0; // of the rule's occurrences, for dates without a time
    std::vector<TInstanceChange> changes;
    std::vector<TFutureChange> futures;

    TDateTime Original(const icaltimetype& time, icalproperty* property) const {
        return OriginalStart(time, property, calendar, startTime, frame);
    }
    // An occurrence is deleted, added or moved once. An override says last what
    // became of its occurrence: some programs write an EXDATE for a moved one too.
    // An extra date that is also deleted stays deleted.
    void Note(TInstanceChange change, bool replaces) {
        const auto same = std::find_if(changes.begin(), changes.end(), [&](const auto& known) {
            return std::abs(known.original - change.original) < kSameInstant;
        });
        if (same == changes.end())
            changes.push_back(std::move(change));
        else if (replaces)
            *same = std::move(change);
    }
};

void AddExdates(icalcomponent* event, TSetChanges& set) {
    for (icalproperty* property = icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY);
         property; property = icalcomponent_get_next_property(event, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype time = icalproperty_get_exdate(property);
        if (!icaltime_is_null_time(time))
            set.Note({TInstanceChange::TKind::Deleted, set.Original(time, property), {}}, false);
    }
}

// Extra occurrences, written as a start or as a period from its start.
void AddRdates(icalcomponent* event, TSetChanges& set) {
    for (icalproperty* property = icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY);
         property; property = icalcomponent_get_next_property(event, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype value = icalproperty_get_rdate(property);
        const icaltimetype time =
            icaltime_is_null_time(value.time) ? value.period.start : value.time;
        if (!icaltime_is_null_time(time) && icaltime_is_valid_time(time))
            set.Note({TInstanceChange::TKind::Added, set.Original(time, property), {}}, false);
    }
}

// What an override does not say it keeps from the series.
QByteArray OwnOrSeries(icalcomponent* override, icalproperty_kind kind, const QByteArray& series) {
    return icalcomponent_get_first_property(override, kind) ? CompactTextProperty(override, kind)
                                                            : series;
}

TReminderTraits OwnOrSeriesReminder(icalcomponent* override, const TAppointmentRecord& series,
                                    const std::optional<icaltimetype>& start, TDateTime local,
                                    const TUserAddresses& user) {
    return ReminderOf(override, local, start ? start->is_date : series.reminder.allDay, user,
                      series.reminder);
}

std::shared_ptr<const TAppointmentRecord> ChangedOccurrence(icalcomponent* override,
                                                            const TSetChanges& set,
                                                            const TAppointmentRecord& series,
                                                            TDateTime originalLocal) {
    const std::optional<icaltimetype> start =
        PropertyTime(override, ICAL_DTSTART_PROPERTY, set.calendar);
    auto record = std::make_shared<TAppointmentRecord>();
    record->start = start ? ToLocalDays(*start) : originalLocal;
    record->subject = OwnOrSeries(override, ICAL_SUMMARY_PROPERTY, series.subject);
    record->location = OwnOrSeries(override, ICAL_LOCATION_PROPERTY, series.location);
    record->reminder = OwnOrSeriesReminder(override, series, start, record->start, *set.user);
    return record;
}

bool IsThisAndFuture(icalproperty* recurrenceId) {
    icalparameter* range = icalproperty_get_first_parameter(recurrenceId, ICAL_RANGE_PARAMETER);
    return range && icalparameter_get_range(range) == ICAL_RANGE_THISANDFUTURE;
}

// The move of the occurrence the override names, which every later one makes too.
TFutureChange FutureChange(icalcomponent* override, const TAppointmentRecord& series,
                           const TSetChanges& set, TDateTime original) {
    const std::optional<icaltimetype> start =
        PropertyTime(override, ICAL_DTSTART_PROPERTY, set.calendar);
    TFutureChange future;
    future.original = original;
    future.shift = start ? FrameDays(*start, set.frame) - original : 0.0;
    future.cancelled = IsCancelled(override);
    future.subject = OwnOrSeries(override, ICAL_SUMMARY_PROPERTY, series.subject);
    future.location = OwnOrSeries(override, ICAL_LOCATION_PROPERTY, series.location);
    const TDateTime local = start ? ToLocalDays(*start) : series.start;
    future.reminder = OwnOrSeriesReminder(override, series, start, local, *set.user);
    return future;
}

void AddOverrides(const std::vector<icalcomponent*>& overrides, const TAppointmentRecord& series,
                  TSetChanges& set) {
    using TKind = TInstanceChange::TKind;
    for (icalcomponent* override : overrides) {
        icalproperty* property =
            icalcomponent_get_first_property(override, ICAL_RECURRENCEID_PROPERTY);
        const icaltimetype id = icalproperty_get_recurrenceid(property);
        if (icaltime_is_null_time(id))
            continue;
        const TDateTime original = set.Original(id, property);
        if (IsThisAndFuture(property)) {
            set.futures.push_back(FutureChange(override, series, set, original));
        } else if (IsCancelled(override)) {
            set.Note({TKind::Deleted, original, {}}, true);
        } else {
            const TDateTime originalLocal =
                set.frame ? LocalOfWallTime(set.frame, original) : original;
            set.Note(
                {TKind::Moved, original, ChangedOccurrence(override, set, series, originalLocal)},
                true);
        }
    }
}

int WeekStartOf(icalcomponent* event) {
    icalproperty* property = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
    const int weekStart = property ? icalproperty_get_rrule(property).week_start : 0;
    return weekStart >= ICAL_SUNDAY_WEEKDAY && weekStart <= ICAL_SATURDAY_WEEKDAY
               ? weekStart
               : ICAL_MONDAY_WEEKDAY;
}

// A set is more than one plain appointment when it has a rule, extra or
// deleted dates, or overrides of its occurrences.
bool IsPlainAppointment(icalcomponent* event, const std::optional<TRecurrenceRecord>& pattern,
                        const std::vector<icalcomponent*>& overrides) {
    return !pattern && overrides.empty() &&
           !icalcomponent_get_first_property(event, ICAL_RDATE_PROPERTY) &&
           !icalcomponent_get_first_property(event, ICAL_EXDATE_PROPERTY);
}

// What the events of one file share: who the user is, worked-out zones, and one
// copy of each place, as most meetings are in one of a few ("Online", a room).
struct TFileReading {
    const QString& filePath;
    const TUserAddresses& user;
    TIcsContents& contents;
    TZoneCache zones;
    QSet<QByteArray> places;

    QByteArray SharedPlace(const QByteArray& place) {
        if (place.isEmpty())
            return place;
        return *places.insert(place);
    }
};

// Reads one event with the overrides of its occurrences (same UID, RECURRENCE-ID).
void ReadEvent(icalcomponent* event, icalcomponent* calendar,
               const std::vector<icalcomponent*>& overrides, TFileReading& file) {
    if (IsCancelled(event))
        return;
    const std::optional<icaltimetype> start = PropertyTime(event, ICAL_DTSTART_PROPERTY, calendar);
    if (!start) {
        SkipItem("VEVENT", event, file.filePath, "no readable DTSTART");
        return;
    }
    auto record = std::make_shared<TAppointmentRecord>();
    record->start = ToLocalDays(*start);
    record->subject = CompactTextProperty(event, ICAL_SUMMARY_PROPERTY);
    record->location = file.SharedPlace(CompactTextProperty(event, ICAL_LOCATION_PROPERTY));
    record->reminder = ReminderOf(event, record->start, start->is_date, file.user);
    const std::optional<TRecurrenceRecord> pattern = RecurrenceOf(event, *start, file.zones);
    if (IsPlainAppointment(event, pattern, overrides)) {
        file.contents.appointments.push_back(std::move(record));
        return;
    }
    TSetChanges set;
    set.calendar = calendar;
    set.frame = FrameZoneOf(*start);
    set.user = &file.user;
    const TDateTime firstStart = FrameDays(*start, set.frame);
    set.startTime = pattern ? pattern->startTime : TimeOfDay(firstStart);
    AddExdates(event, set);
    if (!pattern) // without a rule the start is one of the set's dates
        set.Note({TInstanceChange::TKind::Added, firstStart, {}}, false);
    AddRdates(event, set);
    AddOverrides(overrides, *record, set);
    const auto items =
        pattern ? SeriesItems(*record, *pattern, set.changes, set.futures, WeekStartOf(event))
                : SingleItems(*record, FrameOf(set.frame, file.zones), set.changes, set.futures);
    file.contents.appointments.insert(file.contents.appointments.end(), items.begin(), items.end());
}

bool IsOverride(icalcomponent* event) {
    return icalcomponent_get_first_property(event, ICAL_RECURRENCEID_PROPERTY) != nullptr;
}

// Any event with its own start may be the series an override belongs to.
bool IsSeries(icalcomponent* event) {
    return !IsOverride(event);
}

// Overrides belong to the series of their UID; one without a series in the file
// is a meeting of its own.
void ReadEvents(const std::vector<icalcomponent*>& events, TFileReading& file) {
    // Most files hold no override: then no UID needs reading.
    if (std::none_of(events.begin(), events.end(), IsOverride)) {
        for (icalcomponent* event : events)
            ReadEvent(event, CalendarOf(event), {}, file);
        return;
    }
    std::multimap<QByteArray, icalcomponent*> overridesByUid;
    std::set<QByteArray> seriesUids;
    for (icalcomponent* event : events) {
        if (IsOverride(event))
            overridesByUid.emplace(UidOf(event), event);
        else if (IsSeries(event))
            seriesUids.insert(UidOf(event));
    }
    for (icalcomponent* event : events) {
        const QByteArray uid = UidOf(event);
        if (IsOverride(event)) {
            if (!seriesUids.count(uid))
                ReadEvent(event, CalendarOf(event), {}, file);
            continue;
        }
        std::vector<icalcomponent*> overrides;
        if (IsSeries(event)) {
            const auto [first, last] = overridesByUid.equal_range(uid);
            for (auto it = first; it != last; ++it)
                overrides.push_back(it->second);
        }
        ReadEvent(event, CalendarOf(event), overrides, file);
    }
}

bool IsComplete(icalcomponent* task) {
    icalproperty* status = icalcomponent_get_first_property(task, ICAL_STATUS_PROPERTY);
    if (status) {
        const icalproperty_status value = icalproperty_get_status(status);
        // A cancelled task will not be done either; it must not nag as past due.
        if (value == ICAL_STATUS_COMPLETED || value == ICAL_STATUS_CANCELLED)
            return true;
    }
    if (icalcomponent_get_first_property(task, ICAL_COMPLETED_PROPERTY))
        return true;
    icalproperty* percent = icalcomponent_get_first_property(task, ICAL_PERCENTCOMPLETE_PROPERTY);
    return percent && icalproperty_get_percentcomplete(percent) >= 100;
}

void ReadTaskReminder(icalcomponent* task, std::optional<TDateTime> start,
                      std::optional<TDateTime> due, TTaskRecord& record) {
    const std::optional<TAlarmTrigger> trigger = FirstAlarmTrigger(task);
    if (!trigger)
        return;
    std::optional<TDateTime> base = trigger->relatedToEnd ? due : start;
    if (!base)
        base = trigger->relatedToEnd ? start : due;
    if (trigger->absolute)
        record.reminderTime = *trigger->absolute;
    else if (base)
        record.reminderTime = *base + trigger->offsetDays;
    else
        return;
    record.reminderSet = true;
}

std::optional<TDateTime> LocalTimeOf(icalcomponent* task, icalproperty_kind kind,
                                     icalcomponent* calendar) {
    const std::optional<icaltimetype> time = PropertyTime(task, kind, calendar);
    if (!time)
        return std::nullopt;
    return ToLocalDays(*time);
}

void ReadTask(icalcomponent* task, icalcomponent* calendar, const TTaskOrigin& file, int ordinal,
              TIcsContents& contents) {
    auto record = std::make_shared<TTaskRecord>();
    const std::optional<TDateTime> start = LocalTimeOf(task, ICAL_DTSTART_PROPERTY, calendar);
    const std::optional<TDateTime> due = LocalTimeOf(task, ICAL_DUE_PROPERTY, calendar);
    // Task dates are whole days, as the mail application keeps them.
    record->startDate = start ? WholeDay(*start) : outlook::NoDate;
    record->dueDate = due ? WholeDay(*due) : outlook::NoDate;
    record->subject = TextProperty(task, ICAL_SUMMARY_PROPERTY);
    record->complete = IsComplete(task);
    record->reminderTime = outlook::NoDate;
    ReadTaskReminder(task, start, due, *record);
    record->recurring =
        icalcomponent_get_first_property(task, ICAL_RRULE_PROPERTY) != nullptr && (start || due);
    record->hasNextOccurrence = record->recurring && HasNextOccurrence(task);
    record->origin = file;
    record->origin.ordinal = ordinal;
    // Only a task moved on is written back; the UID finds it again then.
    if (record->hasNextOccurrence)
        record->origin.uid = UidOf(task);
    contents.tasks.push_back(std::move(record));
}

// Tasks are read at once; events are gathered, as an override may come before
// its series.
void ReadComponent(icalcomponent* component, const TTaskOrigin& file, int& taskOrdinal,
                   std::vector<icalcomponent*>& events, TIcsContents& contents) {
    const icalcomponent_kind kind = icalcomponent_isa(component);
    if (kind == ICAL_VEVENT_COMPONENT) {
        events.push_back(component);
    } else if (kind == ICAL_VTODO_COMPONENT) {
        ReadTask(component, CalendarOf(component), file, taskOrdinal++, contents);
    } else if (kind == ICAL_VCALENDAR_COMPONENT || kind == ICAL_XROOT_COMPONENT) {
        for (icalcomponent* child =
                 icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT);
             child; child = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT))
            ReadComponent(child, file, taskOrdinal, events, contents);
    }
}

} // namespace

QByteArray CalendarAddress(QByteArrayView address) {
    QByteArray text = address.trimmed().toByteArray();
    // "Anna Smith <anna@example.org>"
    const qsizetype open = text.lastIndexOf('<');
    if (open >= 0 && text.endsWith('>'))
        text = text.sliced(open + 1, text.size() - open - 2).trimmed();
    if (text.left(7).toLower() == "mailto:")
        text = text.sliced(7).trimmed();
    return text.toLower();
}

void ReadIcsCalendar(icalcomponent* root, const QString& origin, TIcsContents& contents,
                     std::shared_ptr<TSourceCache> cache, const TUserAddresses& user) {
    const TZoneReading reading;
    int taskOrdinal = 0;
    std::vector<icalcomponent*> events;
    ReadComponent(root, {origin, 0, {}, std::move(cache)}, taskOrdinal, events, contents);
    TFileReading file{origin, user, contents, {}, {}};
    ReadEvents(events, file);
}

bool ParseIcsText(const QByteArray& text, const QString& filePath, TIcsContents& contents,
                  std::shared_ptr<TSourceCache> cache, const TUserAddresses& user) {
    TComponentPtr root(icalparser_parse_string(text.constData()));
    if (!root)
        return text.trimmed().isEmpty();
    ReadIcsCalendar(root.get(), filePath, contents, std::move(cache), user);
    return true;
}

} // namespace rp::mailstore
