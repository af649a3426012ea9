#include "platform/mailstore/IcalTime.h"

#include "platform/mailstore/MailStoreFiles.h"

#include <QDateTime>

namespace rp::mailstore {

const icaltimezone* ZoneOfProperty(icalproperty* property, icalcomponent* calendar) {
    icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
    if (!parameter)
        return nullptr;
    const char* tzid = icalparameter_get_tzid(parameter);
    if (!tzid || !*tzid)
        return nullptr;
    if (calendar)
        if (icaltimezone* own = icalcomponent_get_timezone(calendar, tzid))
            return own;
    if (icaltimezone* system = icaltimezone_get_builtin_timezone(tzid))
        return system;
    if (icaltimezone* system = icaltimezone_get_builtin_timezone_from_tzid(tzid))
        return system;
    qCWarning(lcMailStore) << "Unknown time zone" << tzid << "- the time is read as local time";
    return nullptr;
}

std::optional<icaltimetype> PropertyTime(icalcomponent* component, icalproperty_kind kind,
                                         icalcomponent* calendar) {
    icalproperty* property = icalcomponent_get_first_property(component, kind);
    if (!property)
        return std::nullopt;
    const icalvalue* value = icalproperty_get_value(property);
    if (!value)
        return std::nullopt;
    const icalvalue_kind valueKind = icalvalue_isa(value);
    if (valueKind != ICAL_DATETIME_VALUE && valueKind != ICAL_DATE_VALUE)
        return std::nullopt;
    icaltimetype time =
        valueKind == ICAL_DATE_VALUE ? icalvalue_get_date(value) : icalvalue_get_datetime(value);
    if (icaltime_is_null_time(time) || !icaltime_is_valid_time(time))
        return std::nullopt;
    if (!time.is_date && !icaltime_is_utc(time))
        if (const icaltimezone* zone = ZoneOfProperty(property, calendar))
            time.zone = zone;
    return time;
}

TDateTime ToLocalDays(const icaltimetype& time) {
    if (time.is_date)
        return EncodeDate(time.year, time.month, time.day);
    if (time.zone == nullptr && !icaltime_is_utc(time))
        return EncodeDateTime(time.year, time.month, time.day, time.hour, time.minute, time.second);
    const icaltimezone* zone = icaltime_is_utc(time) ? icaltimezone_get_utc_timezone() : time.zone;
    const time_t seconds = icaltime_as_timet_with_zone(time, zone);
    return FromQDateTime(QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds)));
}

icalcomponent* CalendarOf(icalcomponent* component) {
    icalcomponent* calendar = component;
    while (calendar && icalcomponent_isa(calendar) != ICAL_VCALENDAR_COMPONENT)
        calendar = icalcomponent_get_parent(calendar);
    return calendar;
}

} // namespace rp::mailstore
