// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/IcalTime.h"

#include "platform/common/Files.h"

#include <QDateTime>
#include <QTimeZone>
#include <cmath>
#include <map>
#include <mutex>
#include <set>

namespace rp::mailstore {

namespace {

// Far more than a user's calendars define; past it, zones are not shared.
constexpr size_t kMaxSharedZones = 256;

struct TSharedZones {
    std::mutex lock;
    std::map<QByteArray, icaltimezone*> byDefinition;
    std::set<const icaltimezone*> zones;
};

TSharedZones& SharedZones() {
    static TSharedZones* shared = new TSharedZones; // lives as long as the program
    return *shared;
}

bool IsSharedCopy(const icaltimezone* zone) {
    TSharedZones& shared = SharedZones();
    const std::lock_guard<std::mutex> guard(shared.lock);
    return shared.zones.count(zone) > 0;
}

// Each item a CalDAV server keeps carries its own copy of its zones, and libical
// works out a zone's changes afresh for every copy: most of the cost of reading a
// calendar of many items. Equal definitions share one zone, worked out once.
const icaltimezone* SharedCopyOf(icaltimezone* own) {
    icalcomponent* definition = icaltimezone_get_component(own);
    if (!definition)
        return own;
    char* text = icalcomponent_as_ical_string_r(definition);
    const QByteArray key(text);
    icalmemory_free_buffer(text);
    TSharedZones& shared = SharedZones();
    const std::lock_guard<std::mutex> guard(shared.lock);
    if (const auto known = shared.byDefinition.find(key); known != shared.byDefinition.end())
        return known->second;
    if (shared.byDefinition.size() >= kMaxSharedZones)
        return own;
    icaltimezone* copy = icaltimezone_new();
    if (!icaltimezone_set_component(copy, icalcomponent_new_clone(definition))) {
        icaltimezone_free(copy, 1);
        return own;
    }
    shared.byDefinition.emplace(key, copy);
    shared.zones.insert(copy);
    return copy;
}

// The shared zone of each VTIMEZONE of the calendar being read: its definition
// is written out once per read, not once per time that names it.
thread_local std::map<const icaltimezone*, const icaltimezone*>* readingZones = nullptr;

const icaltimezone* SharedZoneOf(icaltimezone* own) {
    if (!readingZones)
        return SharedCopyOf(own);
    const auto known = readingZones->find(own);
    if (known != readingZones->end())
        return known->second;
    return readingZones->emplace(own, SharedCopyOf(own)).first->second;
}

} // namespace

TZoneReading::TZoneReading() : outer(readingZones) {
    readingZones = &zones;
}

TZoneReading::~TZoneReading() {
    readingZones = outer;
}

QByteArray LocalZoneStamp() {
    return QTimeZone::systemTimeZoneId() + ' ' +
           QByteArray::number(QDateTime::currentDateTime().offsetFromUtc());
}

const icaltimezone* ZoneOfProperty(icalproperty* property, icalcomponent* calendar) {
    icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
    if (!parameter)
        return nullptr;
    const char* tzid = icalparameter_get_tzid(parameter);
    if (!tzid || !*tzid)
        return nullptr;
    if (calendar)
        if (icaltimezone* own = icalcomponent_get_timezone(calendar, tzid))
            return SharedZoneOf(own);
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

namespace {

TDateTime FieldsAsDays(const icaltimetype& time) {
    if (time.is_date)
        return EncodeDate(time.year, time.month, time.day);
    return EncodeDateTime(time.year, time.month, time.day, time.hour, time.minute, time.second);
}

bool IsSharedZone(const icaltimezone* zone) {
    return zone == icaltimezone_get_utc_timezone() ||
           (zone && icaltimezone_get_builtin_timezone(
                        icaltimezone_get_location(const_cast<icaltimezone*>(zone))) == zone) ||
           IsSharedCopy(zone);
}

} // namespace

std::shared_ptr<const TIcalZone> TIcalZone::Of(const icaltimezone* zone) {
    if (!zone)
        return nullptr;
    auto* mutableZone = const_cast<icaltimezone*>(zone);
    if (IsSharedZone(zone))
        return std::shared_ptr<const TIcalZone>(new TIcalZone(mutableZone, false));
    // A file's own zone dies with the file's parse tree: keep a copy of its definition.
    icalcomponent* definition = icaltimezone_get_component(mutableZone);
    if (!definition)
        return nullptr;
    icaltimezone* copy = icaltimezone_new();
    if (!icaltimezone_set_component(copy, icalcomponent_new_clone(definition))) {
        icaltimezone_free(copy, 1);
        return nullptr;
    }
    return std::shared_ptr<const TIcalZone>(new TIcalZone(copy, true));
}

TIcalZone::~TIcalZone() {
    if (owned)
        icaltimezone_free(zone, 1);
}

QString TIcalZone::Id() const {
    const char* id = icaltimezone_get_tzid(zone);
    return id ? QString::fromUtf8(id) : QStringLiteral("UTC");
}

TDateTime TIcalZone::ToLocal(TDateTime wallTime) const {
    return LocalOfWallTime(zone, wallTime);
}

TDateTime LocalOfWallTime(const icaltimezone* zone, TDateTime wallTime) {
    auto* mutableZone = const_cast<icaltimezone*>(zone);
    // Split by hand: a wall time of another zone may not exist in local time.
    const QDate date = ToQDate(wallTime);
    const auto seconds = static_cast<int>(std::lround(TimeOfDay(wallTime) * 86400.0));
    icaltimetype time = icaltime_null_time();
    time.year = date.year();
    time.month = date.month();
    time.day = date.day();
    time.second = seconds;
    time = icaltime_normalize(time);
    time.zone = mutableZone;
    const time_t instant = icaltime_as_timet_with_zone(time, mutableZone);
    return FromQDateTime(QDateTime::fromSecsSinceEpoch(static_cast<qint64>(instant)));
}

TDateTime TIcalZone::WallTime(const icaltimetype& time) const {
    return FrameDays(time, zone);
}

TDateTime FrameDays(const icaltimetype& time, const icaltimezone* zone) {
    if (!zone)
        return ToLocalDays(time);
    // A time of this zone stays as written, even one a clock change skips.
    if (time.is_date || time.zone == zone || (time.zone == nullptr && !icaltime_is_utc(time)))
        return FieldsAsDays(time);
    return FieldsAsDays(icaltime_convert_to_zone(time, const_cast<icaltimezone*>(zone)));
}

icalcomponent* CalendarOf(icalcomponent* component) {
    icalcomponent* calendar = component;
    while (calendar && icalcomponent_isa(calendar) != ICAL_VCALENDAR_COMPONENT)
        calendar = icalcomponent_get_parent(calendar);
    return calendar;
}

} // namespace rp::mailstore
