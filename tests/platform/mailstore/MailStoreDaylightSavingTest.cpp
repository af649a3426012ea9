// SPDX-License-Identifier: GPL-3.0-or-later
// Meetings on daylight-saving changeover days, written in UTC, with a TZID and in
// floating time, read through the calendar store and run through the engine: each
// reminder goes out once, at the right local time.

#include "platform/calendar/IcsSource.h"
#include "platform/mailstore/MailStoreItems.h"
#include "tests/reliability/WallClock.h"

#include <QLocale>
#include <QMap>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace rp::test {
namespace {

struct ChangeoverDay {
    const char* zone;
    QDate day;
    const char* utcNine;   // 09:00 local as UTC
    const char* otherZone; // a zone of a colleague abroad
    const char* otherNine; // 09:00 local in otherZone's wall time
    const char* name;
};

void PrintTo(const ChangeoverDay& changeover, std::ostream* out) {
    *out << changeover.name;
}

const ChangeoverDay kDays[] = {
    {"Europe/Berlin", QDate(2027, 3, 28), "20270328T070000Z", "America/New_York", "20270328T030000",
     "BerlinSpring"},
    {"Europe/Berlin", QDate(2027, 10, 31), "20271031T080000Z", "America/New_York",
     "20271031T040000", "BerlinAutumn"},
    {"America/New_York", QDate(2027, 3, 14), "20270314T130000Z", "Europe/Berlin", "20270314T140000",
     "NewYorkSpring"},
};

QByteArray Event(const QByteArray& uid, const QByteArray& start, const QByteArray& location) {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20270101T000000Z\r\nDTSTART" + start +
           "\r\nSUMMARY:Budget review\r\nLOCATION:" + location +
           "\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:x\r\nTRIGGER:-PT15M\r\n"
           "END:VALARM\r\nEND:VEVENT\r\n";
}

class MailStoreDaylightSavingTest : public ::testing::TestWithParam<ChangeoverDay> {
protected:
    MailStoreDaylightSavingTest() : zone(GetParam().zone) {
        h.idlePolls = 2;
        h.host.UpdateSettings([](SettingsRecord& s) {
            s.MeetingNotify = true;
            s.EarlyTime = EncodeTime(7, 0);
            s.LateTime = EncodeTime(22, 0);
        });
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    ~MailStoreDaylightSavingTest() override { QLocale::setDefault(saved); }
    void SetUp() override {
        if (!QTimeZone(GetParam().zone).isValid() || !QTimeZone(GetParam().otherZone).isValid())
            GTEST_SKIP() << "no time zone data";
    }

    // Reads the calendar file and hands its meetings to the engine's mail application.
    std::shared_ptr<const mailstore::TIcsContents> ReadCalendar(const QByteArray& events) {
        const QString path = files.filePath(QStringLiteral("calendar.ics"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + events +
                   "END:VCALENDAR\r\n");
        file.close();
        mailstore::TIcsSource source(path, QStringLiteral("calendar"), 0);
        const auto contents = source.Contents();
        // The store's own items, patterns with their zones and exceptions included.
        h.outlook->Edit([&] {
            for (const auto& record : contents->appointments)
                h.outlook->calendar->items.push_back(mailstore::MakeAppointment(record));
        });
        return contents;
    }

    TDateTime At(int hour, int minute) const {
        const QDate day = GetParam().day;
        return EncodeDateTime(day.year(), day.month(), day.day(), hour, minute);
    }

    LocalZone zone;
    QLocale saved;
    QTemporaryDir files;
    TEngineHarness h;
};

TEST_P(MailStoreDaylightSavingTest, NineOClockMeetingsAreRemindedOnceAtQuarterToNine) {
    const ChangeoverDay& day = GetParam();
    const auto contents = ReadCalendar(
        Event("utc", QByteArray(":") + day.utcNine, "UTC") +
        Event("tzid",
              ";TZID=" + QByteArray(day.zone) + ":" + QByteArray(day.utcNine).left(8) + "T090000",
              "Zoned") +
        Event("abroad", ";TZID=" + QByteArray(day.otherZone) + ":" + day.otherNine, "Abroad") +
        Event("floating", ":" + QByteArray(day.utcNine).left(8) + "T090000", "Floating"));
    ASSERT_EQ(contents->appointments.size(), 4u);
    for (const auto& record : contents->appointments)
        EXPECT_EQ(record->start, At(9, 0)) << record->location.toStdString();

    WallClock wall(h, QDateTime(day.day, QTime(0, 30), Qt::LocalTime));
    h.RunUntil(At(10, 0));

    QStringList subjects;
    for (const auto& send : wall.sends) {
        subjects << send.subject;
        EXPECT_GE(send.at, At(8, 43)) << send.subject.toStdString();
        EXPECT_LE(send.at, At(8, 46)) << send.subject.toStdString();
    }
    subjects.sort();
    EXPECT_EQ(
        subjects,
        QStringList({"9:00:00 AM@loc:AbroadBudget review", "9:00:00 AM@loc:FloatingBudget review",
                     "9:00:00 AM@loc:UTCBudget review", "9:00:00 AM@loc:ZonedBudget review"}));
}

// A daily meeting set up the day before the changeover, by its wall time on the
// changeover day; the reminder goes out a quarter of an hour before it.
void ExpectRemindedOnceQuarterBefore(const QList<WallClock::Send>& sends,
                                     const QMap<QString, TDateTime>& startsByLocation) {
    QStringList subjects;
    QStringList expected;
    for (const auto& send : sends) {
        subjects << send.subject;
        const QString location = send.subject.section(QStringLiteral("@loc:"), 1)
                                     .section(QStringLiteral("Budget"), 0, 0);
        const TDateTime start = startsByLocation.value(location);
        EXPECT_GE(send.at, start - 17 * kOneMinute) << send.subject.toStdString();
        EXPECT_LE(send.at, start - 14 * kOneMinute) << send.subject.toStdString();
    }
    for (auto it = startsByLocation.begin(); it != startsByLocation.end(); ++it)
        expected << LongTimeText(it.value()) + QStringLiteral("@loc:") + it.key() +
                        QStringLiteral("Budget review");
    subjects.sort();
    expected.sort();
    EXPECT_EQ(subjects.join(u'|').toStdString(), expected.join(u'|').toStdString());
}

QByteArray DailyFrom(const QByteArray& start) {
    return start + "\r\nRRULE:FREQ=DAILY";
}

TEST_P(MailStoreDaylightSavingTest, DailyMeetingsWithTzidOrFloatingKeepTheirWallTime) {
    const ChangeoverDay& day = GetParam();
    const QByteArray dayBefore = day.day.addDays(-1).toString(u"yyyyMMdd").toLatin1();
    ReadCalendar(Event("tzid",
                       DailyFrom(";TZID=" + QByteArray(day.zone) + ":" + dayBefore + "T090000"),
                       "Zoned") +
                 Event("floating", DailyFrom(":" + dayBefore + "T090000"), "Floating"));

    WallClock wall(h, QDateTime(day.day, QTime(0, 30), Qt::LocalTime));
    h.RunUntil(At(11, 0));
    ExpectRemindedOnceQuarterBefore(
        wall.sends, {{QStringLiteral("Zoned"), At(9, 0)}, {QStringLiteral("Floating"), At(9, 0)}});
}

// A daily meeting written in UTC keeps its UTC time, so its wall time moves by the
// hour on the changeover day.
TEST_P(MailStoreDaylightSavingTest, DailyMeetingInUtcMovesWithTheChangeover) {
    const ChangeoverDay& day = GetParam();
    const QDateTime utcStart = QDateTime(day.day.addDays(-1), QTime(9, 0), Qt::LocalTime).toUTC();
    ReadCalendar(Event(
        "utc", DailyFrom(":" + utcStart.toString(u"yyyyMMdd'T'HHmmss'Z'").toLatin1()), "UTC"));
    const QTime wallTime = utcStart.addDays(1).toLocalTime().time();

    WallClock wall(h, QDateTime(day.day, QTime(0, 30), Qt::LocalTime));
    h.RunUntil(At(11, 0));
    ExpectRemindedOnceQuarterBefore(
        wall.sends, {{QStringLiteral("UTC"), At(wallTime.hour(), wallTime.minute())}});
}

// An extra date of a weekly meeting written in UTC, and a daily one moved from
// the day before on ("this and following"): each reminded once on the
// changeover day, a quarter of an hour before its wall time; the moved
// meeting's old time gets nothing.
TEST_P(MailStoreDaylightSavingTest, ExtraDatesAndMovedSeriesAreRemindedAtTheirWallTime) {
    const ChangeoverDay& day = GetParam();
    const QByteArray zoned = ";TZID=" + QByteArray(day.zone) + ":";
    const auto date = [&](int days) {
        return day.day.addDays(days).toString(u"yyyyMMdd").toLatin1();
    };
    ReadCalendar(Event("extra",
                       zoned + date(-6) + "T120000\r\nRRULE:FREQ=WEEKLY\r\nRDATE:" + day.utcNine,
                       "Extra") +
                 Event("moved", DailyFrom(zoned + date(-3) + "T080000"), "Series") +
                 "BEGIN:VEVENT\r\nUID:moved\r\nDTSTAMP:20270101T000000Z\r\nRECURRENCE-ID;"
                 "RANGE=THISANDFUTURE" +
                 zoned + date(-1) + "T080000\r\nDTSTART" + zoned + date(-1) +
                 "T103000\r\nLOCATION:Moved\r\nEND:VEVENT\r\n");

    WallClock wall(h, QDateTime(day.day, QTime(0, 30), Qt::LocalTime));
    h.RunUntil(At(11, 0));
    ExpectRemindedOnceQuarterBefore(
        wall.sends, {{QStringLiteral("Extra"), At(9, 0)}, {QStringLiteral("Moved"), At(10, 30)}});
}

INSTANTIATE_TEST_SUITE_P(Changeovers, MailStoreDaylightSavingTest, ::testing::ValuesIn(kDays),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace rp::test
