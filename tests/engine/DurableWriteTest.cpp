// SPDX-License-Identifier: GPL-3.0-or-later
// The one file writer: the file is replaced whole or not at all, links planted at
// the target or at the temporary's name lead nowhere, and a failure names its step,
// its errno and the file, and leaves nothing behind.

#include "engine/DurableWrite.h"
#include "tests/reliability/FileSizeLimit.h"
#include "tests/reliability/ReadOnlyFolder.h"
#include "tests/support/ScopedUmask.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace rp::test {
namespace {

class DurableWriteTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteFileDurably(target, "old content", 0600).Ok()); }

    QByteArray Content(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    QStringList Entries() const {
        QStringList names =
            QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
        names.sort();
        return names;
    }
    static unsigned ModeOf(const QString& path) {
        struct stat info {};
        ::lstat(QFile::encodeName(path).constData(), &info);
        return info.st_mode & 07777;
    }
    static QString ReasonText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }
    void ExpectFailure(const TWriteResult& result, TWriteStep step, int error) const {
        EXPECT_FALSE(result.Ok());
        EXPECT_EQ(result.failedStep, step);
        EXPECT_EQ(result.error, error) << std::strerror(result.error);
        EXPECT_EQ(result.text,
                  QStringLiteral("Cannot write \"%1\": %2").arg(target, ReasonText(error)));
    }

    QTemporaryDir dir;
    QString target = dir.filePath(QStringLiteral("TASK.CLD"));
};

TEST_F(DurableWriteTest, ReplacesTheFileWithTheChosenModeWhateverTheUmask) {
    {
        const TScopedUmask permissive(0);
        ASSERT_TRUE(WriteFileDurably(target, "private", 0600).Ok());
        EXPECT_EQ(ModeOf(target), 0600u);
    }
    {
        const TScopedUmask strict(0077);
        ASSERT_TRUE(WriteFileDurably(target, QByteArray(70000, 'x'), 0644).Ok());
        EXPECT_EQ(ModeOf(target), 0644u);
    }
    EXPECT_EQ(Content(target), QByteArray(70000, 'x'));
    ASSERT_TRUE(WriteFileDurably(target, QByteArray(), 0600).Ok());
    EXPECT_EQ(Content(target), QByteArray());
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("TASK.CLD")});
}

TEST_F(DurableWriteTest, ALinkAtTheTargetIsReplacedAndWhatItPointsToIsLeftAlone) {
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(WriteFileDurably(elsewhere, "not yours", 0644).Ok());
    ASSERT_TRUE(QFile::remove(target));
    ASSERT_TRUE(QFile::link(elsewhere, target));

    ASSERT_TRUE(WriteFileDurably(target, "new content", 0600).Ok());
    EXPECT_FALSE(QFileInfo(target).isSymLink());
    EXPECT_EQ(Content(target), "new content");
    EXPECT_EQ(Content(elsewhere), "not yours");
}

// A name taken by a link or a file is never written through; the writer goes on
// to a free name, and gives up cleanly when it finds none.
TEST_F(DurableWriteTest, ANameThatIsTakenIsNeverWrittenThrough) {
    const QString victim = dir.filePath(QStringLiteral("victim"));
    ASSERT_TRUE(WriteFileDurably(victim, "precious", 0644).Ok());
    const QString planted = target + QStringLiteral(".Ab12Cd.tmp");
    ASSERT_TRUE(QFile::link(victim, planted));
    const QString dangling = target + QStringLiteral(".Dd00Dd.tmp");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nothing")), dangling));

    QStringList names{planted, dangling, target + QStringLiteral(".Free00.tmp")};
    ASSERT_TRUE(
        WriteFileDurably(target, "new content", 0600, [&] { return names.takeFirst(); }).Ok());
    EXPECT_EQ(Content(target), "new content");
    EXPECT_EQ(Content(victim), "precious");
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("nothing"))));

    ExpectFailure(WriteFileDurably(target, "newer", 0600, [&] { return planted; }),
                  TWriteStep::CreateTemporary, EEXIST);
    EXPECT_EQ(Content(target), "new content");
    EXPECT_EQ(Content(victim), "precious");
    EXPECT_TRUE(QFileInfo(planted).isSymLink());
}

TEST_F(DurableWriteTest, AReadOnlyFolderFailsAtTheTemporaryAndKeepsTheOldFile) {
    TWriteResult result;
    {
        const ReadOnlyFolder blocked(dir.path());
        if (!blocked.Blocks())
            GTEST_SKIP() << "the folder cannot be made read-only here";
        result = WriteFileDurably(target, "new content", 0600);
    }
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.failedStep, TWriteStep::CreateTemporary);
    EXPECT_TRUE(result.error == EACCES || result.error == EPERM) << std::strerror(result.error);
    EXPECT_TRUE(result.text.startsWith(QStringLiteral("Cannot write \"%1\": ").arg(target)));
    EXPECT_EQ(Content(target), "old content");
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("TASK.CLD")});
}

TEST_F(DurableWriteTest, AFullDiskFailsAtTheWriteAndLeavesNothingBehind) {
    TWriteResult result;
    {
        const FileSizeLimit full(4096);
        result = WriteFileDurably(target, QByteArray(10000, 'x'), 0600);
    }
    ExpectFailure(result, TWriteStep::Write, EFBIG);
    EXPECT_EQ(Content(target), "old content");
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("TASK.CLD")});
}

TEST_F(DurableWriteTest, ARenameThatFailsRemovesTheTemporary) {
    ASSERT_TRUE(QFile::remove(target));
    ASSERT_TRUE(QDir().mkpath(target + QStringLiteral("/inside")));
    ExpectFailure(WriteFileDurably(target, "new content", 0600), TWriteStep::Rename, EISDIR);
    EXPECT_EQ(Entries(), QStringList{QStringLiteral("TASK.CLD")});
    EXPECT_TRUE(QFileInfo(target).isDir());
}

TEST_F(DurableWriteTest, AMissingFolderFailsAtTheTemporary) {
    target = dir.filePath(QStringLiteral("gone/TASK.CLD"));
    ExpectFailure(WriteFileDurably(target, "new content", 0600), TWriteStep::CreateTemporary,
                  ENOENT);
}

// Only what a killed save of this very file left, and only once no save in flight
// can own it: the user's own copies and other files' temporaries stay.
TEST_F(DurableWriteTest, StaleTemporariesOfTheFileAreRemovedAndNothingElse) {
    const auto place = [this](const QString& name, int ageSecs) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        ASSERT_TRUE(file.open(QIODevice::Append));
        ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSecs),
                                     QFileDevice::FileModificationTime));
    };
    place(QStringLiteral("TASK.CLD.Ab12Cd.tmp"), 3600);
    place(QStringLiteral("TASK.CLD.Xy34Zw.tmp"), 10); // a save in flight
    place(QStringLiteral("TASK.CLD.backup"), 3600);
    place(QStringLiteral("TASK.CLD.Ab12Cd"), 3600);
    place(QStringLiteral("TASK.CLD.toolong.tmp"), 3600);
    place(QStringLiteral("EMAIL.CLD.Ab12Cd.tmp"), 3600);
    RemoveStaleTemporaries(target);
    EXPECT_EQ(Entries(),
              QStringList({"EMAIL.CLD.Ab12Cd.tmp", "TASK.CLD", "TASK.CLD.Ab12Cd",
                           "TASK.CLD.Xy34Zw.tmp", "TASK.CLD.backup", "TASK.CLD.toolong.tmp"}));
}

} // namespace
} // namespace rp::test
