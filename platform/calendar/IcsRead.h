// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reading a calendar that arrives already parsed (the desktop's store hands out
// components): the same reading as ParseIcsText, without a text in between.

#include "platform/calendar/IcsRecords.h"

#include <libical/ical.h>

namespace rp::mailstore {

// Reads every VEVENT and VTODO under `root`, a VCALENDAR (or several under an
// XROOT) whose VTIMEZONEs define its zones. The tasks' origin names `origin`
// (and `cache`, and the `user` whose answers are read, as ParseIcsText). The
// tree stays the caller's.
void ReadIcsCalendar(icalcomponent* root, const QString& origin, TIcsContents& contents,
                     std::shared_ptr<TSourceCache> cache = nullptr,
                     const TUserAddresses& user = {});

} // namespace rp::mailstore
