// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/StateFiles.h"
#include "tests/reliability/ReadOnlyFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace rp;
using rp::test::ReadOnlyFolder;

namespace {

// ---- byte layouts written out by hand from the offset tables

void PutKey(QByteArray& record, const QByteArray& key) {
    record[0] = static_cast<char>(key.size());
    std::memcpy(record.data() + 1, key.constData(), key.size());
}

void PutDouble(QByteArray& record, int offset, double value) {
    quint64 bits;
    std::memcpy(&bits, &value, 8);
    qToLittleEndian(bits, record.data() + offset);
}

const QByteArray kVersion("\x04\x00\x00\x00", 4);

QByteArray GoldenTask() {
    QByteArray r(307, '\0');
    PutKey(r, "Report:3/8/24");
    PutDouble(r, 256, 45354.25); // StartDate
    PutDouble(r, 264, 45359.0);  // DueDay
    PutDouble(r, 272, 45358.5);  // LastReminder
    PutDouble(r, 280, 45358.0);  // PreNoticeTime
    PutDouble(r, 288, 0.125);    // NoticeTime
    r[296] = 1;                  // ReminderSent
    r[297] = 0;                  // PreNoticeSent
    PutDouble(r, 298, -1.5);     // Reserved
    r[306] = 1;                  // Completed
    return r;
}

QByteArray GoldenNotify() {
    QByteArray r(273, '\0');
    PutKey(r, "2:30:00 PM@loc:Room 4Budget");
    PutDouble(r, 256, 45355.604166666664); // StartTime
    PutDouble(r, 264, 45355.59375);        // ReminderTime
    r[272] = 1;                            // Notified
    return r;
}

QByteArray GoldenEmail() {
    QByteArray r(264, '\0');
    PutKey(r, "Server down From:Ops");
    PutDouble(r, 256, 45355.75); // SeenTime
    return r;
}

TTaskEvent SampleTask() {
    TTaskEvent t;
    t.Key = QStringLiteral("Report:3/8/24");
    t.StartDate = 45354.25;
    t.DueDay = 45359.0;
    t.LastReminder = 45358.5;
    t.PreNoticeTime = 45358.0;
    t.NoticeTime = 0.125;
    t.ReminderSent = true;
    t.PreNoticeSent = false;
    t.Reserved = -1.5;
    t.Completed = true;
    return t;
}

TEventItem SampleEvent() {
    TEventItem e;
    e.Key = QStringLiteral("2:30:00 PM@loc:Room 4Budget");
    e.StartTime = 45355.604166666664;
    e.ReminderTime = 45355.59375;
    e.Notified = true;
    return e;
}

template <class Record> void Add(TSortedList<Record>& list, Record record) {
    const QString key = record.Key;
    list.Add(key, std::make_unique<Record>(std::move(record)));
}

class StateFilesTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QByteArray Read(const QString& name) const {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void Write(const QString& name, const QByteArray& content) const {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    // The message of the error a load throws, or empty.
    template <class Load> QString LoadError(Load load) {
        try {
            load();
        } catch (const EStateFileError& error) {
            return error.Message();
        }
        return {};
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(StateFilesTest, RecordsOfEachKindMatchTheByteTables) {
    TSortedList<TTaskEvent> tasks;
    Add(tasks, SampleTask());
    TSortedList<TEventItem> events;
    Add(events, SampleEvent());
    TSortedList<TEmailItem> emails;
    Add(emails, TEmailItem{QStringLiteral("Server down From:Ops"), 45355.75});

    SaveTaskFile(Path("TASK.CLD"), tasks);
    SaveNotifyFile(Path("NOTIFY.CLD"), events);
    SaveEmailFile(Path("EMAIL.CLD"), emails);

    EXPECT_EQ(Read("TASK.CLD"), kVersion + GoldenTask());
    EXPECT_EQ(Read("NOTIFY.CLD"), kVersion + GoldenNotify());
    EXPECT_EQ(Read("EMAIL.CLD"), kVersion + GoldenEmail());
}

TEST_F(StateFilesTest, GoldenFilesLoadFieldByField) {
    Write("TASK.CLD", kVersion + GoldenTask());
    Write("NOTIFY.CLD", kVersion + GoldenNotify());
    Write("EMAIL.CLD", kVersion + GoldenEmail());
    TSortedList<TTaskEvent> tasks;
    TSortedList<TEventItem> events;
    TSortedList<TEmailItem> emails;

    LoadTaskFile(Path("TASK.CLD"), tasks);
    LoadNotifyFile(Path("NOTIFY.CLD"), events);
    LoadEmailFile(Path("EMAIL.CLD"), emails);

    ASSERT_EQ(tasks.Count(), 1);
    const TTaskEvent& t = tasks.At(0);
    const TTaskEvent want = SampleTask();
    EXPECT_EQ(tasks.Key(0), want.Key);
    EXPECT_EQ(t.Key, want.Key);
    EXPECT_EQ(t.StartDate, want.StartDate);
    EXPECT_EQ(t.DueDay, want.DueDay);
    EXPECT_EQ(t.LastReminder, want.LastReminder);
    EXPECT_EQ(t.PreNoticeTime, want.PreNoticeTime);
    EXPECT_EQ(t.NoticeTime, want.NoticeTime);
    EXPECT_EQ(t.ReminderSent, want.ReminderSent);
    EXPECT_EQ(t.PreNoticeSent, want.PreNoticeSent);
    EXPECT_EQ(t.Reserved, want.Reserved);
    EXPECT_EQ(t.Completed, want.Completed);

    ASSERT_EQ(events.Count(), 1);
    EXPECT_EQ(events.At(0).Key, SampleEvent().Key);
    EXPECT_EQ(events.At(0).StartTime, SampleEvent().StartTime);
    EXPECT_EQ(events.At(0).ReminderTime, SampleEvent().ReminderTime);
    EXPECT_TRUE(events.At(0).Notified);

    ASSERT_EQ(emails.Count(), 1);
    EXPECT_EQ(emails.At(0).Key, QStringLiteral("Server down From:Ops"));
    EXPECT_EQ(emails.At(0).SeenTime, 45355.75);
}

TEST_F(StateFilesTest, SeveralRecordsSurviveARoundTripInKeyOrder) {
    TSortedList<TEventItem> saved;
    for (int i = 0; i < 5; ++i) {
        TEventItem e;
        e.Key = QStringLiteral("key %1 ünïcödé").arg(4 - i);
        e.StartTime = 45000 + i * 0.1;
        e.ReminderTime = 45000 + i * 0.1 - 15 * kOneMinute;
        e.Notified = i % 2 == 0;
        Add(saved, e);
    }
    SaveNotifyFile(Path("NOTIFY.CLD"), saved);

    TSortedList<TEventItem> loaded;
    LoadNotifyFile(Path("NOTIFY.CLD"), loaded);

    EXPECT_EQ(Read("NOTIFY.CLD").size(), 4 + 5 * NotifyRecordSize);
    ASSERT_EQ(loaded.Count(), saved.Count());
    for (int i = 0; i < saved.Count(); ++i) {
        EXPECT_EQ(loaded.Key(i), saved.Key(i));
        EXPECT_EQ(loaded.At(i).StartTime, saved.At(i).StartTime);
        EXPECT_EQ(loaded.At(i).ReminderTime, saved.At(i).ReminderTime);
        EXPECT_EQ(loaded.At(i).Notified, saved.At(i).Notified);
    }
}

TEST_F(StateFilesTest, EmptyListIsAFourByteFileThatLoadsNothing) {
    TSortedList<TEmailItem> empty;
    SaveEmailFile(Path("EMAIL.CLD"), empty);
    EXPECT_EQ(Read("EMAIL.CLD"), kVersion);

    TSortedList<TEmailItem> loaded;
    EXPECT_EQ(LoadError([&] { LoadEmailFile(Path("EMAIL.CLD"), loaded); }), QString());
    EXPECT_EQ(loaded.Count(), 0);
}

TEST_F(StateFilesTest, ShortAndOddFiles) {
    QByteArray twoRecords = kVersion + GoldenTask();
    QByteArray second = GoldenTask();
    second[1] = 'Z'; // another key
    twoRecords += second;
    TSortedList<TTaskEvent> tasks;

    // Missing: nothing, silently.
    EXPECT_EQ(LoadError([&] { LoadTaskFile(Path("TASK.CLD"), tasks); }), QString());
    EXPECT_EQ(tasks.Count(), 0);

    // Whole records followed by 100 stray bytes: the whole ones stay.
    Write("TASK.CLD", twoRecords + QByteArray(100, '\x7f'));
    EXPECT_EQ(LoadError([&] { LoadTaskFile(Path("TASK.CLD"), tasks); }),
              QStringLiteral("Stream read error"));
    EXPECT_EQ(tasks.Count(), 2);

    // Cut inside the first record.
    tasks.Clear();
    Write("TASK.CLD", twoRecords.left(4 + 200));
    EXPECT_EQ(LoadError([&] { LoadTaskFile(Path("TASK.CLD"), tasks); }),
              QStringLiteral("Stream read error"));
    EXPECT_EQ(tasks.Count(), 0);

    // Shorter than the version.
    Write("TASK.CLD", QByteArray("\x04\x00", 2));
    EXPECT_EQ(LoadError([&] { LoadTaskFile(Path("TASK.CLD"), tasks); }),
              QStringLiteral("Stream read error"));

    // An older version, or bytes that are no version at all: nothing, and an error.
    for (const char* version : {"\x03\x00\x00\x00", "\xef\xbe\xad\xde", "\x00\x00\x01\x00"}) {
        Write("TASK.CLD", QByteArray(version, 4) + GoldenTask());
        EXPECT_EQ(LoadError([&] { LoadTaskFile(Path("TASK.CLD"), tasks); }),
                  QStringLiteral("Stream read error"));
        EXPECT_EQ(tasks.Count(), 0);
    }

    // A newer version: nothing, and the version it has.
    Write("TASK.CLD", QByteArray("\x05\x00\x00\x00", 4) + GoldenTask());
    try {
        LoadTaskFile(Path("TASK.CLD"), tasks);
        ADD_FAILURE() << "a newer file loaded";
    } catch (const ENewerStateFile& error) {
        EXPECT_EQ(error.Version(), 5);
    }
    EXPECT_EQ(tasks.Count(), 0);

    // Cannot be opened: a folder where the file should be.
    QFile::remove(Path("TASK.CLD"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("TASK.CLD"));
    EXPECT_EQ(LoadError([&] { LoadTaskFile(Path("TASK.CLD"), tasks); }),
              QStringLiteral("Cannot open file TASK.CLD"));
}

TEST_F(StateFilesTest, KeysEqualButForCaseLoadOnceFirstWins) {
    QByteArray first = GoldenEmail();
    QByteArray later = GoldenEmail();
    later[1] = 's'; // "server down From:Ops"
    PutDouble(later, 256, 1.0);
    Write("EMAIL.CLD", kVersion + first + later);

    TSortedList<TEmailItem> emails;
    LoadEmailFile(Path("EMAIL.CLD"), emails);

    ASSERT_EQ(emails.Count(), 1);
    EXPECT_EQ(emails.Key(0), QStringLiteral("Server down From:Ops"));
    EXPECT_EQ(emails.At(0).SeenTime, 45355.75);
}

TEST_F(StateFilesTest, LongKeysAreCutAtAWholeCharacter) {
    TSortedList<TEmailItem> emails;
    Add(emails, TEmailItem{QString(300, QLatin1Char('a')), 1.0});
    Add(emails, TEmailItem{QString(200, QChar(0x00e9)), 2.0}); // two bytes each in UTF-8
    SaveEmailFile(Path("EMAIL.CLD"), emails);

    const QByteArray bytes = Read("EMAIL.CLD");
    ASSERT_EQ(bytes.size(), 4 + 2 * EmailRecordSize);
    EXPECT_EQ(static_cast<unsigned char>(bytes[4]), 255);
    EXPECT_EQ(static_cast<unsigned char>(bytes[4 + EmailRecordSize]), 254);

    TSortedList<TEmailItem> loaded;
    LoadEmailFile(Path("EMAIL.CLD"), loaded);
    ASSERT_EQ(loaded.Count(), 2);
    EXPECT_EQ(loaded.Key(0), QString(255, QLatin1Char('a')));
    EXPECT_EQ(loaded.Key(1), QString(127, QChar(0x00e9)));
}

TEST_F(StateFilesTest, SaveIsPrivateAndSkipsAnUnchangedFile) {
    TSortedList<TTaskEvent> tasks;
    Add(tasks, SampleTask());
    SaveTaskFile(Path("TASK.CLD"), tasks);
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(Path("TASK.CLD")).constData(), &before), 0);
    EXPECT_EQ(before.st_mode & 0777, 0600u);

    SaveTaskFile(Path("TASK.CLD"), tasks);
    struct stat same {};
    ::stat(QFile::encodeName(Path("TASK.CLD")).constData(), &same);
    EXPECT_EQ(same.st_ino, before.st_ino) << "an unchanged list rewrote the file";

    tasks.At(0).PreNoticeSent = true;
    SaveTaskFile(Path("TASK.CLD"), tasks);
    EXPECT_EQ(static_cast<unsigned char>(Read("TASK.CLD")[4 + 297]), 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("TASK.CLD")});
}

TEST_F(StateFilesTest, FailedSaveKeepsTheOldFile) {
    TSortedList<TTaskEvent> tasks;
    Add(tasks, SampleTask());
    SaveTaskFile(Path("TASK.CLD"), tasks);
    const QByteArray old = Read("TASK.CLD");

    // No room for the temporary file beside it.
    tasks.At(0).Completed = false;
    QString message;
    {
        const ReadOnlyFolder blocked(dir.path());
        if (!blocked.Blocks())
            GTEST_SKIP() << "the folder cannot be made read-only here";
        try {
            SaveTaskFile(Path("TASK.CLD"), tasks);
        } catch (const EStateFileError& error) {
            message = error.Message();
        }
    }
    EXPECT_EQ(message, QStringLiteral("Cannot create file TASK.CLD"));
    EXPECT_EQ(Read("TASK.CLD"), old);

    // A folder that is gone.
    EXPECT_THROW(SaveTaskFile(Path("gone/TASK.CLD"), tasks), EStateFileError);
}
