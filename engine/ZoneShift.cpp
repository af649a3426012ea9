// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/ZoneShift.h"

#include <cmath>
#include <optional>
#include <vector>

namespace rp {

namespace {

constexpr double kSameStart = 1.0 / 86400; // a second

// The record as the scan will key it once its start has moved; none when its key
// does not begin with its own start time (a record from an older locale).
std::optional<TEventItem> Moved(const TEventItem& record, double shiftDays) {
    const QString timeText = LongTimeText(record.StartTime);
    if (!record.Key.startsWith(timeText))
        return std::nullopt;
    TEventItem moved = record;
    moved.StartTime = record.StartTime + shiftDays;
    moved.ReminderTime = record.ReminderTime + shiftDays;
    moved.Key = CutKey(LongTimeText(moved.StartTime) + record.Key.mid(timeText.size()));
    return moved;
}

bool Adopt(TSortedList<TEventItem>& appointments, TEventItem moved) {
    const int index = appointments.Find(moved.Key);
    if (index < 0) {
        const QString key = moved.Key;
        return appointments.Add(key, std::make_unique<TEventItem>(std::move(moved)));
    }
    TEventItem& tracked = appointments.At(index);
    if (tracked.Notified || std::abs(tracked.StartTime - moved.StartTime) > kSameStart)
        return false;
    tracked.Notified = true;
    return true;
}

} // namespace

bool ShadowAnnouncedMeetings(TSortedList<TEventItem>& appointments, int shiftSeconds) {
    if (shiftSeconds == 0)
        return false;
    const double shiftDays = shiftSeconds / 86400.0;
    std::vector<TEventItem> moved;
    for (int i = 0; i < appointments.Count(); ++i)
        if (appointments.At(i).Notified)
            if (std::optional<TEventItem> record = Moved(appointments.At(i), shiftDays))
                moved.push_back(std::move(*record));
    bool changed = false;
    for (TEventItem& record : moved)
        changed = Adopt(appointments, std::move(record)) || changed;
    return changed;
}

} // namespace rp
