// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/platform/MailStoreTestSupport.h"

#include <sys/stat.h>

using namespace rp;
using namespace rp::outlook;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

class MailStoreTasksTest : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::copy(DataDir() + "/tasks.ics", File());
        QFile::setPermissions(File(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        original = ReadText(File());
        store.WriteProfile("[Tasks]\nPath=" + File().toUtf8() + "\n");
    }
    QString File() const { return store.Path("tasks.ics"); }
    std::shared_ptr<TaskItem> Task(int index) { return store.Item<TaskItem>(olFolderTasks, index); }
    // The sample file with exactly these lines changed.
    QByteArray OriginalWith(const QList<std::pair<QByteArray, QByteArray>>& changes) const {
        QByteArray expected = original;
        for (const auto& [from, to] : changes)
            expected.replace(from + "\r\n", to + "\r\n");
        return expected;
    }

    TScopedTimeZone utc{"UTC"};
    TStoreFixture store;
    QByteArray original;
};

TEST_F(MailStoreTasksTest, DatesAreWholeDaysAndMissingOnesAreNoDate) {
    ASSERT_EQ(store.Folder(olFolderTasks)->Items()->Count(), 7);
    EXPECT_EQ(Task(1)->Subject(), "Pay rent");
    EXPECT_EQ(Task(1)->StartDate(), NoDate);
    EXPECT_EQ(Task(1)->DueDate(), EncodeDate(2024, 4, 1));
    EXPECT_EQ(Task(2)->StartDate(), EncodeDate(2024, 3, 4));
    EXPECT_EQ(Task(2)->DueDate(), EncodeDate(2024, 3, 4));
    EXPECT_EQ(Task(6)->StartDate(), NoDate);
    EXPECT_EQ(Task(6)->DueDate(), NoDate);
    EXPECT_TRUE(Task(1)->IsRecurring());
    EXPECT_FALSE(Task(6)->IsRecurring());
}

TEST_F(MailStoreTasksTest, CompleteFromStatusCompletedDateOrFullPercentage) {
    EXPECT_FALSE(Task(1)->Complete());
    EXPECT_TRUE(Task(3)->Complete()); // STATUS:COMPLETED
    EXPECT_TRUE(Task(4)->Complete()); // PERCENT-COMPLETE:100
    EXPECT_TRUE(Task(5)->Complete()); // COMPLETED date
    EXPECT_FALSE(Task(6)->Complete());
}

TEST_F(MailStoreTasksTest, RemindersAreAbsoluteOrRelativeToDueOrStart) {
    EXPECT_TRUE(Task(1)->ReminderSet());
    EXPECT_NEAR(Task(1)->ReminderTime(), EncodeDate(2024, 3, 31), kSecond); // a day before due
    EXPECT_NEAR(Task(2)->ReminderTime(), EncodeDateTime(2024, 3, 4, 7, 30), kSecond); // start - 30'
    EXPECT_NEAR(Task(7)->ReminderTime(), EncodeDateTime(2024, 3, 27, 9, 0), kSecond);
    EXPECT_FALSE(Task(6)->ReminderSet());
}

TEST_F(MailStoreTasksTest, SkippingMovesTheDueDateAndChangesNothingElseInTheFile) {
    auto rent = Task(1);
    ASSERT_TRUE(rent->SkipRecurrence());
    EXPECT_EQ(rent->DueDate(), EncodeDate(2024, 5, 1)) << "the item itself moved on";
    EXPECT_EQ(Task(1)->DueDate(), EncodeDate(2024, 5, 1)) << "a fresh read sees the file";
    EXPECT_EQ(ReadText(File()),
              OriginalWith({{"DUE;VALUE=DATE:20240401", "DUE;VALUE=DATE:20240501"}}));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(File()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the user's file keeps its mode";
}

TEST_F(MailStoreTasksTest, SkippingACountedRuleUsesUpOccurrencesUntilNoneIsLeft) {
    auto plants = Task(2);
    ASSERT_TRUE(plants->SkipRecurrence());
    EXPECT_EQ(plants->StartDate(), EncodeDate(2024, 3, 11));
    EXPECT_EQ(plants->DueDate(), EncodeDate(2024, 3, 11));
    EXPECT_EQ(ReadText(File()),
              OriginalWith({{"DTSTART;TZID=Europe/Berlin:20240304T090000",
                             "DTSTART;TZID=Europe/Berlin:20240311T090000"},
                            {"DUE;TZID=Europe/Berlin:20240304T180000",
                             "DUE;TZID=Europe/Berlin:20240311T180000"},
                            {"RRULE:FREQ=WEEKLY;COUNT=3", "RRULE:FREQ=WEEKLY;COUNT=2"}}));
    ASSERT_TRUE(plants->SkipRecurrence());
    EXPECT_EQ(plants->StartDate(), EncodeDate(2024, 3, 18));
    const QByteArray lastOccurrence = ReadText(File());
    EXPECT_FALSE(plants->SkipRecurrence()) << "the third of three occurrences is the last";
    EXPECT_EQ(ReadText(File()), lastOccurrence);
    EXPECT_EQ(plants->StartDate(), EncodeDate(2024, 3, 18));
}

TEST_F(MailStoreTasksTest, ATaskWithoutRuleCannotBeSkipped) {
    EXPECT_FALSE(Task(6)->SkipRecurrence());
    EXPECT_EQ(ReadText(File()), original);
}

TEST_F(MailStoreTasksTest, ATaskThatChangedPlaceOnDiskIsNotWrittenOver) {
    auto rent = Task(1);
    QByteArray changed = original;
    changed.replace("UID:rent@example.org", "UID:other@example.org");
    WriteText(File(), changed);
    EXPECT_THROW(rent->SkipRecurrence(), EAutomationError);
    EXPECT_EQ(ReadText(File()), changed);
}

TEST(MailStoreTaskFileTest, LineFeedFilesAndUntilRulesAreHandledToo) {
    TScopedTimeZone utc("UTC");
    TStoreFixture store;
    const QString file = store.Path("todo.ics");
    const QByteArray text = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//x//y//EN\nBEGIN:VTODO\n"
                            "UID:t1\nSUMMARY:Stretch\nDTSTART;VALUE=DATE:20240105\n"
                            "RRULE:FREQ=DAILY;\n UNTIL=20240106\nEND:VTODO\nEND:VCALENDAR\n";
    WriteText(file, text);
    store.WriteProfile("[Tasks]\nPath=" + file.toUtf8() + "\n");
    auto task = store.Item<TaskItem>(olFolderTasks, 1);
    EXPECT_EQ(task->DueDate(), NoDate);
    ASSERT_TRUE(task->SkipRecurrence());
    EXPECT_EQ(task->StartDate(), EncodeDate(2024, 1, 6));
    QByteArray expected = text;
    expected.replace("DTSTART;VALUE=DATE:20240105", "DTSTART;VALUE=DATE:20240106");
    EXPECT_EQ(ReadText(file), expected);
    EXPECT_FALSE(task->SkipRecurrence());
}

} // namespace
