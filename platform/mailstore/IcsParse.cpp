#include "platform/mailstore/IcalTime.h"
#include "platform/mailstore/IcsRecords.h"
#include "platform/mailstore/MailStoreFiles.h"
#include "platform/mailstore/TaskRecurrence.h"

#include "engine/OutlookModel.h"

#include <algorithm>
#include <cmath>
#include <libical/ical.h>
#include <vector>

namespace rp::mailstore {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// Enough to find the last of any real-world COUNT rule without running away.
constexpr int kMaxOccurrencesWalked = 100000;

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

// The start of the last occurrence of a COUNT rule, as a local day count.
TDateTime LastOccurrence(const icalrecurrencetype& rule, const icaltimetype& start) {
    if (const std::optional<icaltimetype> last = LastByArithmetic(rule, start))
        return ToLocalDays(*last);
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
    return ToLocalDays(last);
}

// An UNTIL date includes its whole day.
TDateTime UntilDays(const icaltimetype& until) {
    const TDateTime days = ToLocalDays(until);
    return until.is_date ? days + 1.0 - 1.0 / kSecondsPerDay : days;
}

std::optional<TRecurrenceRecord> RecurrenceOf(icalcomponent* event, const icaltimetype& start) {
    icalproperty* property = icalcomponent_get_first_property(event, ICAL_RRULE_PROPERTY);
    if (!property)
        return std::nullopt;
    const icalrecurrencetype rule = icalproperty_get_rrule(property);
    if (rule.freq == ICAL_NO_RECURRENCE)
        return std::nullopt;
    TRecurrenceRecord pattern;
    MapFrequency(rule, start, pattern);
    pattern.interval = rule.interval > 0 ? rule.interval : 1;
    const TDateTime startDays = ToLocalDays(start);
    pattern.patternStartDate = WholeDay(startDays);
    pattern.startTime = TimeOfDay(startDays);
    pattern.occurrences = rule.count > 0 ? rule.count : 0;
    pattern.noEndDate = rule.count <= 0 && icaltime_is_null_time(rule.until);
    if (!icaltime_is_null_time(rule.until))
        pattern.patternEndDate = UntilDays(rule.until);
    else if (rule.count > 0)
        pattern.patternEndDate = LastOccurrence(rule, start);
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

int ReminderMinutes(icalcomponent* event, TDateTime start) {
    const std::optional<TAlarmTrigger> trigger = FirstAlarmTrigger(event);
    if (!trigger)
        return 15; // what the mail application assumes without a reminder of its own
    TDateTime fires = 0;
    if (trigger->absolute) {
        fires = *trigger->absolute;
    } else {
        const double lengthDays =
            trigger->relatedToEnd
                ? icaldurationtype_as_int(icalcomponent_get_duration(event)) / kSecondsPerDay
                : 0.0;
        fires = start + lengthDays + trigger->offsetDays;
    }
    // An alarm after the start has no place in a "minutes before start" value.
    return std::max(0, static_cast<int>(std::lround((start - fires) * 1440.0)));
}

void ReadEvent(icalcomponent* event, icalcomponent* calendar, const QString& filePath,
               TIcsContents& contents) {
    if (IsCancelled(event))
        return;
    const std::optional<icaltimetype> start = PropertyTime(event, ICAL_DTSTART_PROPERTY, calendar);
    if (!start) {
        SkipItem("VEVENT", event, filePath, "no readable DTSTART");
        return;
    }
    auto record = std::make_shared<TAppointmentRecord>();
    record->start = ToLocalDays(*start);
    record->subject = CompactTextProperty(event, ICAL_SUMMARY_PROPERTY);
    record->location = CompactTextProperty(event, ICAL_LOCATION_PROPERTY);
    record->reminderMinutes = ReminderMinutes(event, record->start);
    if (const std::optional<TRecurrenceRecord> pattern = RecurrenceOf(event, *start))
        record->recurrence = std::make_shared<const TRecurrenceRecord>(*pattern);
    contents.appointments.push_back(std::move(record));
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

void ReadTask(icalcomponent* task, icalcomponent* calendar, const QString& filePath, int ordinal,
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
    record->origin = {filePath, ordinal, UidOf(task)};
    contents.tasks.push_back(std::move(record));
}

void ReadComponent(icalcomponent* component, const QString& filePath, int& taskOrdinal,
                   TIcsContents& contents) {
    const icalcomponent_kind kind = icalcomponent_isa(component);
    icalcomponent* calendar = CalendarOf(component);
    if (kind == ICAL_VEVENT_COMPONENT) {
        ReadEvent(component, calendar, filePath, contents);
    } else if (kind == ICAL_VTODO_COMPONENT) {
        ReadTask(component, calendar, filePath, taskOrdinal++, contents);
    } else if (kind == ICAL_VCALENDAR_COMPONENT || kind == ICAL_XROOT_COMPONENT) {
        for (icalcomponent* child =
                 icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT);
             child; child = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT))
            ReadComponent(child, filePath, taskOrdinal, contents);
    }
}

} // namespace

bool ParseIcsText(const QByteArray& text, const QString& filePath, TIcsContents& contents) {
    TComponentPtr root(icalparser_parse_string(text.constData()));
    if (!root)
        return text.trimmed().isEmpty();
    int taskOrdinal = 0;
    ReadComponent(root.get(), filePath, taskOrdinal, contents);
    return true;
}

} // namespace rp::mailstore
