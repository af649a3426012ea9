// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turning iCalendar times into the local day counts the object model speaks.

#include "engine/DateTime.h"

#include <QString>
#include <libical/ical.h>
#include <map>
#include <memory>
#include <optional>

namespace rp::mailstore {

// While one lives on this thread, a calendar's own VTIMEZONEs are matched to
// their shared zones once each: the calendar's tree must outlive it.
class TZoneReading {
public:
    TZoneReading();
    ~TZoneReading();
    TZoneReading(const TZoneReading&) = delete;
    TZoneReading& operator=(const TZoneReading&) = delete;

private:
    std::map<const icaltimezone*, const icaltimezone*> zones;
    std::map<const icaltimezone*, const icaltimezone*>* outer;
};

// The zone of a property's TZID: the file's own VTIMEZONE first, else the
// system's zone of that name; null for UTC, floating times and unknown zones.
const icaltimezone* ZoneOfProperty(icalproperty* property, icalcomponent* calendar);

// The property's time with its zone attached, or nullopt when it has none.
std::optional<icaltimetype> PropertyTime(icalcomponent* component, icalproperty_kind kind,
                                         icalcomponent* calendar);

// Local day count of an iCalendar time: UTC and zoned times are converted to
// the process's local zone, floating times taken as they are, dates at local midnight.
TDateTime ToLocalDays(const icaltimetype& time);

// A zone a recurrence is counted in: the system's or UTC, or a copy of a file's
// own VTIMEZONE, which outlives the parse tree it came from.
class TIcalZone {
public:
    static std::shared_ptr<const TIcalZone> Of(const icaltimezone* zone);
    ~TIcalZone();
    TIcalZone(const TIcalZone&) = delete;
    TIcalZone& operator=(const TIcalZone&) = delete;

    const icaltimezone* Zone() const { return zone; }
    QString Id() const;
    // The local day count of a wall time of this zone.
    TDateTime ToLocal(TDateTime wallTime) const;
    // The wall time in this zone of an iCalendar time (floating ones as they are).
    TDateTime WallTime(const icaltimetype& time) const;

private:
    TIcalZone(icaltimezone* zone, bool owned) : zone(zone), owned(owned) {}
    icaltimezone* zone;
    bool owned;
};

// The day count of a time in a recurrence's frame: wall time of `zone`, or local
// time when it is null.
TDateTime FrameDays(const icaltimetype& time, const icaltimezone* zone);

// The local day count of a wall time of `zone`.
TDateTime LocalOfWallTime(const icaltimezone* zone, TDateTime wallTime);

// Changes with the computer's time zone and at its daylight saving steps, both of
// which move the local start of an event written in UTC or another zone: items
// read under another stamp are read again.
QByteArray LocalZoneStamp();

// The root VCALENDAR that holds `component`, or null.
icalcomponent* CalendarOf(icalcomponent* component);

} // namespace rp::mailstore
