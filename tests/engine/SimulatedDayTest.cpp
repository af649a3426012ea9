// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

// The whole engine, polling from Monday 06:00 to Tuesday 06:00 with the user away,
// over a calendar, a task list and an inbox with a message arriving at 15:00.
class SimulatedDayTest : public NoticeFixture {
protected:
    SimulatedDayTest() {
        h.idlePolls = 2;
        h.clock.SetNow(Mar(4, 6, 0));
        FillCalendar();
        FillTasks();
        FillInbox();
    }

    void FillCalendar() {
        auto budget = h.outlook->AddAppointment(QStringLiteral("Budget review"), Mar(4, 9, 0));
        budget->location = QStringLiteral("Room 4");
        auto standup = h.outlook->AddAppointment(QStringLiteral("Standup"), Mar(1, 10, 0));
        standup->location = QStringLiteral("Room 2");
        standup->reminderMinutesBeforeStart = 10;
        standup->isRecurring = true;
        standup->pattern = h.outlook->NewPattern();
        standup->pattern->recurrenceType = outlook::olRecursDaily;
        standup->pattern->patternStartDate = Mar(1) - 4;
        standup->pattern->startTime = EncodeTime(10, 0);
        auto dentist = h.outlook->AddAppointment(QStringLiteral("Dentist"), Mar(5, 8, 30));
        dentist->location = QStringLiteral("Clinic");
        dentist->reminderMinutesBeforeStart = 30;
    }

    void FillTasks() {
        auto report = h.outlook->AddTask(QStringLiteral("Send report"), Mar(4));
        report->reminderSet = true;
        report->reminderTime = Mar(4, 14, 0);
        h.outlook->AddTask(QStringLiteral("Book flights"), Mar(5));
    }

    void FillInbox() {
        auto down = h.outlook->AddMail(QStringLiteral("Server down"), QStringLiteral("Ops Desk"));
        down->importance = outlook::olImportanceHigh;
        down->receivedTime = Mar(4, 5, 30);
        h.outlook->AddMail(QStringLiteral("Lunch"), QStringLiteral("Team"))->receivedTime =
            Mar(4, 5, 45);
    }

    // Each run starts a fresh engine on the same store and folder.
    void RunUntil(TDateTime until) {
        h.wake.OnWait = [this](int, int) { DeliverMailArrivingAt1500(); };
        h.RunUntil(until);
        h.Destroy();
    }

    void DeliverMailArrivingAt1500() {
        if (delivered || h.clock.Now() < Mar(4, 15, 0))
            return;
        delivered = true;
        auto disk = h.outlook->AddMail(QStringLiteral("Disk full"), QStringLiteral("Monitor"));
        h.outlook->Edit([&] {
            disk->importance = outlook::olImportanceHigh;
            disk->receivedTime = Mar(4, 15, 0);
        });
    }

    const QStringList expected{
        "Book flights:3/5/24",                      // pre-notice, first idle pass after 07:00
        "First:9:00:00 AM@loc:Room 4Budget review", // morning: stands in for its reminder
        "Urgent Email:Server down From:Ops Desk",
        "10:00:00 AM@loc:Room 2Standup", // 09:48, two minutes ahead of its reminder
        "Send report:3/4/24",            // the task's own reminder at 14:00
        "Urgent Email:Disk full From:Monitor",
        "First:8:30:00 AM@loc:ClinicDentist", // evening: tomorrow's first meeting
    };
    UsLocale us;
    bool delivered = false;
};

TEST_F(SimulatedDayTest, SendsEachNoticeOnceInOrder) {
    RunUntil(Mar(5, 6, 0));
    EXPECT_EQ(SentSubjects(), expected);
    for (const SentMail& mail : h.outlook->Sent()) {
        EXPECT_EQ(mail.To, QStringLiteral("5551234567@txt.example.net"));
        EXPECT_TRUE(mail.Body.isEmpty());
    }
}

TEST_F(SimulatedDayTest, ARestartAtMiddayRepeatsNothing) {
    RunUntil(Mar(4, 13, 0));
    EXPECT_EQ(SentSubjects(), expected.mid(0, 4));
    RunUntil(Mar(5, 6, 0));
    EXPECT_EQ(SentSubjects(), expected);
}

} // namespace
} // namespace rp::test
