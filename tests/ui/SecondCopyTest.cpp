// A second copy in the same data folder says so and does not start its engine.

#include "ui/SecondCopy.h"
#include "tests/ui/FormFixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace rp {
namespace {

TEST(SecondCopyTest, OnlyTheFirstCopyInAFolderStartsAndTheSecondIsToldWhy) {
    QTemporaryDir dir;
    uitest::TFakeBoxes boxes;
    const TInstanceLock first(dir.path());
    EXPECT_TRUE(MayStartInFolder(first, boxes));
    EXPECT_TRUE(boxes.calls.isEmpty());

    const TInstanceLock second(dir.path());
    EXPECT_FALSE(MayStartInFolder(second, boxes));
    ASSERT_EQ(boxes.calls.size(), 1);
    EXPECT_EQ(boxes.calls.first().kind, QStringLiteral("information"));
    EXPECT_EQ(
        boxes.calls.first().text,
        QStringLiteral("Ringpost is already running in %1.").arg(QDir(dir.path()).absolutePath()));
}

TEST(SecondCopyTest, AFolderThatCannotBeLockedStillStartsWithoutABox) {
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere"), dir.filePath(InstanceLockFileName)));
    uitest::TFakeBoxes boxes;
    const TInstanceLock lock(dir.path());
    ASSERT_EQ(lock.State(), TInstanceLock::TState::Unavailable);
    EXPECT_TRUE(MayStartInFolder(lock, boxes));
    EXPECT_TRUE(boxes.calls.isEmpty());
}

} // namespace
} // namespace rp
