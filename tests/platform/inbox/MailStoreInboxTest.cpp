// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/platform/MailStoreTestSupport.h"

#include "platform/inbox/MaildirInbox.h"
#include "platform/inbox/MessageHeaders.h"

#include <sys/time.h>
#include <unistd.h>

using namespace rp;
using namespace rp::outlook;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

class MailStoreInboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        CopyTree(DataDir() + "/Inbox", Inbox());
        QDir().mkpath(Inbox() + "/tmp");
        // A message whose name carries no delivery time is dated by its file.
        const QByteArray handMade = QFile::encodeName(Inbox() + "/cur/fetched-by-hand:2,");
        const timeval times[2] = {{1710245000, 0}, {1710245000, 0}};
        ::utimes(handMade.constData(), times);
        store.WriteProfile("[Inbox]\nPath=" + Inbox().toUtf8() + "\n");
    }
    QString Inbox() const { return store.Path("Inbox"); }
    std::shared_ptr<MailItem> Mail(int index) { return store.Item<MailItem>(olFolderInbox, index); }

    TScopedTimeZone utc{"UTC"};
    TStoreFixture store;
};

TEST_F(MailStoreInboxTest, EncodedHeadersAreDecoded) {
    ASSERT_EQ(store.Folder(olFolderInbox)->Items()->Count(), 5);
    EXPECT_EQ(Mail(1)->Subject(), QString::fromUtf8("Server down ⚠ in München"));
    EXPECT_EQ(Mail(1)->SenderName(), QString::fromUtf8("Jörg Müller"));
    EXPECT_EQ(Mail(2)->SenderName(), "Ops Desk");
    EXPECT_EQ(Mail(4)->SenderName(), "newsletter@example.net") << "no display name: the address";
}

TEST_F(MailStoreInboxTest, FlagsPrioritiesAndDeliveryTimes) {
    EXPECT_EQ(store.Folder(olFolderInbox)->UnReadItemCount(), 3);
    const bool unread[] = {true, false, true, false, true};
    const int importance[] = {2, 2, 2, 0, 1};
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(Mail(i)->UnRead(), unread[i - 1]) << i;
        EXPECT_EQ(Mail(i)->Importance(), importance[i - 1]) << i;
    }
    EXPECT_NEAR(Mail(1)->ReceivedTime(), EncodeDateTime(2024, 3, 12, 11, 0), kSecond);
    EXPECT_NEAR(Mail(5)->ReceivedTime(), EncodeDateTime(2024, 3, 12, 12, 3, 20), kSecond);
}

TEST_F(MailStoreInboxTest, AReadFlagChangeIsSeenWithoutReadingTheMessageAgain) {
    TMaildirInbox inbox(Inbox(), 0);
    ASSERT_EQ(inbox.Contents()->unreadCount, 3);
    EXPECT_EQ(inbox.ParseCount(), 5);
    const QString unread = Inbox() + "/cur/1710241400.M103P2003.mailhost:2,";
    ASSERT_TRUE(QFile::rename(unread, unread + "S"));
    EXPECT_EQ(inbox.Contents()->unreadCount, 2);
    EXPECT_FALSE(inbox.Contents()->messages[2].unread);
    EXPECT_EQ(inbox.Contents()->messages[2].subject, "Backup failed");
    EXPECT_EQ(inbox.ParseCount(), 5);

    WriteText(Inbox() + "/new/1710249000.M200P9.mailhost", "Subject: New one\n\nHi\n");
    ASSERT_EQ(inbox.Contents()->messages.size(), 6u);
    EXPECT_EQ(inbox.ParseCount(), 6) << "only the new message is read";
}

TEST_F(MailStoreInboxTest, AMessageMovedFromNewToCurKeepsItsPlaceWithoutASecondRead) {
    TMaildirInbox inbox(Inbox(), 0);
    ASSERT_EQ(inbox.Contents()->messages.size(), 5u);
    const QString fresh = Inbox() + "/new/1710241200.M101P2001.mailhost";
    ASSERT_TRUE(QFile::rename(fresh, Inbox() + "/cur/1710241200.M101P2001.mailhost:2,S"));
    const auto contents = inbox.Contents();
    ASSERT_EQ(contents->messages.size(), 5u);
    EXPECT_EQ(contents->messages[0].subject,
              QString::fromUtf8("Server down ⚠ in München").toUtf8());
    EXPECT_FALSE(contents->messages[0].unread);
    EXPECT_EQ(contents->unreadCount, 2);
    EXPECT_EQ(inbox.ParseCount(), 5);
}

TEST_F(MailStoreInboxTest, AMessageInBothNewAndCurCountsOnceWithItsFlagsInCur) {
    const QString fresh = Inbox() + "/new/1710241200.M101P2001.mailhost";
    ASSERT_TRUE(QFile::copy(fresh, Inbox() + "/cur/1710241200.M101P2001.mailhost:2,S"));
    TMaildirInbox inbox(Inbox(), 0);
    const auto contents = inbox.Contents();
    ASSERT_EQ(contents->messages.size(), 5u);
    EXPECT_FALSE(contents->messages[0].unread);
    EXPECT_EQ(contents->unreadCount, 2);
}

TEST_F(MailStoreInboxTest, HeldTextsTakeNoMoreRoomThanTheyNeed) {
    TMaildirInbox inbox(Inbox(), 0);
    for (const TMailRecord& message : inbox.Contents()->messages) {
        EXPECT_EQ(message.subject.capacity(), message.subject.size())
            << message.subject.constData();
        EXPECT_EQ(message.senderName.capacity(), message.senderName.size())
            << message.subject.constData();
    }
}

TEST_F(MailStoreInboxTest, AHugeMessageIsReadOnlyAsFarAsItsHeader) {
    const QString huge = Inbox() + "/new/1710248000.M300P9.mailhost";
    WriteText(huge, "From: Big Sender <big@example.com>\nSubject: Scans\nImportance: high\n\n");
    ASSERT_EQ(::truncate(QFile::encodeName(huge).constData(), 50 * 1024 * 1024), 0);
    const std::optional<QByteArray> block = ReadHeaderBlock(huge);
    ASSERT_TRUE(block.has_value());
    EXPECT_LT(block->size(), 200);
    auto mail = Mail(5);
    EXPECT_EQ(mail->Subject(), "Scans");
    EXPECT_EQ(mail->Importance(), olImportanceHigh);
}

TEST_F(MailStoreInboxTest, AFolderThatIsNoMaildirIsAnErrorNamingIt) {
    QDir(Inbox()).removeRecursively();
    try {
        store.Folder(olFolderInbox)->Items();
        FAIL() << "no error";
    } catch (const EAutomationError& error) {
        EXPECT_TRUE(error.Message().contains(Inbox())) << error.what();
    }
}

TEST(MailStoreMaildirNamesTest, UniqueNamesFlagsAndTimes) {
    EXPECT_EQ(MaildirUniqueName("1.M2P3.host:2,RS"), "1.M2P3.host");
    EXPECT_EQ(MaildirUniqueName("1.M2P3.host!2,S"), "1.M2P3.host");
    EXPECT_TRUE(MaildirSeen("1.M2P3.host!2,FS"));
    EXPECT_FALSE(MaildirSeen("1.M2P3.host:2,F"));
    EXPECT_FALSE(MaildirSeen("S.M2P3.host"));
    EXPECT_FALSE(MaildirDeliveryTime("abc.host").has_value());
    EXPECT_FALSE(MaildirDeliveryTime("1710241200").has_value());
}

} // namespace
