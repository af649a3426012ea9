// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/StoreGenerator.h"
#include "platform/calendar/IcsSource.h"
#include "platform/mailstore/MailStoreApplication.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace rp::bench {
namespace {

TStoreShape SmallShape() {
    TStoreShape shape;
    shape.events = 1000;
    shape.tasks = 200;
    shape.messages = 300;
    return shape;
}

int Occurrences(const QByteArray& text, const char* what) {
    return static_cast<int>(text.count(what));
}

TEST(StoreGenerator, SameSeedMakesTheSameBytes) {
    TStoreCounts first, second, other;
    const TStoreShape shape = SmallShape();
    TStoreShape reseeded = shape;
    reseeded.seed += 7;
    EXPECT_EQ(GenerateCalendar(shape, first), GenerateCalendar(shape, second));
    EXPECT_NE(GenerateCalendar(shape, first), GenerateCalendar(reseeded, other));
}

TEST(StoreGenerator, CalendarHasTheAskedMix) {
    TStoreCounts counts;
    const QByteArray text = GenerateCalendar(SmallShape(), counts);
    EXPECT_EQ(Occurrences(text, "BEGIN:VEVENT"), 1000);
    EXPECT_EQ(counts.events, 1000);
    EXPECT_EQ(Occurrences(text, "RRULE:FREQ=DAILY") + Occurrences(text, "RRULE:FREQ=WEEKLY") +
                  Occurrences(text, "RRULE:FREQ=MONTHLY"),
              counts.recurringEvents);
    EXPECT_NEAR(counts.recurringEvents, 100, 30);
    EXPECT_NEAR(counts.eventsWithAlarm, 600, 60);
    EXPECT_NEAR(counts.zonedEvents, 330, 50);
    EXPECT_NEAR(counts.allDayEvents, 100, 30);
    EXPECT_GT(counts.utcEvents, 0);
    EXPECT_GT(counts.floatingEvents, 0);
    EXPECT_GT(counts.eventsWithExdate, 0);
    EXPECT_GT(Occurrences(text, ";COUNT="), 0);
    EXPECT_GT(Occurrences(text, ";UNTIL="), 0);
}

TEST(StoreGenerator, TasksHaveTheAskedMix) {
    TStoreCounts counts;
    const QByteArray text = GenerateTasks(SmallShape(), counts);
    EXPECT_EQ(Occurrences(text, "BEGIN:VTODO"), 200);
    EXPECT_GT(counts.completedTasks, 0);
    EXPECT_GT(counts.tasksWithReminder, 0);
    EXPECT_EQ(Occurrences(text, "STATUS:COMPLETED"), counts.completedTasks);
}

TEST(StoreGenerator, TheMailStoreReadsEveryItem) {
    QTemporaryDir dir;
    const TStoreCounts counts = WriteStore(dir.path(), SmallShape());
    mailstore::TIcsSource calendar(dir.filePath(QStringLiteral("calendar.ics")),
                                   QStringLiteral("calendar"));
    mailstore::TIcsSource tasks(dir.filePath(QStringLiteral("tasks.ics")),
                                QStringLiteral("task list"));
    EXPECT_EQ(static_cast<int>(calendar.Contents()->appointments.size()), counts.events);
    EXPECT_EQ(static_cast<int>(tasks.Contents()->tasks.size()), counts.tasks);
}

TEST(StoreGenerator, ProfileOpensTheInboxWithOneInAHundredUrgent) {
    QTemporaryDir dir;
    const TStoreCounts counts = WriteStore(dir.path(), SmallShape());
    EXPECT_EQ(counts.messages, 300);
    EXPECT_EQ(counts.urgentUnread, 3);
    mailstore::TStoreLocation location;
    location.profilePath = ProfilePath(dir.path());
    location.storeFolder = dir.path();
    const auto parts = mailstore::OpenStore(location);
    EXPECT_EQ(static_cast<int>(parts->inbox->Contents()->messages.size()), 300);
    EXPECT_EQ(parts->inbox->Contents()->unreadCount, 3);
    EXPECT_EQ(parts->calendar->Path(), dir.filePath(QStringLiteral("calendar.ics")));
}

TEST(StoreGenerator, EmptyStoreOpensWithNothingInIt) {
    QTemporaryDir dir;
    WriteEmptyStore(dir.path());
    mailstore::TStoreLocation location;
    location.profilePath = ProfilePath(dir.path());
    location.storeFolder = dir.path();
    const auto parts = mailstore::OpenStore(location);
    EXPECT_TRUE(parts->calendar->Contents()->appointments.empty());
    EXPECT_TRUE(parts->tasks->Contents()->tasks.empty());
    EXPECT_TRUE(parts->inbox->Contents()->messages.empty());
}

TEST(StoreGenerator, RandomNumbersStayInRange) {
    TRandom random(1);
    for (int i = 0; i < 1000; ++i) {
        const int value = random.Below(7);
        ASSERT_GE(value, 0);
        ASSERT_LT(value, 7);
    }
    TRandom zero(0);
    EXPECT_NE(zero.Next(), 0u); // a zero seed would stick at zero for ever
}

} // namespace
} // namespace rp::bench
