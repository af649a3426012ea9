// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A calendar or task source the store reads through its last good copy (a
// TSourceCache): a CalDAV collection or subscription, the desktop's store. The
// source keeps the copy up to date and writes back what changed here; the store
// parses the copy's items. Everything runs on the engine's thread.

#include "platform/calendar/IcsRecords.h"
#include "platform/calendar/SourceCache.h"

#include <memory>

namespace rp::mailstore {

class ICachedSource {
public:
    virtual ~ICachedSource() = default;
    // Brings the copy up to date when it is due, and writes back the items
    // changed here. Never throws: a failure keeps the last good copy and goes to
    // the status text.
    virtual void SyncIfDue() = 0;
    // An item was changed here (TSourceCache::ChangeHere, a task moved on): it
    // goes back to the source at the next SyncIfDue().
    virtual void RequestWriteBack() = 0;
    // A read-only source's tasks are never moved on.
    virtual bool ReadOnly() const = 0;
    virtual const std::shared_ptr<TSourceCache>& Cache() const = 0;
    // The addresses the source knows the user by, which may be asked of it (a
    // CalDAV principal's); empty when it knows none.
    virtual TUserAddresses UserAddresses() { return {}; }
};

} // namespace rp::mailstore
