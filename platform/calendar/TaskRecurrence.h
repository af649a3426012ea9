// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Moving a recurring task to its next occurrence in the user's own file or in a
// source's last good copy.

#include "platform/calendar/IcsRecords.h"

#include <optional>

#include <libical/ical.h>

namespace rp::mailstore {

// Moves DTSTART and DUE of the task at `origin` to the next occurrence of its
// RRULE and writes the file (or the copy, the item marked changed here) back
// atomically, leaving every other line as it was. Returns the task as it now
// reads, or nullopt when there is no next occurrence (nothing is written then).
// Throws EAutomationError naming the file when it cannot be read or written or
// the task is no longer where it was.
std::optional<TTaskRecord> SkipTaskToNextOccurrence(const TTaskOrigin& origin);

// `text` with the task at `origin` (its ordinal among the text's VTODOs, with
// that UID) moved to the next occurrence of its RRULE, every other line as it
// was; nullopt when there is none. Throws EAutomationError when the task is not
// there.
std::optional<QByteArray> MovedTaskText(const QByteArray& text, const TTaskOrigin& origin);

// Whether the task's RRULE has an occurrence after the current one, as
// SkipTaskToNextOccurrence would find it in the same text.
bool HasNextOccurrence(icalcomponent* task);

} // namespace rp::mailstore
