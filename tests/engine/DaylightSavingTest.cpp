// SPDX-License-Identifier: GPL-3.0-or-later
// Daylight-saving changeover days, with the process in the user's time zone and a
// clock that shows the local wall time of a steadily running UTC timeline, as the
// system clock does: a meeting's reminder goes out at the right local time, once.

#include "tests/engine/NoticeFixture.h"
#include "tests/reliability/WallClock.h"

#include <QTimeZone>

namespace rp::test {
namespace {

struct Changeover {
    const char* zone;
    QDate day;
    const char* name;
};

void PrintTo(const Changeover& changeover, std::ostream* out) {
    *out << changeover.name;
}

const Changeover kChangeovers[] = {
    {"Europe/Berlin", QDate(2027, 3, 28), "BerlinSpring"},
    {"Europe/Berlin", QDate(2027, 10, 31), "BerlinAutumn"},
    {"America/New_York", QDate(2027, 3, 14), "NewYorkSpring"},
};

QDateTime Local(QDate day, int hour, int minute) {
    return QDateTime(day, QTime(hour, minute), Qt::LocalTime);
}

class DaylightSavingTest : public NoticeFixture, public ::testing::WithParamInterface<Changeover> {
protected:
    DaylightSavingTest() : zone(GetParam().zone), day(GetParam().day) {
        h.host.UpdateSettings([](SettingsRecord& s) { s.MorningNotify = s.EveningNotify = false; });
    }
    void SetUp() override {
        if (!QTimeZone(GetParam().zone).isValid())
            GTEST_SKIP() << "no time zone data for " << GetParam().zone;
    }
    void DayWindow(TDateTime early, TDateTime late) {
        h.host.UpdateSettings([=](SettingsRecord& s) {
            s.EarlyTime = early;
            s.LateTime = late;
        });
    }
    void AddMeeting(TDateTime start, int reminderMinutes = 15) {
        auto meeting = h.outlook->AddAppointment(QStringLiteral("Budget review"), start);
        meeting->location = QStringLiteral("Room 4");
        meeting->reminderMinutesBeforeStart = reminderMinutes;
    }
    TDateTime At(int hour, int minute) const {
        return EncodeDateTime(day.year(), day.month(), day.day(), hour, minute);
    }

    LocalZone zone;
    QDate day;
    UsLocale us;
};

TEST_P(DaylightSavingTest, ConversionsKeepTheWallTimeOfEveryQuarterHour) {
    const QDateTime from = Local(day.addDays(-1), 12, 0).toUTC();
    TDateTime previous = FromQDateTime(from);
    int backSteps = 0;
    for (QDateTime utc = from; utc < from.addDays(2); utc = utc.addSecs(15 * 60)) {
        const QDateTime local = utc.toLocalTime();
        const TDateTime days = FromQDateTime(utc);
        EXPECT_EQ(ToQDateTime(days).date(), local.date());
        EXPECT_EQ(ToQDateTime(days).time(), local.time())
            << utc.toString(Qt::ISODate).toStdString();
        backSteps += days < previous ? 1 : 0;
        previous = days;
    }
    EXPECT_EQ(backSteps, GetParam().day.month() == 10 ? 1 : 0); // the repeated hour
    EXPECT_EQ(FromQDateTime(Local(day, 9, 0)), At(9, 0));
    EXPECT_EQ(LongTimeText(At(9, 0)), QStringLiteral("9:00:00 AM"));
}

TEST_P(DaylightSavingTest, MorningMeetingIsRemindedOnceAtTheRightLocalTime) {
    AddMeeting(FromQDateTime(Local(day, 9, 0)));
    WallClock wall(h, Local(day, 0, 30));
    h.RunUntil(At(10, 0));

    ASSERT_EQ(wall.sends.size(), 1);
    EXPECT_EQ(wall.sends[0].subject, QStringLiteral("9:00:00 AM@loc:Room 4Budget review"));
    EXPECT_GE(wall.sends[0].at, At(8, 43));
    EXPECT_LE(wall.sends[0].at, At(8, 46));
}

// With a day window around the clock: a reminder that falls into the skipped hour
// goes out as the clock leaves it; one in the repeated hour goes out only once.
TEST_P(DaylightSavingTest, ReminderInTheChangeoverHourGoesOutOnce) {
    DayWindow(EncodeTime(0, 1), EncodeTime(23, 59));
    const bool autumn = day.month() == 10;
    AddMeeting(autumn ? At(2, 45) : At(3, 10));
    WallClock wall(h, Local(day, 0, 30));
    h.RunUntil(At(6, 0));

    ASSERT_EQ(wall.sends.size(), 1);
    EXPECT_EQ(wall.sends[0].subject, autumn ? QStringLiteral("2:45:00 AM@loc:Room 4Budget review")
                                            : QStringLiteral("3:10:00 AM@loc:Room 4Budget review"));
    EXPECT_GE(wall.sends[0].at, autumn ? At(2, 28) : At(3, 0));
    EXPECT_LE(wall.sends[0].at, autumn ? At(2, 31) : At(3, 1));
}

INSTANTIATE_TEST_SUITE_P(Changeovers, DaylightSavingTest, ::testing::ValuesIn(kChangeovers),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace rp::test
