// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/CycleRules.h"
#include "engine/MailRules.h"
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

// EarlyTime 07:00 and LateTime 22:00, stored with some date of their own: only
// their time of day counts.
SettingsRecord DayWindow(bool morning = true, bool evening = true) {
    SettingsRecord settings;
    settings.EarlyTime = EncodeDateTime(2001, 1, 1, 7, 0);
    settings.LateTime = EncodeDateTime(1999, 6, 30, 22, 0);
    settings.MorningNotify = morning;
    settings.EveningNotify = evening;
    return settings;
}

TEST(CycleRulesTest, NoticesGoOutStrictlyInsideTheDayWindow) {
    const SettingsRecord settings = DayWindow();
    EXPECT_FALSE(InsideDayWindow(settings, Mar(4, 6, 59)));
    EXPECT_FALSE(InsideDayWindow(settings, Mar(4, 7, 0)));
    EXPECT_TRUE(InsideDayWindow(settings, Mar(4, 7, 1)));
    EXPECT_TRUE(InsideDayWindow(settings, Mar(4, 21, 59)));
    EXPECT_FALSE(InsideDayWindow(settings, Mar(4, 22, 0)));
}

TEST(CycleRulesTest, FirstMeetingNoticesAreDueInTheirQuarterHourOnceADay) {
    const SettingsRecord settings = DayWindow();
    struct Row {
        TDateTime now;
        bool morning, evening;
    } rows[] = {
        {Mar(4, 7, 0), false, false},   {Mar(4, 7, 1), true, false},
        {Mar(4, 7, 14), true, false},   {Mar(4, 7, 16), false, false},
        {Mar(4, 21, 44), false, false}, {Mar(4, 21, 46), false, true},
        {Mar(4, 21, 59), false, true},  {Mar(4, 22, 0), false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(MorningNoticeDue(settings, 0, row.now), row.morning)
            << ToQDateTime(row.now).toString().toStdString();
        EXPECT_EQ(EveningNoticeDue(settings, 0, row.now), row.evening)
            << ToQDateTime(row.now).toString().toStdString();
    }
    // Considered again only after the next check, and never with the switch off.
    EXPECT_FALSE(MorningNoticeDue(settings, Mar(5), Mar(4, 7, 5)));
    EXPECT_TRUE(MorningNoticeDue(settings, Mar(4), Mar(4, 7, 5)));
    EXPECT_FALSE(EveningNoticeDue(settings, Mar(5), Mar(4, 21, 50)));
    EXPECT_FALSE(MorningNoticeDue(DayWindow(false, true), 0, Mar(4, 7, 5)));
    EXPECT_FALSE(EveningNoticeDue(DayWindow(true, false), 0, Mar(4, 21, 50)));
}

TEST(CycleRulesTest, TheWaitIsShortOnlyWhileTheUserIsAwayInsideTheWindow) {
    const SettingsRecord settings = DayWindow();
    EXPECT_EQ(WaitMilliseconds(false, settings, Mar(4, 12, 0)), 360000);
    EXPECT_EQ(WaitMilliseconds(true, settings, Mar(4, 12, 0)), 15000);
    EXPECT_EQ(WaitMilliseconds(true, settings, Mar(4, 6, 0)), 300000);
    EXPECT_EQ(WaitMilliseconds(true, settings, Mar(4, 23, 0)), 300000);
    // At a bound itself notices do not go out, but the wait stays short.
    EXPECT_EQ(WaitMilliseconds(true, settings, Mar(4, 22, 0)), 15000);
}

TEST(CycleRulesTest, RetryPausesDoubleUpToTenMinutes) {
    const QList<int> expected{5000, 10000, 20000, 40000, 80000, 160000, 320000, 600000, 600000};
    QList<int> pauses;
    for (int errors = 1; errors <= expected.size(); ++errors)
        pauses << RetryPauseMs(errors);
    EXPECT_EQ(pauses, expected);
    EXPECT_EQ(RetryPauseMs(1000), 600000);
    EXPECT_EQ(PauseText(5000), QStringLiteral("5 seconds"));
    EXPECT_EQ(PauseText(80000), QStringLiteral("80 seconds"));
    EXPECT_EQ(PauseText(160000), QStringLiteral("3 minutes"));
    EXPECT_EQ(PauseText(600000), QStringLiteral("10 minutes"));
}

TEST(CycleRulesTest, AnyKeyWithItsHighBitSetIsHeldDown) {
    KeyStates states{};
    EXPECT_FALSE(AnyKeyHeld(states));
    states[0x14] = 0x01; // toggled (Caps Lock on), not held
    EXPECT_FALSE(AnyKeyHeld(states));
    states[0xA0] = 0x7F; // every bit but the high one
    EXPECT_FALSE(AnyKeyHeld(states));
    states[0xA0] = 0x80; // a shift key
    EXPECT_TRUE(AnyKeyHeld(states));
    states[0xA0] = 0;
    states[255] = 0x80;
    EXPECT_TRUE(AnyKeyHeld(states));
}

TEST(MailRulesTest, UrgentMailCountsForADayUnderItsSubjectAndSender) {
    const TDateTime now = Mar(5, 12, 0);
    EXPECT_TRUE(WithinUrgentSpan(Mar(4, 13, 0), now));  // 23 hours ago
    EXPECT_TRUE(WithinUrgentSpan(Mar(4, 12, 0), now));  // a day exactly
    EXPECT_FALSE(WithinUrgentSpan(Mar(4, 11, 0), now)); // 25 hours ago
    EXPECT_EQ(MessageKey(QStringLiteral("Server down"), QStringLiteral("Ops Desk")),
              QStringLiteral("Server down From:Ops Desk"));

    TEmailItem seen;
    seen.SeenTime = Mar(4, 12, 0);
    EXPECT_FALSE(EmailRecordExpired(seen, now));
    EXPECT_TRUE(EmailRecordExpired(seen, now + kOneMinute));
}

} // namespace
} // namespace rp::test
