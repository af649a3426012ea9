// SPDX-License-Identifier: GPL-3.0-or-later
// The data folder's lock: one holder at a time, released by the kernel when the
// holder dies, never passed on to child processes.

#include "platform/desktop/InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rp {
namespace {

using TState = TInstanceLock::TState;

QString LockPath(const QTemporaryDir& dir) {
    return dir.filePath(QLatin1String(InstanceLockFileName));
}

// flock(1) holding the folder's lock in a process of its own, as a second copy
// of the program would; -o keeps the lock out of its `sleep` child.
class TForeignHolder {
public:
    explicit TForeignHolder(const QString& lockPath) {
        process.start(QStringLiteral("flock"),
                      {QStringLiteral("-o"), lockPath, QStringLiteral("-c"),
                       QStringLiteral("echo locked; exec sleep 60")});
        locked = process.waitForReadyRead(10000) && process.readAll().startsWith("locked");
    }
    ~TForeignHolder() { Crash(); }
    void Crash() {
        process.kill(); // SIGKILL: no chance to unlock anything itself
        process.waitForFinished(5000);
    }
    bool locked = false;

private:
    QProcess process;
};

TEST(InstanceLockTest, OneHolderPerFolderUntilItLetsGo) {
    QTemporaryDir dir, otherDir;
    auto first = std::make_unique<TInstanceLock>(dir.path());
    EXPECT_EQ(first->State(), TState::Held);
    EXPECT_EQ(first->HolderPid(), ::getpid());
    EXPECT_EQ(first->Folder(), QDir(dir.path()).absolutePath());

    const TInstanceLock second(dir.path());
    EXPECT_EQ(second.State(), TState::HeldElsewhere);
    EXPECT_EQ(TInstanceLock(otherDir.path()).State(), TState::Held) << "folders are independent";
    EXPECT_EQ(first->HolderPid(), ::getpid()) << "the refused copy leaves the file alone";

    first.reset();
    EXPECT_TRUE(QFile::exists(LockPath(dir))) << "the file stays; only the lock goes";
    EXPECT_EQ(TInstanceLock(dir.path()).State(), TState::Held);
}

TEST(InstanceLockTest, AHolderThatIsKilledLeavesNoStaleLock) {
    if (QStandardPaths::findExecutable(QStringLiteral("flock")).isEmpty())
        GTEST_SKIP() << "flock(1) is not installed";
    QTemporaryDir dir;
    TForeignHolder holder(LockPath(dir));
    ASSERT_TRUE(holder.locked);
    EXPECT_EQ(TInstanceLock(dir.path()).State(), TState::HeldElsewhere);
    holder.Crash();
    EXPECT_EQ(TInstanceLock(dir.path()).State(), TState::Held);
}

TEST(InstanceLockTest, TheLockFileIsPrivateAndNotInheritedByChildren) {
    QTemporaryDir dir;
    const TInstanceLock lock(dir.path());
    ASSERT_EQ(lock.State(), TState::Held);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(LockPath(dir)).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A sendmail or password command that outlives the program must not keep the
    // folder locked.
    QProcess child;
    child.start(QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"), QStringLiteral("ls -l /proc/$$/fd")});
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_FALSE(child.readAllStandardOutput().contains(InstanceLockFileName));
}

TEST(InstanceLockTest, APlantedLinkIsNotFollowed) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QFile::link(target, LockPath(dir)));
    const TInstanceLock lock(dir.path());
    EXPECT_EQ(lock.State(), TState::Unavailable);
    EXPECT_TRUE(lock.Problem().contains(InstanceLockFileName)) << lock.Problem().toStdString();
    EXPECT_FALSE(QFile::exists(target));
}

TEST(InstanceLockTest, AReadOnlyFolderLocksThroughAnExistingFileOrReportsWhy) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    QTemporaryDir withFile, withoutFile;
    { const TInstanceLock once(withFile.path()); }
    ::chmod(QFile::encodeName(withFile.path()).constData(), 0500);
    ::chmod(QFile::encodeName(LockPath(withFile)).constData(), 0400);
    ::chmod(QFile::encodeName(withoutFile.path()).constData(), 0500);
    {
        const TInstanceLock first(withFile.path());
        EXPECT_EQ(first.State(), TState::Held);
        EXPECT_EQ(TInstanceLock(withFile.path()).State(), TState::HeldElsewhere);
        const TInstanceLock none(withoutFile.path());
        EXPECT_EQ(none.State(), TState::Unavailable);
        EXPECT_FALSE(none.Problem().isEmpty());
    }
    ::chmod(QFile::encodeName(withFile.path()).constData(), 0700);
    ::chmod(QFile::encodeName(withoutFile.path()).constData(), 0700);
}

TEST(InstanceLockTest, EachFolderHasItsOwnShowSocketBesideTheLockWhereItFits) {
    QTemporaryDir dir;
    EXPECT_EQ(ShowSocketPath(dir.path()), dir.filePath(QLatin1String(ShowSocketFileName)));
    EXPECT_EQ(ShowSocketPath(dir.path() + QStringLiteral("/.")), ShowSocketPath(dir.path()));

    // Too long for a local socket's address: a private name in the runtime folder.
    const QString deep = dir.filePath(QString(120, QLatin1Char('a')));
    const QString deeper = dir.filePath(QString(121, QLatin1Char('a')));
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    EXPECT_TRUE(ShowSocketPath(deep).startsWith(runtime + QLatin1Char('/')));
    EXPECT_LE(QFile::encodeName(ShowSocketPath(deep)).size(), 107);
    EXPECT_EQ(ShowSocketPath(deep), ShowSocketPath(deep));
    EXPECT_NE(ShowSocketPath(deep), ShowSocketPath(deeper)) << "folders must not share a socket";
}

} // namespace
} // namespace rp
