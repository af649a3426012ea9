// SPDX-License-Identifier: GPL-3.0-or-later
// The computer's time zone changed while the program runs (a laptop taken on a
// flight): events written in UTC or with a TZID keep their instant and show the
// new local start; floating events keep their wall-clock time.

#include "platform/calendar/IcsSource.h"
#include "tests/platform/MailStoreTestSupport.h"
#include "tests/reliability/WallClock.h"

#include <QTemporaryDir>
#include <QTimeZone>

namespace rp::test {
namespace {

QByteArray Calendar() {
    QByteArray events;
    const QByteArray starts[] = {":20270112T150000Z", ";TZID=America/New_York:20270112T100000",
                                 ":20270112T100000"};
    const char* names[] = {"UTC", "Zoned", "Floating"};
    for (int i = 0; i < 3; ++i)
        events += QByteArray("BEGIN:VEVENT\r\nUID:") + names[i] +
                  "\r\nDTSTAMP:20270101T000000Z\r\nDTSTART" + starts[i] +
                  "\r\nSUMMARY:" + names[i] + "\r\nEND:VEVENT\r\n";
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\n" + events +
           "END:VCALENDAR\r\n";
}

QStringList LocalStarts(mailstore::TIcsSource& source) {
    QStringList out;
    for (const auto& record : source.Contents()->appointments)
        out << record->subject + QStringLiteral(" ") + LongTimeText(record->start);
    return out;
}

TEST(ZoneChangeTest, AZoneChangeReadsTheCalendarAgainIntoTheNewLocalTimes) {
    if (!QTimeZone("America/New_York").isValid() || !QTimeZone("America/Chicago").isValid())
        GTEST_SKIP() << "no time zone data";
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QTemporaryDir dir;
    mailstore::testing::WriteText(dir.filePath("calendar.ics"), Calendar());
    LocalZone newYork("America/New_York");
    mailstore::TIcsSource source(dir.filePath("calendar.ics"), "calendar", 0);
    EXPECT_EQ(LocalStarts(source),
              QStringList({"UTC 10:00:00 AM", "Zoned 10:00:00 AM", "Floating 10:00:00 AM"}));
    EXPECT_EQ(source.ParseCount(), 1) << "an unchanged zone keeps the parsed file";

    {
        LocalZone chicago("America/Chicago");
        EXPECT_EQ(LocalStarts(source),
                  QStringList({"UTC 9:00:00 AM", "Zoned 9:00:00 AM", "Floating 10:00:00 AM"}));
        EXPECT_EQ(source.ParseCount(), 2);
    }
    EXPECT_EQ(LocalStarts(source).first(), QStringLiteral("UTC 10:00:00 AM"));
    QLocale::setDefault(saved);
}

} // namespace
} // namespace rp::test
