// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

class FirstMeetingTest : public NoticeFixture {
protected:
    void Morning() { Access::NotifyMorningFirstMeeting(P()); }
    void Evening() { Access::NotifyEveningFirstMeeting(P()); }
};

TEST_F(FirstMeetingTest, NoCandidateStillMovesTheNextCheckToMidnight) {
    auto& p = Park(Mar(4, 7, 5));
    AddEvent(QStringLiteral("yesterday"), Mar(3, 9, 0), Mar(3, 8, 45));
    Morning();
    Evening();
    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(Access::NextMorningCheck(p), Mar(5));
    EXPECT_EQ(Access::NextEveningCheck(p), Mar(5));
}

TEST_F(FirstMeetingTest, TheEarliestReminderOfTheDayWins) {
    UsLocale us;
    Park(Mar(4, 7, 5));
    // The 10:00 meeting reminds at 08:00, before the 09:00 one at 08:45.
    AddEvent(QStringLiteral("9:00:00 AM@loc:Room 4Budget review"), Mar(4, 9, 0), Mar(4, 8, 45));
    AddEvent(QStringLiteral("10:00:00 AM@loc:Hall"), Mar(4, 10, 0), Mar(4, 8, 0));
    // Reminded last night at 23:55 for 00:10 today: not today's.
    AddEvent(QStringLiteral("12:10:00 AM@loc:Night"), Mar(4, 0, 10), Mar(3, 23, 55));
    AddEvent(QStringLiteral("7:30:00 AM@loc:Done"), Mar(4, 7, 30), Mar(4, 7, 15), true);
    Morning();
    EXPECT_EQ(SentSubjects(), QStringList{"First:10:00:00 AM@loc:Hall"});
    const int hall = Access::Appointments(P()).Find(QStringLiteral("10:00:00 AM@loc:Hall"));
    EXPECT_TRUE(Access::Appointments(P()).At(hall).Notified);
}

TEST_F(FirstMeetingTest, EqualRemindersGoToTheGreaterKey) {
    Park(Mar(4, 7, 5));
    AddEvent(QStringLiteral("a"), Mar(4, 9, 0), Mar(4, 8, 45));
    AddEvent(QStringLiteral("b"), Mar(4, 9, 0), Mar(4, 8, 45));
    Morning();
    EXPECT_EQ(SentSubjects(), QStringList{"First:b"});
}

TEST_F(FirstMeetingTest, EveningAnnouncesTomorrowAndTheMorningTheRest) {
    UsLocale us;
    Park(Mar(4, 21, 50));
    AddEvent(QStringLiteral("9:00:00 AM@loc:Room 4Budget review"), Mar(5, 9, 0), Mar(5, 8, 45));
    AddEvent(QStringLiteral("11:00:00 AM@loc:Lab"), Mar(5, 11, 0), Mar(5, 10, 45));
    Evening();
    EXPECT_EQ(Access::NextEveningCheck(P()), Mar(5));
    h.clock.SetNow(Mar(5, 7, 5));
    Morning();
    h.clock.SetNow(Mar(5, 8, 45));
    Access::HandleNotify(P());
    h.clock.SetNow(Mar(5, 10, 45));
    Access::HandleNotify(P());
    EXPECT_EQ(SentSubjects(), (QStringList{"First:9:00:00 AM@loc:Room 4Budget review",
                                           "First:11:00:00 AM@loc:Lab"}));
}

TEST_F(FirstMeetingTest, AFailedNoticeIsNotRetriedThatDay) {
    Park(Mar(4, 7, 5));
    UserMovesDuringSends();
    TEventItem& meeting = AddEvent(QStringLiteral("m"), Mar(4, 9, 0), Mar(4, 8, 45));
    Morning();
    EXPECT_FALSE(meeting.Notified);
    EXPECT_EQ(Access::NextMorningCheck(P()), Mar(5));
    EXPECT_TRUE(h.outlook->Sent().empty());
}

TEST_F(FirstMeetingTest, AStopPassesOverEveryCandidate) {
    auto& p = Park(Mar(4, 7, 5));
    AddEvent(QStringLiteral("m"), Mar(4, 9, 0), Mar(4, 8, 45));
    p.StopRequested = true;
    Morning();
    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(Access::NextMorningCheck(p), Mar(5));
}

} // namespace
} // namespace rp::test

namespace rp::test {
namespace {

// The evening before, a daily 09:00 stand-up is already known as tomorrow's first
// meeting, ahead of a one-off meeting later in the day.
TEST_F(FirstMeetingTest, EveningNoticeKnowsTomorrowsDailyMeeting) {
    UsLocale us;
    auto standup = h.outlook->AddAppointment(QStringLiteral("Standup"), Mar(1, 9, 0));
    standup->isRecurring = true;
    standup->pattern = h.outlook->NewPattern();
    standup->pattern->recurrenceType = outlook::olRecursDaily;
    standup->pattern->patternStartDate = Mar(1);
    standup->pattern->startTime = EncodeTime(9, 0);
    h.outlook->AddAppointment(QStringLiteral("Review"), Mar(5, 11, 0));
    auto& p = Park(Mar(4, 21, 50));
    Access::CheckAppointments(p);
    Evening();
    EXPECT_EQ(SentSubjects(), QStringList{"First:9:00:00 AM@loc:Standup"});
}

} // namespace
} // namespace rp::test
