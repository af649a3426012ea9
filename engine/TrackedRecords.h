// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The small records by which the engine remembers what it tracks and what it sent.

#include "engine/DateTime.h"

#include <QByteArray>
#include <QString>

namespace rp {

// Keys are stored as short strings: at most 255 bytes in the locale's encoding
// (UTF-8). A longer text is cut at the last whole character within 255 bytes.
inline constexpr int kMaxKeyBytes = 255;
QByteArray KeyBytes(const QString& text);
QString CutKey(const QString& text);

struct TEventItem {
    QString Key;
    TDateTime StartTime = 0;
    TDateTime ReminderTime = 0;
    bool Notified = false;
    // Not stored: the scan sets it, and a record loaded with a midnight start is
    // taken as all day until the scan meets its appointment again.
    bool AllDay = false;
};

struct TTaskEvent {
    QString Key;
    TDateTime StartDate = 0;
    TDateTime DueDay = 0;
    TDateTime LastReminder = 0;
    TDateTime PreNoticeTime = 0;
    TDateTime NoticeTime = 0;
    bool ReminderSent = false;
    bool PreNoticeSent = false;
    TDateTime Reserved = 0;
    bool Completed = false;
};

struct TEmailItem {
    QString Key;
    TDateTime SeenTime = 0;
};

} // namespace rp
