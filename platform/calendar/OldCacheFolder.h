// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Earlier versions kept a server's last good copy as a folder of .ics files, one
// per item, with a state.json naming each item's ETag and the sync token. The
// first start with the one-file copy takes such a folder over, changes not yet
// written back included, and removes it once the copy holding it is saved.

#include "platform/calendar/SourceCache.h"

#include <QString>

namespace rp::mailstore {

// Takes the folder over into `cache` when the cache was not read (a first start),
// then removes the folder; a folder left by a start cut short after the copy
// was saved is only removed. A copy that cannot be saved keeps the folder.
void TakeOverOldCacheFolder(const QString& folder, const QString& url, TSourceCache& cache);

} // namespace rp::mailstore
