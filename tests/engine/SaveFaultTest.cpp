// SPDX-License-Identifier: GPL-3.0-or-later
// Saves that fail because the disk is full or the way to the file is blocked: the
// old file stays whole, no temporary is left behind, the engine goes on, and the
// next save after the fault has gone succeeds.

#include "engine/DurableWrite.h"
#include "engine/StateFiles.h"
#include "tests/engine/NoticeFixture.h"
#include "tests/reliability/FileSizeLimit.h"
#include "tests/reliability/ReadOnlyFolder.h"

#include <QDir>
#include <optional>

namespace rp::test {
namespace {

TSortedList<TTaskEvent> TasksNamed(const QStringList& keys) {
    TSortedList<TTaskEvent> list;
    for (const QString& key : keys) {
        auto record = std::make_unique<TTaskEvent>();
        record->Key = key;
        record->DueDay = Mar(5);
        list.Add(key, std::move(record));
    }
    return list;
}

QByteArray Content(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList TemporariesOf(const QString& path) {
    QStringList found;
    for (const QString& name : QFileInfo(path).dir().entryList(QDir::AllEntries | QDir::Hidden))
        if (IsTemporaryOf(path, name))
            found << name;
    return found;
}

QString SaveError(const QString& path, const TSortedList<TTaskEvent>& list) {
    try {
        SaveTaskFile(path, list);
    } catch (const EStateFileError& error) {
        return error.Message();
    }
    return QStringLiteral("(saved)");
}

class StateFileSaveFaults : public ::testing::Test {
protected:
    void SetUp() override {
        SaveTaskFile(path, TasksNamed({QStringLiteral("Old one"), QStringLiteral("Old two")}));
        before = Content(path);
    }
    void ExpectOldFileWholeAndNoTemporary() {
        EXPECT_EQ(Content(path), before);
        EXPECT_EQ(TemporariesOf(path), QStringList());
        TSortedList<TTaskEvent> loaded;
        LoadTaskFile(path, loaded);
        EXPECT_EQ(loaded.Count(), 2);
    }
    void ExpectNextSaveSucceeds() {
        EXPECT_EQ(SaveError(path, newer), QStringLiteral("(saved)"));
        TSortedList<TTaskEvent> loaded;
        LoadTaskFile(path, loaded);
        EXPECT_EQ(loaded.Count(), newer.Count());
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("TASK.CLD"));
    QByteArray before;
    const QStringList newKeys{"New one", "New two", "New three", "New four"};
    TSortedList<TTaskEvent> newer = TasksNamed(newKeys);
};

TEST_F(StateFileSaveFaults, FullDiskFailsWithStreamWriteErrorAndKeepsTheOldFile) {
    {
        const FileSizeLimit fullAfter(4 + 2 * TaskRecordSize);
        EXPECT_EQ(SaveError(path, newer), QStringLiteral("Stream write error"));
    }
    ExpectOldFileWholeAndNoTemporary();
    ExpectNextSaveSucceeds();
}

TEST_F(StateFileSaveFaults, BlockedTemporaryFailsWithCannotCreateAndKeepsTheOldFile) {
    {
        const ReadOnlyFolder blocked(dir.path());
        if (!blocked.Blocks())
            GTEST_SKIP() << "the folder cannot be made read-only here";
        EXPECT_EQ(SaveError(path, newer), QStringLiteral("Cannot create file TASK.CLD"));
    }
    ExpectOldFileWholeAndNoTemporary();
    ExpectNextSaveSucceeds();
}

TEST_F(StateFileSaveFaults, FolderThatBecameAFileFailsWithCannotCreate) {
    const QString blocked = dir.filePath(QStringLiteral("data"));
    QFile file(blocked);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QString inside = blocked + QStringLiteral("/TASK.CLD");
    EXPECT_EQ(SaveError(inside, newer), QStringLiteral("Cannot create file TASK.CLD"));
    TSortedList<TTaskEvent> loaded;
    LoadTaskFile(inside, loaded); // a missing file loads nothing, silently
    EXPECT_EQ(loaded.Count(), 0);
}

// The engine scans a new meeting into NOTIFY.CLD while its save is blocked, and
// goes on polling; the fault is lifted at the third wait.
class EngineSaveFaults : public NoticeFixture {
protected:
    EngineSaveFaults() {
        h.clock.SetNow(Mar(4, 12, 0));
        h.outlook->AddAppointment(QStringLiteral("Budget review"), Mar(4, 16, 0));
        TSortedList<TEventItem> old;
        auto record = std::make_unique<TEventItem>();
        record->Key = QStringLiteral("9:00:00 AM@loc:Old");
        record->Notified = true;
        record->StartTime = Mar(4, 11, 30);
        const QString key = record->Key;
        old.Add(key, std::move(record));
        SaveNotifyFile(h.Path(QStringLiteral("NOTIFY.CLD")), old);
        oldNotify = h.ReadFile(QStringLiteral("NOTIFY.CLD"));
    }

    void RunWithFault(std::function<void()> lift) {
        h.wake.OnWait = [this, lift](int wait, int) {
            if (wait == 2)
                notifyDuringFault = h.ReadFile(QStringLiteral("NOTIFY.CLD"));
            if (wait == 3)
                lift();
        };
        h.RunWaits(6);
    }

    void ExpectEngineWentOnAndSavedAfterwards(const QString& error) {
        EXPECT_TRUE(h.host.StatusTexts().contains(error))
            << h.host.StatusTexts().join(u'|').toStdString();
        EXPECT_EQ(notifyDuringFault, oldNotify);
        EXPECT_TRUE(h.host.ErrorBoxes().isEmpty());
        EXPECT_EQ(h.wake.Waits().size(), 6);
        EXPECT_TRUE(h.Exists(QStringLiteral("TASK.CLD")));
        EXPECT_TRUE(h.Exists(QStringLiteral("EMAIL.CLD")));
        TSortedList<TEventItem> saved;
        LoadNotifyFile(h.Path(QStringLiteral("NOTIFY.CLD")), saved);
        EXPECT_EQ(saved.Count(), 2);
    }

    QByteArray oldNotify;
    QByteArray notifyDuringFault;
    UsLocale us;
};

TEST_F(EngineSaveFaults, FullDiskIsReportedAndTheNextSaveAfterSpaceReturnsSucceeds) {
    std::optional<FileSizeLimit> full;
    full.emplace(oldNotify.size()); // room for what is there, not for one more record
    RunWithFault([&] { full.reset(); });
    ExpectEngineWentOnAndSavedAfterwards(QStringLiteral("Stream write error"));
}

TEST_F(EngineSaveFaults, BlockedFileIsReportedAndTheNextSaveAfterItClearsSucceeds) {
    std::optional<ReadOnlyFolder> blocked;
    blocked.emplace(QFileInfo(h.Path(QStringLiteral("NOTIFY.CLD"))).absolutePath());
    if (!blocked->Blocks())
        GTEST_SKIP() << "the folder cannot be made read-only here";
    RunWithFault([&] { blocked.reset(); });
    ExpectEngineWentOnAndSavedAfterwards(QStringLiteral("Cannot create file NOTIFY.CLD"));
}

} // namespace
} // namespace rp::test
