// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/StateFiles.h"
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

const QString kTo = QStringLiteral("5551234567@txt.example.net");

class SendNewemailTest : public NoticeFixture {};

TEST_F(SendNewemailTest, HandsTheMessageToTheMailApplication) {
    auto& p = Park();
    p.Debugging = true;
    EXPECT_TRUE(Access::SendNewemail(p, kTo, QStringLiteral("Subject"), QStringLiteral("Body")));
    ASSERT_EQ(h.outlook->Sent().size(), 1u);
    const SentMail mail = h.outlook->Sent().front();
    EXPECT_EQ(mail.To, kTo);
    EXPECT_EQ(mail.Subject, QStringLiteral("Subject"));
    EXPECT_EQ(mail.Body, QStringLiteral("Body"));
    EXPECT_TRUE(Access::DebugLines(p).contains(QStringLiteral("SendNewemail to ") + kTo));
    EXPECT_TRUE(Access::SendLock(p).tryLock());
    Access::SendLock(p).unlock();
}

TEST_F(SendNewemailTest, WaitsThirtyThousandIdlePolls) {
    h.idlePolls = 30000;
    auto& p = Park();
    EXPECT_TRUE(Access::SendNewemail(p, kTo, QStringLiteral("S"), {}));
    EXPECT_EQ(h.clock.Yields(), 30000);
    EXPECT_EQ(h.input.KeyReads(), 30000);
    EXPECT_EQ(h.input.CursorReads(), 30001); // the noted position, then one per poll
}

TEST_F(SendNewemailTest, UserActivityOrAStopSendsNothing) {
    h.idlePolls = 100;
    auto& p = Park();
    h.input.OnCursorRead = [this](int read) {
        if (read == 5)
            h.input.MoveCursor();
    };
    EXPECT_FALSE(Access::SendNewemail(p, kTo, QStringLiteral("moved"), {}));
    EXPECT_EQ(h.clock.Yields(), 4);

    h.input.OnCursorRead = nullptr;
    h.input.OnKeyRead = [this](int) { h.input.SetKeyDown(0x41); };
    EXPECT_FALSE(Access::SendNewemail(p, kTo, QStringLiteral("typed"), {}));
    h.input.OnKeyRead = nullptr;
    h.input.SetKeyDown(0x41, false);

    p.StopRequested = true;
    EXPECT_FALSE(Access::SendNewemail(p, kTo, QStringLiteral("stopped"), {}));
    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(h.outlook->CreatedItems(), 0);
}

TEST_F(SendNewemailTest, PendingMessageCutsTheWaitShort) {
    h.idlePolls = 1000;
    auto& p = Park();
    h.input.OnCursorRead = [&p](int read) {
        if (read == 3)
            p.TestPending = true;
    };
    EXPECT_TRUE(Access::SendNewemail(p, kTo, QStringLiteral("S"), {}));
    EXPECT_EQ(h.clock.Yields(), 2);
    // Already pending: no poll at all.
    EXPECT_TRUE(Access::SendNewemail(p, kTo, QStringLiteral("S"), {}));
    EXPECT_EQ(h.clock.Yields(), 2);
}

TEST_F(SendNewemailTest, MailApplicationErrorIsShownAndReportedAsFailure) {
    auto& p = Park();
    for (const char* member : {"Application.CreateItem", "MailItem.Send"}) {
        h.outlook->ClearFailures();
        h.outlook->FailOn(QString::fromLatin1(member), 1, 1, QStringLiteral("Send refused"));
        EXPECT_FALSE(Access::SendNewemail(p, kTo, QStringLiteral("S"), {})) << member;
        EXPECT_EQ(h.host.LastStatus(), QStringLiteral("Send refused"));
        EXPECT_EQ(h.host.ErrorBoxes().last(), QStringLiteral("Send refused"));
        EXPECT_TRUE(Access::SendLock(p).tryLock()) << member;
        Access::SendLock(p).unlock();
    }
    EXPECT_EQ(h.host.ErrorBoxes().size(), 2);
    EXPECT_TRUE(h.outlook->Sent().empty());
}

class NoticeOperationsTest : public NoticeFixture {};

TEST_F(NoticeOperationsTest, SendTheKeyToTheCurrentRecipientAndMarkTheRecord) {
    TraceCapture trace;
    auto& p = Park();
    TEventItem& meeting = AddEvent(QStringLiteral("09:30:00@loc:Room 12Budget review"), 1, 1);
    Access::NotifyEvent(p, meeting);
    h.host.SetRecipient(QStringLiteral("other@pager.example.org"));
    Access::NotifyEventPrefixed(p, meeting, QStringLiteral("First:"));
    TTaskEvent task;
    task.Key = QStringLiteral("Send report:03/04/24");
    Access::NotifyTask(p, task);

    const auto sent = h.outlook->Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].To, kTo);
    EXPECT_EQ(sent[1].To, QStringLiteral("other@pager.example.org"));
    EXPECT_EQ(SentSubjects(), (QStringList{meeting.Key, "First:" + meeting.Key, task.Key}));
    EXPECT_TRUE(sent[2].Body.isEmpty());
    EXPECT_TRUE(meeting.Notified);
    EXPECT_TRUE(task.ReminderSent);
    EXPECT_TRUE(Access::StateChanged(p));
    EXPECT_TRUE(h.host.StatusTexts().contains(task.Key));
    EXPECT_EQ(trace.Lines(), (QStringList{"Event:" + meeting.Key + ":Notificed",
                                          "Event:First:" + meeting.Key + ":Notificed",
                                          "Event:" + task.Key + ":Notificed"}));
}

TEST_F(NoticeOperationsTest, AFailedSendLeavesTheFlagAndWritesNoTrace) {
    TraceCapture trace;
    auto& p = Park();
    UserMovesDuringSends();
    TEventItem& meeting = AddEvent(QStringLiteral("k"), 1, 1);
    Access::NotifyEvent(p, meeting);
    EXPECT_FALSE(meeting.Notified);
    EXPECT_TRUE(Access::StateChanged(p));
    EXPECT_TRUE(trace.Lines().isEmpty());
}

class HandleNotifyTest : public NoticeFixture {};

TEST_F(HandleNotifyTest, RemindsFromTwoMinutesBeforeTheReminderTime) {
    auto& p = Park(Mar(4, 9, 0));
    const TDateTime inTwoMinutes = h.clock.Now() + 2 * kOneMinute;
    AddEvent(QStringLiteral("a due"), Mar(4, 9, 17), inTwoMinutes);
    AddEvent(QStringLiteral("b early"), Mar(4, 9, 17), inTwoMinutes + 1.0 / 86400);
    p.Debugging = true;
    Access::HandleNotify(p);
    EXPECT_EQ(SentSubjects(), QStringList{"a due"});
    EXPECT_TRUE(Access::Appointments(p).At(0).Notified);
    EXPECT_FALSE(Access::Appointments(p).At(1).Notified);
    const QStringList lines = Access::DebugLines(p);
    EXPECT_EQ(lines.mid(lines.indexOf(QStringLiteral("HandleNotify"))),
              (QStringList{"HandleNotify", "SendNewemail to " + kTo, "HandleNotify - Exit"}));
}

// Late reminders are kept as notified like the others, so a clock put back over
// them finds them announced.
TEST_F(HandleNotifyTest, LateRemindersGoOutOnceAndAreKept) {
    auto& p = Park(Mar(4, 16, 0));
    AddEvent(QStringLiteral("seven hours late"), Mar(4, 9, 15), Mar(4, 9, 0));
    AddEvent(QStringLiteral("five hours late"), Mar(4, 11, 15), Mar(4, 11, 0));
    Access::HandleNotify(p);
    EXPECT_EQ(SentSubjects(), (QStringList{"seven hours late", "five hours late"}));
    ASSERT_EQ(Keys(Access::Appointments(p)), (QStringList{"five hours late", "seven hours late"}));
    EXPECT_TRUE(Access::Appointments(p).At(0).Notified);
    EXPECT_TRUE(Access::Appointments(p).At(1).Notified);

    h.clock.SetNow(Mar(5, 13, 0));
    Access::HandleNotify(p);
    EXPECT_EQ(SentSubjects().size(), 2);
    EXPECT_EQ(Keys(Access::Appointments(p)), QStringList{"five hours late"});
}

TEST_F(HandleNotifyTest, AStaleReminderOfAMeetingStillAheadIsKeptSoItIsNotSentAgain) {
    // A reminder a day and a half ahead of its meeting: seven hours late, while the
    // meeting itself is still within the scan's two days.
    auto& p = Park(Mar(4, 16, 0));
    AddEvent(QStringLiteral("long lead"), Mar(5, 21, 0), Mar(4, 9, 0));
    Access::HandleNotify(p);
    Access::HandleNotify(p);
    EXPECT_EQ(SentSubjects(), QStringList{"long lead"});
    ASSERT_EQ(Keys(Access::Appointments(p)), QStringList{"long lead"});
    EXPECT_TRUE(Access::Appointments(p).At(0).Notified);
}

TEST_F(HandleNotifyTest, AFailedReminderIsMarkedAndNotRetried) {
    auto& p = Park(Mar(4, 9, 0));
    UserMovesDuringSends();
    AddEvent(QStringLiteral("meeting"), Mar(4, 9, 15), Mar(4, 9, 0));
    Access::HandleNotify(p);
    h.input.OnCursorRead = nullptr;
    Access::HandleNotify(p);
    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_TRUE(Access::Appointments(p).At(0).Notified);
}

TEST_F(HandleNotifyTest, AStopPassesOverEveryRecord) {
    auto& p = Park(Mar(4, 18, 0));
    AddEvent(QStringLiteral("due"), Mar(4, 9, 15), Mar(4, 9, 0));
    AddEvent(QStringLiteral("notified"), Mar(4, 9, 15), Mar(4, 9, 0), true);
    p.StopRequested = true;
    Access::HandleNotify(p);
    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(Access::Appointments(p).Count(), 2);
    EXPECT_FALSE(Access::StateChanged(p));
}

// Long enough for a clock put back by a day to meet the occurrence as notified.
TEST_F(HandleNotifyTest, NotifiedRecordsLeaveADayAndTwoHoursAfterTheirStart) {
    auto& p = Park(Mar(5, 12, 0));
    AddEvent(QStringLiteral("started 26h01 ago"), Mar(4, 9, 59), Mar(4, 9, 45), true);
    AddEvent(QStringLiteral("started 25h59 ago"), Mar(4, 10, 1), Mar(4, 9, 46), true);
    Access::HandleNotify(p);
    EXPECT_EQ(Keys(Access::Appointments(p)), QStringList{"started 25h59 ago"});
    EXPECT_TRUE(h.outlook->Sent().empty());
}

TEST_F(HandleNotifyTest, EachSentReminderIsSavedBeforeTheNextGoesOut) {
    auto& p = Park(Mar(4, 9, 0));
    AddEvent(QStringLiteral("a"), Mar(4, 9, 15), Mar(4, 9, 0));
    AddEvent(QStringLiteral("b"), Mar(4, 9, 15), Mar(4, 9, 0));
    // "b" goes first (the walk is downward) and must be on disk when "a" is sent.
    TSortedList<TEventItem> onDisk;
    h.input.OnCursorRead = [&](int read) {
        if (read == 1 + h.idlePolls + 1) // the second send notes the cursor
            LoadNotifyFile(h.Path(QStringLiteral("NOTIFY.CLD")), onDisk);
    };
    Access::HandleNotify(p);
    ASSERT_EQ(onDisk.Count(), 2);
    EXPECT_FALSE(onDisk.At(0).Notified);
    EXPECT_TRUE(onDisk.At(1).Notified);
}

} // namespace
} // namespace rp::test
