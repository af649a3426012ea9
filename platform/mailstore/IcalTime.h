#pragma once
// Turning iCalendar times into the local day counts the object model speaks.

#include "engine/DateTime.h"

#include <libical/ical.h>
#include <optional>

namespace rp::mailstore {

// The zone of a property's TZID: the file's own VTIMEZONE first, else the
// system's zone of that name; null for UTC, floating times and unknown zones.
const icaltimezone* ZoneOfProperty(icalproperty* property, icalcomponent* calendar);

// The property's time with its zone attached, or nullopt when it has none.
std::optional<icaltimetype> PropertyTime(icalcomponent* component, icalproperty_kind kind,
                                         icalcomponent* calendar);

// Local day count of an iCalendar time: UTC and zoned times are converted to
// the process's local zone, floating times taken as they are, dates at local midnight.
TDateTime ToLocalDays(const icaltimetype& time);

// The root VCALENDAR that holds `component`, or null.
icalcomponent* CalendarOf(icalcomponent* component);

} // namespace rp::mailstore
