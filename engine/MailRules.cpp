// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/MailRules.h"

namespace rp {

namespace {
// An urgent message counts for one day; its record is kept as long.
constexpr double kUrgentSpan = 1;
} // namespace

bool WithinUrgentSpan(TDateTime received, TDateTime now) {
    return !(received < now - kUrgentSpan);
}

QString MessageKey(const QString& subject, const QString& senderName) {
    return subject + QStringLiteral(" From:") + senderName;
}

bool EmailRecordExpired(const TEmailItem& record, TDateTime now) {
    return now - kUrgentSpan > record.SeenTime;
}

} // namespace rp
