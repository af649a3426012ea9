// A laptop that sleeps through part of the day: the clock jumps by hours between
// two waits. Late reminders go out once (kept when less than 6 hours late, dropped
// when more), nothing is sent twice, and the waits go back to their usual lengths.

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

    // Jumps once, at the first wait at or after `at`; records what the first wait
    // after the jump sees.
    void JumpAt(TDateTime at, qint64 milliseconds) {
        h.wake.OnWait = [this, at, milliseconds](int wait, int) {
            if (jumpWait == 0 && h.clock.Now() >= at) {
                jumpWait = wait;
                h.clock.Advance(milliseconds);
            } else if (jumpWait != 0 && wait == jumpWait + 1) {
                afterJump = KeysAndFlags(Access::Appointments(P()));
            }
        };
    }

    static QStringList KeysAndFlags(const TSortedList<TEventItem>& list) {
        QStringList out;
        for (int i = 0; i < list.Count(); ++i)
            out << list.Key(i) + (list.At(i).Notified ? QStringLiteral(" (notified)") : QString());
        return out;
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

TEST_F(ClockJumpTest, ReminderMoreThanSixHoursLateGoesOutOnceAndIsDropped) {
    h.clock.SetNow(Mar(4, 7, 10));
    AddMeeting(QStringLiteral("Standup"), QStringLiteral("Room 1"), Mar(4, 8, 0));
    JumpAt(Mar(4, 7, 20), 9 * kHour);
    h.RunUntil(Mar(4, 19, 0));
    h.Destroy();
    h.wake.OnWait = nullptr;
    h.RunUntil(Mar(4, 19, 30)); // a restart remembers nothing that would repeat it

    EXPECT_EQ(SentSubjects(), QStringList({"8:00:00 AM@loc:Room 1Standup"}));
    EXPECT_TRUE(afterJump.isEmpty()) << afterJump.join(u'|').toStdString();
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
// went out and its meeting has long begun. The meeting must not be announced again.
// Disabled: it is announced again. A notified record is dropped two hours after its
// start (no later, or a daily meeting would find its key still taken the next
// day), and a clock set back by more than an hour puts the meeting into the scan
// window again. Needs the scan to tell an occurrence already notified from a new one.
TEST_F(ClockJumpTest, DISABLED_ClockSetBackByHoursRepeatsNothing) {
    h.clock.SetNow(Mar(4, 9, 30));
    AddMeeting(QStringLiteral("Budget review"), QStringLiteral("Room 4"), Mar(4, 10, 0));
    JumpAt(Mar(4, 13, 30), -3 * kHour);
    h.RunUntil(Mar(4, 15, 0));

    EXPECT_NE(jumpWait, 0);
    EXPECT_EQ(SentSubjects(), QStringList({"10:00:00 AM@loc:Room 4Budget review"}));
}

} // namespace
} // namespace rp::test
