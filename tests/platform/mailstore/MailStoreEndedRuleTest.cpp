// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/platform/MailStoreTestSupport.h"

using namespace rp;
using namespace rp::outlook;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

QByteArray TaskFile(const QByteArray& rule) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\nBEGIN:VTODO\r\n"
           "UID:t1\r\nSUMMARY:Water plants\r\nDTSTART;VALUE=DATE:20240105\r\n" +
           rule + "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
}

std::shared_ptr<TaskItem> OnlyTask(TStoreFixture& store, const QByteArray& text) {
    const QString file = store.Path("todo.ics");
    WriteText(file, text);
    store.WriteProfile("[Tasks]\nPath=" + file.toUtf8() + "\n");
    return store.Item<TaskItem>(olFolderTasks, 1);
}

// The scan asks an overdue recurring task to move on at every examination; a
// rule that has ended must answer without reading the whole file again.
TEST(MailStoreEndedRuleTest, AnEndedRuleIsNotSkippedAndTheFileIsNotRead) {
    TScopedTimeZone utc("UTC");
    TStoreFixture store;
    auto task = OnlyTask(store, TaskFile("RRULE:FREQ=WEEKLY;COUNT=1"));
    ASSERT_TRUE(task->IsRecurring());
    ASSERT_TRUE(QFile::remove(store.Path("todo.ics")));
    EXPECT_FALSE(task->SkipRecurrence());
}

TEST(MailStoreEndedRuleTest, ARuleWithOccurrencesLeftStillReadsAndMovesTheTask) {
    TScopedTimeZone utc("UTC");
    TStoreFixture store;
    auto task = OnlyTask(store, TaskFile("RRULE:FREQ=WEEKLY;COUNT=2"));
    ASSERT_TRUE(task->SkipRecurrence());
    EXPECT_EQ(task->StartDate(), EncodeDate(2024, 1, 12));
    EXPECT_FALSE(task->SkipRecurrence()) << "the moved task is the last occurrence";
    ASSERT_TRUE(QFile::remove(store.Path("todo.ics")));
    EXPECT_FALSE(task->SkipRecurrence());
}

TEST(MailStoreEndedRuleTest, AnUntilInThePastEndsTheRuleToo) {
    TScopedTimeZone utc("UTC");
    TStoreFixture store;
    auto task = OnlyTask(store, TaskFile("RRULE:FREQ=DAILY;UNTIL=20240105"));
    const QByteArray before = ReadText(store.Path("todo.ics"));
    EXPECT_FALSE(task->SkipRecurrence());
    EXPECT_EQ(ReadText(store.Path("todo.ics")), before);
}

} // namespace
