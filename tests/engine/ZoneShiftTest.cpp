// SPDX-License-Identifier: GPL-3.0-or-later
// After a time zone change the scan meets zone-anchored meetings under keys with
// their new local start; what was announced under the old key stays announced.

#include "engine/ZoneShift.h"
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

class ZoneShiftTest : public ::testing::Test {
protected:
    void Track(const QString& rest, TDateTime start, bool notified) {
        auto record = std::make_unique<TEventItem>();
        record->Key = CutKey(LongTimeText(start) + rest);
        record->StartTime = start;
        record->ReminderTime = start - 15.0 / 1440;
        record->Notified = notified;
        const QString key = record->Key;
        list.Add(key, std::move(record));
    }

    QStringList Records() const {
        QStringList out;
        for (int i = 0; i < list.Count(); ++i)
            out << list.Key(i) + (list.At(i).Notified ? QStringLiteral(" (notified)") : QString());
        return out;
    }

    UsLocale us;
    TSortedList<TEventItem> list;
};

TEST_F(ZoneShiftTest, AnnouncedMeetingsAreAnnouncedAtTheirMovedStartToo) {
    Track(QStringLiteral("@loc:Room 4Budget review"), Mar(4, 10, 0), true);
    Track(QStringLiteral("@loc:Room 2Retro"), Mar(4, 16, 0), false);

    EXPECT_TRUE(ShadowAnnouncedMeetings(list, -3600));
    EXPECT_EQ(Records(), QStringList({"10:00:00 AM@loc:Room 4Budget review (notified)",
                                      "4:00:00 PM@loc:Room 2Retro",
                                      "9:00:00 AM@loc:Room 4Budget review (notified)"}));
    const int moved = list.Find(QStringLiteral("9:00:00 AM@loc:Room 4Budget review"));
    EXPECT_DOUBLE_EQ(list.At(moved).StartTime, Mar(4, 9, 0));
    EXPECT_DOUBLE_EQ(list.At(moved).ReminderTime, Mar(4, 8, 45));
}

TEST_F(ZoneShiftTest, OnlyTheSameMeetingAtTheMovedStartIsMarked) {
    Track(QStringLiteral("@loc:Hall Lunch talk"), Mar(4, 13, 0), true);
    Track(QStringLiteral("@loc:Hall Lunch talk"), Mar(4, 15, 0), false); // the scan met it first
    Track(QStringLiteral("@loc:Room 1Standup"), Mar(4, 9, 0), true);
    Track(QStringLiteral("@loc:Room 1Standup"), Mar(5, 11, 0), false); // tomorrow's, not this one

    EXPECT_TRUE(ShadowAnnouncedMeetings(list, 2 * 3600));
    EXPECT_EQ(Records(), QStringList({"11:00:00 AM@loc:Room 1Standup",
                                      "1:00:00 PM@loc:Hall Lunch talk (notified)",
                                      "3:00:00 PM@loc:Hall Lunch talk (notified)",
                                      "9:00:00 AM@loc:Room 1Standup (notified)"}));
    EXPECT_FALSE(ShadowAnnouncedMeetings(list, 0));
}

} // namespace
} // namespace rp::test
