// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A large, realistic mail store made from a fixed seed, so every run measures the
// same bytes: five years of appointments, a task list and a full inbox.

#include "engine/DateTime.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace rp::bench {

struct TStoreShape {
    int events = 10000;
    int tasks = 2000;
    int messages = 5000;
    uint32_t seed = 20240612;
    // The day the store is centred on: five years around it, mail before it.
    TDateTime now = EncodeDateTime(2024, 6, 12, 12, 0);
};

// What was made, for the report and the tests.
struct TStoreCounts {
    int events = 0;
    int recurringEvents = 0;
    int eventsWithAlarm = 0;
    int zonedEvents = 0;
    int utcEvents = 0;
    int floatingEvents = 0;
    int allDayEvents = 0;
    int eventsWithExdate = 0;
    int tasks = 0;
    int completedTasks = 0;
    int recurringTasks = 0;
    int tasksWithReminder = 0;
    int messages = 0;
    int urgentUnread = 0;
};

// A small deterministic generator (xorshift), the same on every platform.
class TRandom {
public:
    explicit TRandom(uint32_t seed) : state(seed ? seed : 1) {}
    uint32_t Next();
    // 0 .. bound - 1.
    int Below(int bound) { return static_cast<int>(Next() % static_cast<uint32_t>(bound)); }
    // True with the given chance in percent.
    bool Percent(int chance) { return Below(100) < chance; }

private:
    uint32_t state;
};

QByteArray GenerateCalendar(const TStoreShape& shape, TStoreCounts& counts);
QByteArray GenerateTasks(const TStoreShape& shape, TStoreCounts& counts);

// Writes calendar.ics, tasks.ics, the Inbox Maildir, an Outbox folder and the
// mail store profile MailStore.ini pointing at them into `folder`.
TStoreCounts WriteStore(const QString& folder, const TStoreShape& shape);
// The same layout with no items at all.
void WriteEmptyStore(const QString& folder);

QString ProfilePath(const QString& folder);

} // namespace rp::bench
