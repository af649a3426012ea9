// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A change of the computer's time zone moves the local start of every meeting
// anchored in a zone of its own (UTC, a TZID) by the change in offset. Its key
// carries the local start time, so without help the next scan would meet the
// meeting under a new key and announce it again.

#include "engine/SortedList.h"
#include "engine/TrackedRecords.h"

namespace rp {

// For every announced record, marks the same meeting at its start moved by
// shiftSeconds as announced too: an existing unannounced record with that key
// and start, or a new record. Floating meetings keep their wall-clock start and
// their own record; the extra record only ever matches a zone-anchored one.
// True when the list changed.
bool ShadowAnnouncedMeetings(TSortedList<TEventItem>& appointments, int shiftSeconds);

} // namespace rp
