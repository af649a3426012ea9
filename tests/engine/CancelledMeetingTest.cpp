// SPDX-License-Identifier: GPL-3.0-or-later
// A meeting tracked up to two days ahead, then cancelled, deleted or moved in the
// calendar before its reminder: no text names the old slot, and a moved meeting is
// reminded at its new time.

#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

class CancelledMeetingTest : public NoticeFixture {
protected:
    CancelledMeetingTest() {
        h.host.UpdateSettings([](SettingsRecord& s) { s.MorningNotify = s.EveningNotify = false; });
        h.clock.SetNow(Mar(4, 8, 0));
        review = Add(QStringLiteral("Budget review"), QStringLiteral("Room 4"), Mar(4, 10, 0));
        retro = Add(QStringLiteral("Retro"), QStringLiteral("Room 2"), Mar(4, 11, 0));
        Add(QStringLiteral("Standup"), QStringLiteral("Room 1"), Mar(4, 12, 0));
    }

    std::shared_ptr<MemoryAppointment> Add(const QString& subject, const QString& location,
                                           TDateTime start) {
        auto item = h.outlook->AddAppointment(subject, start);
        item->location = location;
        return item;
    }

    // Changes the calendar once, at the first wait at or after `at`.
    void ChangeAt(TDateTime at, std::function<void()> change) {
        h.wake.OnWait = [this, at, change](int, int) {
            if (!changed && h.clock.Now() >= at) {
                changed = true;
                h.outlook->Edit(change);
            }
        };
    }

    void Remove(const std::shared_ptr<MemoryAppointment>& item) {
        auto& items = h.outlook->calendar->items;
        std::erase(items, outlook::ItemPtr(item));
    }

    std::shared_ptr<MemoryAppointment> review;
    std::shared_ptr<MemoryAppointment> retro;
    bool changed = false;
    UsLocale us;
};

TEST_F(CancelledMeetingTest, OnlyMeetingsStillInTheCalendarAtTheirTimeAreReminded) {
    ChangeAt(Mar(4, 9, 0), [this] {
        Remove(review);
        retro->start = Mar(4, 14, 0);
    });
    h.RunUntil(Mar(4, 15, 0));

    EXPECT_TRUE(changed);
    EXPECT_EQ(SentSubjects(),
              QStringList({"12:00:00 PM@loc:Room 1Standup", "2:00:00 PM@loc:Room 2Retro"}));
}

// A calendar file being replaced can look empty for a moment: that forgets nothing.
TEST_F(CancelledMeetingTest, ACalendarThatLooksEmptyForAMomentForgetsNothing) {
    std::vector<outlook::ItemPtr> saved;
    int stage = 0;
    h.wake.OnWait = [&](int, int) {
        if ((stage == 0 && h.clock.Now() >= Mar(4, 9, 0)) ||
            (stage == 1 && h.clock.Now() >= Mar(4, 9, 10))) {
            ++stage;
            h.outlook->Edit([&] { saved.swap(h.outlook->calendar->items); });
        }
    };
    h.RunUntil(Mar(4, 13, 0));

    EXPECT_EQ(stage, 2);
    EXPECT_EQ(SentSubjects().size(), 3);
}

} // namespace
} // namespace rp::test
