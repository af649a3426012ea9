// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

const QString kFirst = QStringLiteral("First:");

class FirstMeetingTest : public NoticeFixture {
protected:
    // A meeting the calendar gains while the engine runs; the next scan finds it.
    void AddMeeting(const QString& subject, TDateTime start) {
        h.outlook->AddAppointment(subject, start);
    }
    // Late reminders of the meetings added on the way may go out too; these are
    // the first-meeting notices alone.
    QStringList FirstNotices() const { return SentSubjects().filter(kFirst); }
    int NoticePassesBegun() const {
        return static_cast<int>(
            h.host.StatusTexts().count(QStringLiteral("Checking for current notifications.")));
    }
    UsLocale us;
};

// Each check is made once a day: a meeting found later the same morning (or
// evening) is not announced, the next day's is.
class OneCheckADayTest : public FirstMeetingTest {
protected:
    QStringList NoticesOfTwoDays(TDateTime check, const QString& first, TDateTime firstStart,
                                 const QString& second, TDateTime secondStart) {
        h.clock.SetNow(check);
        RunNoticePasses(3, [&](int pass) {
            if (pass == 2) {
                h.clock.SetNow(check + 5 * kOneMinute);
                AddMeeting(first, firstStart);
                AddMeeting(second, secondStart);
            }
            if (pass == 3)
                h.clock.SetNow(check + 1);
        });
        return FirstNotices();
    }
};

TEST_F(OneCheckADayTest, NoCandidateStillMovesTheNextCheckToMidnight) {
    EXPECT_EQ(NoticesOfTwoDays(Mar(4, 7, 5), QStringLiteral("Today"), Mar(4, 9, 0),
                               QStringLiteral("Tomorrow"), Mar(5, 9, 0)),
              QStringList{"First:9:00:00 AM@loc:Tomorrow"});
}

TEST_F(OneCheckADayTest, NoCandidateStillMovesTheNextEveningCheckToMidnight) {
    EXPECT_EQ(NoticesOfTwoDays(Mar(4, 21, 50), QStringLiteral("Tomorrow"), Mar(5, 9, 0),
                               QStringLiteral("Day after"), Mar(6, 9, 0)),
              QStringList{"First:9:00:00 AM@loc:Day after"});
}

// Which of the day's records wins, also against one reminded the night before, is
// the rule's table test; here the winner is announced and marked.
TEST_F(FirstMeetingTest, TheEarliestReminderOfTheDayWins) {
    h.clock.SetNow(Mar(4, 7, 5));
    // The 10:00 meeting reminds at 08:00, before the 09:00 one at 08:45.
    h.SeedAppointments(
        {Event(QStringLiteral("9:00:00 AM@loc:Room 4Budget review"), Mar(4, 9, 0), Mar(4, 8, 45)),
         Event(QStringLiteral("10:00:00 AM@loc:Hall"), Mar(4, 10, 0), Mar(4, 8, 0)),
         Event(QStringLiteral("7:30:00 AM@loc:Done"), Mar(4, 7, 30), Mar(4, 7, 15), true)});
    RunNoticePasses(1);

    EXPECT_EQ(SentSubjects(), QStringList{"First:10:00:00 AM@loc:Hall"});
    EXPECT_TRUE(SavedMeetings().contains(QStringLiteral("10:00:00 AM@loc:Hall (notified)")));
}

// Loaded after a restart, before the scan meets it again, a record starting at
// midnight is taken as the all-day event it most likely is.
TEST_F(FirstMeetingTest, AnAllDayEventFromTheStateFileDoesNotStartTheDay) {
    h.clock.SetNow(Mar(4, 7, 5));
    h.SeedAppointments(
        {Event(QStringLiteral("12:00:00 AM@loc:Conference day"), Mar(4), Mar(4, 7, 30)),
         Event(QStringLiteral("9:00:00 AM@loc:Room 4Budget review"), Mar(4, 9, 0), Mar(4, 8, 45))});
    RunNoticePasses(1);

    EXPECT_EQ(SentSubjects(), QStringList{"First:9:00:00 AM@loc:Room 4Budget review"});
}

TEST_F(FirstMeetingTest, EqualRemindersGoToTheGreaterKey) {
    h.clock.SetNow(Mar(4, 7, 5));
    h.SeedAppointments({Event(QStringLiteral("a"), Mar(4, 9, 0), Mar(4, 8, 45)),
                        Event(QStringLiteral("b"), Mar(4, 9, 0), Mar(4, 8, 45))});
    RunNoticePasses(1);

    EXPECT_EQ(SentSubjects(), QStringList{"First:b"});
}

// Later the same evening the next meeting is not announced as well.
TEST_F(FirstMeetingTest, EveningAnnouncesTomorrowAndTheMorningTheRest) {
    h.clock.SetNow(Mar(4, 21, 50));
    h.SeedAppointments(
        {Event(QStringLiteral("9:00:00 AM@loc:Room 4Budget review"), Mar(5, 9, 0), Mar(5, 8, 45)),
         Event(QStringLiteral("11:00:00 AM@loc:Lab"), Mar(5, 11, 0), Mar(5, 10, 45))});
    const QList<TDateTime> passes{Mar(4, 21, 50), Mar(4, 21, 55), Mar(5, 7, 5), Mar(5, 8, 45),
                                  Mar(5, 10, 45)};
    QStringList sentThatEvening;
    RunNoticePasses(5, [&](int pass) {
        if (pass == 3)
            sentThatEvening = SentSubjects();
        h.clock.SetNow(passes[pass - 1]);
    });

    EXPECT_EQ(sentThatEvening, QStringList{"First:9:00:00 AM@loc:Room 4Budget review"});
    EXPECT_EQ(SentSubjects(), (QStringList{"First:9:00:00 AM@loc:Room 4Budget review",
                                           "First:11:00:00 AM@loc:Lab"}));
}

TEST_F(FirstMeetingTest, AFailedNoticeIsNotRetriedThatDay) {
    h.clock.SetNow(Mar(4, 7, 5));
    h.SeedAppointments({Event(QStringLiteral("m"), Mar(4, 9, 0), Mar(4, 8, 45))});
    UserMovesWhileNoticesWait();
    RunNoticePasses(2, [this](int pass) {
        if (pass == 2) {
            h.input.OnCursorRead = nullptr;
            h.clock.SetNow(Mar(4, 7, 10));
        }
    });

    EXPECT_TRUE(h.host.StatusTexts().contains(QStringLiteral("First:m")));
    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(SavedMeetings(), QStringList{"m"});
}

// The stop is withdrawn before the next pass, which finds the day's check made.
TEST_F(FirstMeetingTest, AStopPassesOverEveryCandidate) {
    h.clock.SetNow(Mar(4, 7, 5));
    h.SeedAppointments({Event(QStringLiteral("m"), Mar(4, 9, 0), Mar(4, 8, 45))});
    RunNoticePasses(2, [this](int pass) {
        if (pass == 1)
            StopAtTheNextClockRead();
        if (pass == 2) {
            h.Engine().StopRequested = false;
            h.clock.SetNow(Mar(4, 7, 10));
        }
    });

    EXPECT_EQ(NoticePassesBegun(), 3);
    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(SavedMeetings(), QStringList{"m"});
}

// The evening before, a daily 09:00 stand-up is already known as tomorrow's first
// meeting, ahead of a one-off meeting later in the day.
TEST_F(FirstMeetingTest, EveningNoticeKnowsTomorrowsDailyMeeting) {
    auto standup = h.outlook->AddAppointment(QStringLiteral("Standup"), Mar(1, 9, 0));
    standup->isRecurring = true;
    standup->pattern = h.outlook->NewPattern();
    standup->pattern->recurrenceType = outlook::olRecursDaily;
    standup->pattern->patternStartDate = Mar(1);
    standup->pattern->startTime = EncodeTime(9, 0);
    h.outlook->AddAppointment(QStringLiteral("Review"), Mar(5, 11, 0));
    h.clock.SetNow(Mar(4, 21, 50));
    RunNoticePasses(1);

    EXPECT_EQ(SentSubjects(), QStringList{"First:9:00:00 AM@loc:Standup"});
}

} // namespace
} // namespace rp::test
