// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar files with rules that never come to a usable occurrence: reading them
// must end, and promptly, whatever the rule.

#include "platform/calendar/IcsRecords.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace rp::test {
namespace {

QByteArray RecurringTask(const QByteArray& start, const QByteArray& rule) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VTODO\r\nUID:t\r\n"
           "SUMMARY:Odd task\r\nDTSTART;VALUE=DATE:" +
           start + "\r\nRRULE:" + rule + "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
}

TEST(HostileCalendar, TaskRulesThatNeverReachANextOccurrenceAreReadPromptly) {
    const QByteArray calendars[] = {
        RecurringTask("00240305", "FREQ=HOURLY;INTERVAL=1"), // before 1902: no wall seconds
        RecurringTask("20240305", "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30"),
    };
    for (const QByteArray& text : calendars) {
        QElapsedTimer timer;
        timer.start();
        mailstore::TIcsContents contents;
        EXPECT_TRUE(mailstore::ParseIcsText(text, QStringLiteral("/tmp/odd.ics"), contents));
        EXPECT_EQ(contents.tasks.size(), 1u);
        EXPECT_LT(timer.elapsed(), 10000) << text.constData();
    }
}

} // namespace
} // namespace rp::test
