#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

class UrgentEmailTest : public NoticeFixture {
protected:
    std::shared_ptr<MemoryMail> AddMail(const QString& subject, const QString& sender,
                                        TDateTime received, bool unread = true,
                                        int importance = outlook::olImportanceHigh) {
        auto mail = h.outlook->AddMail(subject, sender);
        mail->receivedTime = received;
        mail->unRead = unread;
        mail->importance = importance;
        return mail;
    }
    void Scan() { Access::CheckUrgentEmail(P()); }
    void AddSeen(const QString& key, TDateTime seen) {
        auto record = std::make_unique<TEmailItem>();
        record->Key = key;
        record->SeenTime = seen;
        Access::Emails(P()).Add(key, std::move(record));
    }
};

TEST_F(UrgentEmailTest, AnnouncesRecentUnreadHighImportanceMailOnce) {
    Park(Mar(4, 12, 0));
    AddMail(QStringLiteral("Server down"), QStringLiteral("Ops Desk"), Mar(3, 13, 0));
    AddMail(QStringLiteral("Old news"), QStringLiteral("Ops Desk"), Mar(3, 11, 0));
    AddMail(QStringLiteral("Lunch"), QStringLiteral("Team"), Mar(4, 11, 0), true,
            outlook::olImportanceNormal);
    AddMail(QStringLiteral("Read already"), QStringLiteral("Boss"), Mar(4, 11, 0), false);
    Scan();
    Scan();
    EXPECT_EQ(SentSubjects(), QStringList{"Urgent Email:Server down From:Ops Desk"});
    EXPECT_EQ(Keys(Access::Emails(P())), QStringList{"Server down From:Ops Desk"});
    EXPECT_FALSE(Access::StateChanged(P()));
}

TEST_F(UrgentEmailTest, PausesAfterEachUnreadMessage) {
    Park(Mar(4, 12, 0));
    AddMail(QStringLiteral("a"), QStringLiteral("x"), Mar(4, 11, 0));
    AddMail(QStringLiteral("b"), QStringLiteral("x"), Mar(4, 11, 0), false);
    AddMail(QStringLiteral("c"), QStringLiteral("x"), Mar(4, 11, 0), true,
            outlook::olImportanceLow);
    const auto before = h.clock.Sleeps().size();
    Scan();
    EXPECT_EQ(h.clock.Sleeps().mid(before), (QList<int>{54, 54}));
}

TEST_F(UrgentEmailTest, SameSubjectAndSenderShareOneNotice) {
    Park(Mar(4, 12, 0));
    AddMail(QStringLiteral("Server down"), QStringLiteral("Ops Desk"), Mar(4, 9, 0));
    AddMail(QStringLiteral("Server down"), QStringLiteral("Ops Desk"), Mar(4, 10, 0));
    Scan();
    EXPECT_EQ(SentSubjects().size(), 1);
}

TEST_F(UrgentEmailTest, LongKeysAreStoredCutAndAnnouncedInFull) {
    Park(Mar(4, 12, 0));
    const QString subject(300, QLatin1Char('s'));
    AddMail(subject, QStringLiteral("Ops"), Mar(4, 9, 0));
    Scan();
    Scan();
    EXPECT_EQ(SentSubjects(), QStringList{"Urgent Email:" + subject + " From:Ops"});
    EXPECT_EQ(Keys(Access::Emails(P())), QStringList{QString(255, QLatin1Char('s'))});
}

TEST_F(UrgentEmailTest, StopsWhenNothingIsUnreadOrAKeyIsDown) {
    Park(Mar(4, 12, 0));
    AddSeen(QStringLiteral("old"), Mar(3, 11, 59));
    AddSeen(QStringLiteral("fresh"), Mar(3, 12, 1));
    AddMail(QStringLiteral("Read"), QStringLiteral("x"), Mar(4, 9, 0), false);
    Scan();
    EXPECT_EQ(h.outlook->Calls(QStringLiteral("Items.Item")), 0);
    EXPECT_EQ(Keys(Access::Emails(P())), QStringList{"fresh"});

    AddMail(QStringLiteral("Urgent"), QStringLiteral("x"), Mar(4, 9, 0));
    h.input.SetKeyDown(0x20);
    Access::UserIdle(P()) = true;
    Scan();
    EXPECT_EQ(h.outlook->Calls(QStringLiteral("Items.Item")), 0);
    EXPECT_FALSE(Access::UserIdle(P()));
}

TEST_F(UrgentEmailTest, AFailedNoticeIsNotRetried) {
    Park(Mar(4, 12, 0));
    AddMail(QStringLiteral("Server down"), QStringLiteral("Ops Desk"), Mar(4, 9, 0));
    UserMovesDuringSends();
    Scan();
    h.input.OnCursorRead = nullptr;
    Scan();
    EXPECT_TRUE(h.outlook->Sent().empty());
}

TEST_F(UrgentEmailTest, ANonMailItemEndsTheScanBeforePruning) {
    Park(Mar(4, 12, 0));
    AddSeen(QStringLiteral("old"), Mar(2, 12, 0));
    h.outlook->Edit(
        [this] { h.outlook->inbox->items.push_back(std::make_shared<MemoryTask>(*h.outlook)); });
    h.outlook->inbox->unReadItemCount = 1;
    EXPECT_THROW(Scan(), outlook::EAutomationError);
    EXPECT_EQ(Access::Emails(P()).Count(), 1);
}

} // namespace
} // namespace rp::test
