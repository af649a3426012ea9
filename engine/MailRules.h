// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The urgent e-mail rules on plain values: which message is announced, under
// which key, and how long its record is kept.

#include "engine/TrackedRecords.h"

#include <QString>

namespace rp {

// An urgent message counts while it was received within the last day.
bool WithinUrgentSpan(TDateTime received, TDateTime now);
// The message's subject and sender name; stored cut to a key.
QString MessageKey(const QString& subject, const QString& senderName);
// A record is kept a day from when its message was first seen.
bool EmailRecordExpired(const TEmailItem& record, TDateTime now);

} // namespace rp
