// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/engine/NoticeFixture.h"

namespace rp::test {
namespace {

const QString kTo = QStringLiteral("5551234567@txt.example.net");
const QString kOther = QStringLiteral("other@pager.example.org");

class SendNewemailTest : public NoticeFixture {
protected:
    // A meeting whose reminder is due at noon.
    static TEventItem DueAtNoon(const QString& key) {
        return Event(key, Mar(4, 12, 15), Mar(4, 12, 0));
    }

    struct Tally {
        int yields = 0;
        int keyReads = 0;
        int cursorReads = 0;
        Tally operator-(const Tally& other) const {
            return {yields - other.yields, keyReads - other.keyReads,
                    cursorReads - other.cursorReads};
        }
    };
    Tally Counted() const { return {h.clock.Yields(), h.input.KeyReads(), h.input.CursorReads()}; }
};

TEST_F(SendNewemailTest, HandsTheMessageToTheMailApplication) {
    h.clock.OnSleep = [this](int) {
        h.Engine().Debugging = true;
        h.Engine().QueueMessage(kTo, QStringLiteral("Subject"), QStringLiteral("Body"));
    };
    // The send lets go of the mail application: a second message goes out too.
    h.wake.OnWait = [this](int wait, int) {
        if (wait == 1)
            h.Engine().QueueMessage(kTo, QStringLiteral("Again"), {});
    };
    h.RunWaits(2);

    ASSERT_EQ(h.outlook->Sent().size(), 2u);
    const SentMail mail = h.outlook->Sent().front();
    EXPECT_EQ(mail.To, kTo);
    EXPECT_EQ(mail.Subject, QStringLiteral("Subject"));
    EXPECT_EQ(mail.Body, QStringLiteral("Body"));
    EXPECT_EQ(h.outlook->Sent().back().Subject, QStringLiteral("Again"));
    EXPECT_TRUE(h.DebugLogLines().contains(QStringLiteral("SendNewemail to ") + kTo));
}

// DEBUG.LOG is shared when asking for help: tokens and passwords stay out of it,
// while the mail application still gets the whole address.
TEST_F(SendNewemailTest, TheLogNamesTheRecipientWithoutItsSecrets) {
    const QString gotify = QStringLiteral("gotify://push.example.org/AbCdEfSecretTok");
    const QString ntfy = QStringLiteral("ntfy-phone+tk_secret@ntfy.sh");
    h.clock.OnSleep = [&](int) {
        h.Engine().Debugging = true;
        h.Engine().QueueMessage(gotify, QStringLiteral("Subject"), {});
    };
    h.wake.OnWait = [&](int wait, int) {
        if (wait == 1)
            h.Engine().QueueMessage(ntfy, QStringLiteral("Again"), {});
    };
    h.RunWaits(2);

    ASSERT_EQ(h.outlook->Sent().size(), 2u);
    EXPECT_EQ(h.outlook->Sent().front().To, gotify);
    const QStringList log = h.DebugLogLines();
    EXPECT_TRUE(log.contains("SendNewemail to gotify://push.example.org/..."))
        << log.join('\n').toStdString();
    EXPECT_TRUE(log.contains("SendNewemail to ntfy-phone+...@ntfy.sh"));
    EXPECT_FALSE(log.join('\n').contains("Secret", Qt::CaseInsensitive));
}

// A cycle that sends a reminder against the quiet cycle after it: the difference
// is the notice's idle wait.
TEST_F(SendNewemailTest, WaitsThirtyThousandIdlePolls) {
    h.idlePolls = 30000;
    h.clock.SetNow(Mar(4, 12, 0));
    h.SeedAppointments({DueAtNoon(QStringLiteral("meeting"))});
    QList<Tally> atWait;
    RunNoticePasses(3, [&](int) { atWait << Counted(); });

    ASSERT_EQ(SentSubjects(), QStringList{"meeting"});
    const Tally notice = (atWait[1] - atWait[0]) - (atWait[2] - atWait[1]);
    EXPECT_EQ(notice.yields, 30000);
    EXPECT_EQ(notice.keyReads, 30000);
    EXPECT_EQ(notice.cursorReads, 30001); // the noted position, then one per poll
}

// The reminders go out from the greatest key down; each is tried once.
TEST_F(SendNewemailTest, UserActivityOrAStopSendsNothing) {
    h.idlePolls = 100;
    h.clock.SetNow(Mar(4, 12, 0));
    h.SeedAppointments({DueAtNoon(QStringLiteral("a stopped")),
                        DueAtNoon(QStringLiteral("b typed")),
                        DueAtNoon(QStringLiteral("c moved"))});
    int yieldsBeforeTyped = -1;
    h.input.OnCursorRead = [&](int) {
        const QString waiting = h.host.LastStatus();
        if (waiting == QStringLiteral("c moved") && h.clock.Yields() == 4)
            h.input.MoveCursor(); // during the fourth poll
        if (waiting == QStringLiteral("b typed") && yieldsBeforeTyped < 0)
            yieldsBeforeTyped = h.clock.Yields();
        if (waiting == QStringLiteral("a stopped"))
            h.Engine().StopRequested = true;
    };
    h.input.OnKeyRead = [&](int) {
        h.input.SetKeyDown(0x41, h.host.LastStatus() == QStringLiteral("b typed"));
    };
    RunNoticePasses(1);

    EXPECT_EQ(yieldsBeforeTyped, 4);
    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(h.outlook->CreatedItems(), 0);
}

TEST_F(SendNewemailTest, PendingMessageCutsTheWaitShort) {
    h.idlePolls = 1000;
    h.clock.SetNow(Mar(4, 12, 0));
    h.SeedAppointments({DueAtNoon(QStringLiteral("meeting"))});
    h.input.OnCursorRead = [this](int) {
        if (h.host.LastStatus() == QStringLiteral("meeting") && h.clock.Yields() == 2 &&
            !h.Engine().TestPending)
            h.Engine().QueueMessage(kTo, QStringLiteral("Test"), {});
    };
    RunNoticePasses(1);

    EXPECT_EQ(SentSubjects(), (QStringList{"meeting", "Test"}));
    // The queued message itself was already pending: no poll at all.
    EXPECT_EQ(h.clock.Yields(), 2);
}

TEST_F(SendNewemailTest, MailApplicationErrorIsShownAndReportedAsFailure) {
    TraceCapture trace;
    h.clock.SetNow(Mar(4, 12, 0));
    h.SeedAppointments({DueAtNoon(QStringLiteral("a")), DueAtNoon(QStringLiteral("b")),
                        DueAtNoon(QStringLiteral("c"))});
    // "c" fails at CreateItem, "b" at Send, "a" goes out.
    h.outlook->FailOn(QStringLiteral("Application.CreateItem"), 1, 1,
                      QStringLiteral("Send refused"));
    h.outlook->FailOn(QStringLiteral("MailItem.Send"), 1, 1, QStringLiteral("Send refused"));
    RunNoticePasses(1);

    const QStringList status = h.host.StatusTexts();
    for (const QString& subject : {QStringLiteral("c"), QStringLiteral("b")}) {
        const qsizetype shown = status.indexOf(subject);
        ASSERT_GE(shown, 0) << subject.toStdString();
        EXPECT_EQ(status.value(shown + 1), QStringLiteral("Send refused"));
    }
    EXPECT_EQ(h.host.ErrorBoxes(), QStringList(2, QStringLiteral("Send refused")));
    // Reported as failures: only the third is traced as sent, and it still could be.
    EXPECT_EQ(trace.Lines(), QStringList{"Event:a:Notificed"});
    EXPECT_EQ(SentSubjects(), QStringList{"a"});
}

class NoticeOperationsTest : public NoticeFixture {};

// A reminder the day before, then the recipient changes: the next morning's first
// meeting notice and a task reminder go to the new one.
TEST_F(NoticeOperationsTest, SendTheKeyToTheCurrentRecipientAndMarkTheRecord) {
    TraceCapture trace;
    const QString reminded = QStringLiteral("12:00:00@loc:Room 12Budget review");
    const QString first = QStringLiteral("09:30:00@loc:Room 12Planning");
    TTaskEvent task;
    task.Key = QStringLiteral("Send report:03/04/24");
    task.NoticeTime = Mar(4, 11, 0);
    task.DueDay = Mar(20);
    task.PreNoticeTime = Mar(19);
    h.SeedAppointments({Event(reminded, Mar(3, 12, 15), Mar(3, 12, 0)),
                        Event(first, Mar(4, 9, 30), Mar(4, 9, 15))});
    h.SeedTasks({task});
    h.clock.SetNow(Mar(3, 12, 0));
    RunNoticePasses(3, [this](int pass) {
        if (pass == 2) {
            h.host.SetRecipient(kOther);
            h.clock.SetNow(Mar(4, 7, 5));
        }
        if (pass == 3)
            h.clock.SetNow(Mar(4, 12, 0));
    });

    const auto sent = h.outlook->Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].To, kTo);
    EXPECT_EQ(sent[1].To, kOther);
    EXPECT_EQ(sent[2].To, kOther);
    EXPECT_EQ(SentSubjects(), (QStringList{reminded, "First:" + first, task.Key}));
    EXPECT_TRUE(sent[2].Body.isEmpty());
    // The marks are saved.
    EXPECT_EQ(SavedMeetings(), (QStringList{first + " (notified)", reminded + " (notified)"}));
    ASSERT_EQ(h.SavedTasks().size(), 1u);
    EXPECT_TRUE(h.SavedTasks().front().ReminderSent);
    EXPECT_TRUE(h.host.StatusTexts().contains(task.Key));
    EXPECT_EQ(trace.Lines(), (QStringList{"Event:" + reminded + ":Notificed",
                                          "Event:First:" + first + ":Notificed",
                                          "Event:" + task.Key + ":Notificed"}));
}

// The first meeting notice leaves a failed send's record unmarked, so the meeting
// still gets its regular reminder.
TEST_F(NoticeOperationsTest, AFailedSendLeavesTheFlagAndWritesNoTrace) {
    TraceCapture trace;
    h.clock.SetNow(Mar(4, 7, 5));
    h.SeedAppointments({Event(QStringLiteral("k"), Mar(4, 9, 0), Mar(4, 8, 45))});
    UserMovesWhileNoticesWait();
    RunNoticePasses(1);

    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(SavedMeetings(), QStringList{"k"});
    EXPECT_TRUE(h.host.StatusTexts().contains(QStringLiteral("First:k")));
    EXPECT_TRUE(trace.Lines().isEmpty());
}

class HandleNotifyTest : public NoticeFixture {};

TEST_F(HandleNotifyTest, RemindsFromTwoMinutesBeforeTheReminderTime) {
    h.clock.SetNow(Mar(4, 9, 0));
    const TDateTime inTwoMinutes = h.clock.Now() + 2 * kOneMinute;
    h.SeedAppointments(
        {Event(QStringLiteral("a due"), Mar(4, 9, 17), inTwoMinutes),
         Event(QStringLiteral("b early"), Mar(4, 9, 17), inTwoMinutes + 1.0 / 86400)});
    DebugFromStartUp();
    RunNoticePasses(1);

    EXPECT_EQ(SentSubjects(), QStringList{"a due"});
    EXPECT_EQ(SavedMeetings(), (QStringList{"a due (notified)", "b early"}));
    const QStringList lines = h.DebugLogLines();
    EXPECT_EQ(lines.mid(lines.indexOf(QStringLiteral("HandleNotify")), 3),
              (QStringList{"HandleNotify", "SendNewemail to " + kTo, "HandleNotify - Exit"}));
}

// Late reminders are kept as notified like the others, so a clock put back over
// them finds them announced.
TEST_F(HandleNotifyTest, LateRemindersGoOutOnceAndAreKept) {
    h.clock.SetNow(Mar(4, 16, 0));
    h.SeedAppointments({Event(QStringLiteral("seven hours late"), Mar(4, 9, 15), Mar(4, 9, 0)),
                        Event(QStringLiteral("five hours late"), Mar(4, 11, 15), Mar(4, 11, 0))});
    QStringList afterFirstPass;
    RunNoticePasses(2, [&](int pass) {
        if (pass == 2) {
            afterFirstPass = SavedMeetings();
            h.clock.SetNow(Mar(5, 13, 0));
        }
    });

    EXPECT_EQ(SentSubjects(), (QStringList{"seven hours late", "five hours late"}));
    EXPECT_EQ(afterFirstPass,
              (QStringList{"five hours late (notified)", "seven hours late (notified)"}));
    EXPECT_EQ(Keys(h.SavedAppointments()), QStringList{"five hours late"});
}

TEST_F(HandleNotifyTest, AStaleReminderOfAMeetingStillAheadIsKeptSoItIsNotSentAgain) {
    // A reminder a day and a half ahead of its meeting: seven hours late, while the
    // meeting itself is still within the scan's two days.
    h.clock.SetNow(Mar(4, 16, 0));
    h.SeedAppointments({Event(QStringLiteral("long lead"), Mar(5, 21, 0), Mar(4, 9, 0))});
    RunNoticePasses(2);

    EXPECT_EQ(SentSubjects(), QStringList{"long lead"});
    EXPECT_EQ(SavedMeetings(), QStringList{"long lead (notified)"});
}

TEST_F(HandleNotifyTest, AFailedReminderIsMarkedAndNotRetried) {
    h.clock.SetNow(Mar(4, 9, 0));
    h.SeedAppointments({Event(QStringLiteral("meeting"), Mar(4, 9, 15), Mar(4, 9, 0))});
    UserMovesWhileNoticesWait();
    RunNoticePasses(2, [this](int pass) {
        if (pass == 2)
            h.input.OnCursorRead = nullptr;
    });

    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(SavedMeetings(), QStringList{"meeting (notified)"});
}

TEST_F(HandleNotifyTest, AStopPassesOverEveryRecord) {
    h.clock.SetNow(Mar(4, 18, 0));
    h.SeedAppointments({Event(QStringLiteral("due"), Mar(4, 9, 15), Mar(4, 9, 0)),
                        Event(QStringLiteral("notified"), Mar(4, 9, 15), Mar(4, 9, 0), true)});
    RunNoticePasses(1, [this](int) { StopAtTheNextClockRead(); });

    EXPECT_TRUE(h.outlook->Sent().empty());
    EXPECT_EQ(h.host.StatusTexts().count(QStringLiteral("Checking for current notifications.")), 2)
        << "the stopped cycle did not reach its notice pass";
    // Nothing changed: the records are saved as they were.
    EXPECT_EQ(SavedMeetings(), (QStringList{"due", "notified (notified)"}));
}

// Long enough for a clock put back by a day to meet the occurrence as notified.
TEST_F(HandleNotifyTest, NotifiedRecordsLeaveADayAndTwoHoursAfterTheirStart) {
    h.clock.SetNow(Mar(5, 12, 0));
    h.SeedAppointments(
        {Event(QStringLiteral("started 26h01 ago"), Mar(4, 9, 59), Mar(4, 9, 45), true),
         Event(QStringLiteral("started 25h59 ago"), Mar(4, 10, 1), Mar(4, 9, 46), true)});
    RunNoticePasses(1);

    EXPECT_EQ(Keys(h.SavedAppointments()), QStringList{"started 25h59 ago"});
    EXPECT_TRUE(h.outlook->Sent().empty());
}

TEST_F(HandleNotifyTest, EachSentReminderIsSavedBeforeTheNextGoesOut) {
    h.clock.SetNow(Mar(4, 9, 0));
    h.SeedAppointments({Event(QStringLiteral("a"), Mar(4, 9, 15), Mar(4, 9, 0)),
                        Event(QStringLiteral("b"), Mar(4, 9, 15), Mar(4, 9, 0))});
    // "b" goes first (the walk is downward) and must be on disk when "a" is sent.
    QStringList onDisk;
    h.input.OnCursorRead = [&](int) {
        if (onDisk.isEmpty() && h.host.LastStatus() == QStringLiteral("a"))
            onDisk = SavedMeetings();
    };
    RunNoticePasses(1);

    EXPECT_EQ(SentSubjects(), (QStringList{"b", "a"}));
    EXPECT_EQ(onDisk, (QStringList{"a", "b (notified)"}));
}

} // namespace
} // namespace rp::test
