// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a source tells of trouble (a server not reached, a login refused) and of
// its recovery, in words for the status bar; and, for the source-health panel,
// whether it works now (TSourceHealthSink, engine/SourceHealth.h).

#include "engine/SourceHealth.h"

#include <QString>
#include <functional>

namespace rp::mailstore {

using TStatusSink = std::function<void(const QString& text)>;

} // namespace rp::mailstore
