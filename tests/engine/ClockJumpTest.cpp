// SPDX-License-Identifier: GPL-3.0-or-later
// A laptop that sleeps through part of the day, a clock put right, a time zone
// changed: the clock jumps by hours between two waits. Late reminders go out once,
// nothing is sent twice, and the waits go back to their usual lengths.

#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

class ClockJumpTest : public NoticeFixture {
protected:
    ClockJumpTest() {
        h.host.UpdateSettings([](SettingsRecord& s) { s.MorningNotify = false; });
    }

    void AddMeeting(const QString& subject, const QString& location, TDateTime start) {
        h.outlook->AddAppointment(subject, start)->location = location;
    }

    // Jumps once, at the first wait at or after `at`; records what the state file
    // holds at the first wait after the jump.
    void JumpAt(TDateTime at, qint64 milliseconds) {
        h.wake.OnWait = [this, at, milliseconds](int wait, int) {
            if (jumpWait == 0 && h.clock.Now() >= at) {
                jumpWait = wait;
                h.clock.Advance(milliseconds);
            } else if (jumpWait != 0 && wait == jumpWait + 1) {
                afterJump = SavedMeetings();
            }
        };
    }

    QList<int> WaitsAfterJump() const { return h.wake.Waits().mid(jumpWait); }

    static constexpr qint64 kHour = 3600 * 1000;
    int jumpWait = 0;
    QStringList afterJump;
    UsLocale us;
};

TEST_F(ClockJumpTest, RemindersLessThanSixHoursLateGoOutOnceAndAreKept) {
    h.clock.SetNow(Mar(4, 8, 0));
    AddMeeting(QStringLiteral("Budget review"), QStringLiteral("Room 4"), Mar(4, 10, 0));
    AddMeeting(QStringLiteral("Lunch talk"), QStringLiteral("Hall"), Mar(4, 13, 0));
    AddMeeting(QStringLiteral("Retro"), QStringLiteral("Room 2"), Mar(4, 18, 0));
    JumpAt(Mar(4, 9, 0), 5 * kHour);
    h.RunUntil(Mar(4, 19, 0));

    // Both late ones in the first pass after the jump, from the end of the sorted list.
    EXPECT_EQ(SentSubjects(),
              QStringList({"1:00:00 PM@loc:HallLunch talk", "10:00:00 AM@loc:Room 4Budget review",
                           "6:00:00 PM@loc:Room 2Retro"}));
    EXPECT_EQ(afterJump, QStringList({"10:00:00 AM@loc:Room 4Budget review (notified)",
                                      "1:00:00 PM@loc:HallLunch talk (notified)",
                                      "6:00:00 PM@loc:Room 2Retro"}));
    EXPECT_TRUE(h.host.ErrorBoxes().isEmpty());
}

TEST_F(ClockJumpTest, ReminderMoreThanSixHoursLateGoesOutOnceAndIsKeptNotified) {
    h.clock.SetNow(Mar(4, 7, 10));
    AddMeeting(QStringLiteral("Standup"), QStringLiteral("Room 1"), Mar(4, 8, 0));
    JumpAt(Mar(4, 7, 20), 9 * kHour);
    h.RunUntil(Mar(4, 19, 0));
    h.Destroy();
    h.wake.OnWait = nullptr;
    h.RunUntil(Mar(4, 19, 30)); // a restart remembers it

    EXPECT_EQ(SentSubjects(), QStringList({"8:00:00 AM@loc:Room 1Standup"}));
    // Kept as notified, so a clock put back into the meeting finds it announced.
    EXPECT_EQ(afterJump, QStringList({"8:00:00 AM@loc:Room 1Standup (notified)"}));
}

TEST_F(ClockJumpTest, WaitsResumeTheirUsualLengthsAfterTheJump) {
    h.clock.SetNow(Mar(4, 9, 0));
    AddMeeting(QStringLiteral("Budget review"), QStringLiteral("Room 4"), Mar(4, 16, 0));
    JumpAt(Mar(4, 9, 30), 4 * kHour);
    h.RunUntil(Mar(4, 14, 0));

    const QList<int> after = WaitsAfterJump();
    ASSERT_GT(after.size(), 100);
    EXPECT_EQ(after.count(15000), after.size()); // the user is still away, inside the day
    EXPECT_TRUE(SentSubjects().isEmpty());
}

// Flying west, or a clock put right: local time goes back by hours after a reminder
// went out and its meeting has long begun. The meeting is not announced again.
TEST_F(ClockJumpTest, ClockSetBackByHoursRepeatsNothing) {
    h.clock.SetNow(Mar(4, 9, 30));
    AddMeeting(QStringLiteral("Budget review"), QStringLiteral("Room 4"), Mar(4, 10, 0));
    JumpAt(Mar(4, 13, 30), -3 * kHour);
    h.RunUntil(Mar(4, 15, 0));

    EXPECT_NE(jumpWait, 0);
    EXPECT_EQ(SentSubjects(), QStringList({"10:00:00 AM@loc:Room 4Budget review"}));
}

// A daily meeting shares one key from day to day: each day's occurrence takes the
// record over from the day before, and a clock put back by a whole day of
// correction still finds the occurrence it announced.
TEST_F(ClockJumpTest, DailyMeetingIsRemindedEachDayAndOnceAfterADayPutBack) {
    // Only the meeting reminders count here; the evening notice would announce the
    // next day's stand-up as well.
    h.host.UpdateSettings([](SettingsRecord& s) { s.EveningNotify = false; });
    h.clock.SetNow(Mar(4, 6, 0));
    auto standup = h.outlook->AddAppointment(QStringLiteral("Standup"), Mar(1, 10, 0));
    standup->location = QStringLiteral("Room 2");
    standup->isRecurring = true;
    standup->pattern = h.outlook->NewPattern();
    standup->pattern->recurrenceType = outlook::olRecursDaily;
    standup->pattern->patternStartDate = Mar(1);
    standup->pattern->startTime = EncodeTime(10, 0);
    JumpAt(Mar(5, 11, 0), -24 * kHour);
    h.RunUntil(Mar(6, 12, 0));

    EXPECT_NE(jumpWait, 0);
    // Mar 4, Mar 5 and Mar 6; the day lived again after the put-back adds nothing.
    EXPECT_EQ(SentSubjects(), QStringList(3, QStringLiteral("10:00:00 AM@loc:Room 2Standup")));
}

// A time zone change of a few hours moves local time like a clock set, for
// meetings whose wall-clock time stays (written without a zone): a flight east
// skips ahead (late reminders go out once), the flight back west puts the clock
// back over reminders already sent, which are not sent again.
TEST_F(ClockJumpTest, TimeZoneChangesThereAndBackRepeatNothing) {
    h.clock.SetNow(Mar(4, 8, 0));
    AddMeeting(QStringLiteral("Budget review"), QStringLiteral("Room 4"), Mar(4, 10, 0));
    AddMeeting(QStringLiteral("Lunch talk"), QStringLiteral("Hall"), Mar(4, 13, 0));
    AddMeeting(QStringLiteral("Retro"), QStringLiteral("Room 2"), Mar(4, 18, 0));
    int stage = 0;
    h.wake.OnWait = [&](int, int) {
        if (stage == 0 && h.clock.Now() >= Mar(4, 9, 0)) {
            stage = 1;
            h.clock.Advance(6 * kHour); // east: 09:00 becomes 15:00
        } else if (stage == 1 && h.clock.Now() >= Mar(4, 16, 0)) {
            stage = 2;
            h.clock.Advance(-6 * kHour); // back west: 16:00 becomes 10:00
        }
    };
    h.RunUntil(Mar(4, 19, 0));

    EXPECT_EQ(stage, 2);
    EXPECT_EQ(SentSubjects(),
              QStringList({"1:00:00 PM@loc:HallLunch talk", "10:00:00 AM@loc:Room 4Budget review",
                           "6:00:00 PM@loc:Room 2Retro"}));
}

// A meeting written in UTC (or with a TZID) keeps its instant when the computer's
// zone changes, so its local start, and with it its key, moves by the change in
// offset. Announced once before the flight, it is not announced again after it;
// one that was not yet announced still is, at its new local start.
TEST_F(ClockJumpTest, ZoneChangeMovesZoneAnchoredMeetingsWithoutRepeatingThem) {
    h.clock.SetNow(Mar(4, 9, 0));
    auto review = h.outlook->AddAppointment(QStringLiteral("Budget review"), Mar(4, 10, 0));
    review->location = QStringLiteral("Room 4");
    auto retro = h.outlook->AddAppointment(QStringLiteral("Retro"), Mar(4, 12, 0));
    retro->location = QStringLiteral("Room 2");
    bool flown = false;
    h.wake.OnWait = [&](int, int) {
        if (flown || h.outlook->Sent().empty())
            return;
        flown = true; // New York to Chicago: an hour back
        h.clock.ChangeZone(-3600);
        h.outlook->Edit([&] {
            review->start -= kOneHour;
            retro->start -= kOneHour;
        });
    };
    h.RunUntil(Mar(4, 13, 0));

    EXPECT_TRUE(flown);
    EXPECT_EQ(SentSubjects(),
              QStringList({"10:00:00 AM@loc:Room 4Budget review", "11:00:00 AM@loc:Room 2Retro"}));
}

} // namespace
} // namespace rp::test
