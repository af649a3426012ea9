// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/SystemSeams.h"
#include "tests/engine/NoticeFixture.h"

#include <QElapsedTimer>

namespace rp::test {
namespace {

// The urgent mail check runs in the first notice pass and in every fifth after it.
class UrgentEmailTest : public NoticeFixture {
protected:
    UrgentEmailTest() { h.clock.SetNow(Mar(4, 12, 0)); }

    std::shared_ptr<MemoryMail> AddMail(const QString& subject, const QString& sender,
                                        TDateTime received, bool unread = true,
                                        int importance = outlook::olImportanceHigh) {
        auto mail = h.outlook->AddMail(subject, sender);
        mail->receivedTime = received;
        mail->unRead = unread;
        mail->importance = importance;
        return mail;
    }
    void ScanOnce() { RunNoticePasses(1); }
    void ScanTwice() { RunNoticePasses(kScanEvery + 1); }
    static TEmailItem Seen(const QString& key, TDateTime seen) { return {key, seen}; }

    static constexpr int kScanEvery = 5;
};

TEST_F(UrgentEmailTest, AnnouncesRecentUnreadHighImportanceMailOnce) {
    TraceCapture trace;
    AddMail(QStringLiteral("Server down"), QStringLiteral("Ops Desk"), Mar(3, 13, 0));
    AddMail(QStringLiteral("Old news"), QStringLiteral("Ops Desk"), Mar(3, 11, 0));
    AddMail(QStringLiteral("Lunch"), QStringLiteral("Team"), Mar(4, 11, 0), true,
            outlook::olImportanceNormal);
    AddMail(QStringLiteral("Read already"), QStringLiteral("Boss"), Mar(4, 11, 0), false);
    ScanTwice();

    EXPECT_EQ(SentSubjects(), QStringList{"Urgent Email:Server down From:Ops Desk"});
    EXPECT_EQ(Keys(h.SavedEmails()), QStringList{"Server down From:Ops Desk"});
    // Not a meeting or task notice: none of their status text or trace.
    EXPECT_FALSE(h.host.StatusTexts().contains(SentSubjects().value(0)));
    EXPECT_TRUE(trace.Lines().isEmpty());
}

TEST_F(UrgentEmailTest, PausesAfterEachUnreadMessage) {
    AddMail(QStringLiteral("a"), QStringLiteral("x"), Mar(4, 11, 0));
    AddMail(QStringLiteral("b"), QStringLiteral("x"), Mar(4, 11, 0), false);
    AddMail(QStringLiteral("c"), QStringLiteral("x"), Mar(4, 11, 0), true,
            outlook::olImportanceLow);
    qsizetype before = -1;
    RunNoticePasses(1, [&](int) { before = h.clock.Sleeps().size(); });

    ASSERT_GE(before, 0);
    EXPECT_EQ(h.clock.Sleeps().mid(before), (QList<int>{54, 54}));
}

TEST_F(UrgentEmailTest, SameSubjectAndSenderShareOneNotice) {
    AddMail(QStringLiteral("Server down"), QStringLiteral("Ops Desk"), Mar(4, 9, 0));
    AddMail(QStringLiteral("Server down"), QStringLiteral("Ops Desk"), Mar(4, 10, 0));
    ScanOnce();
    EXPECT_EQ(SentSubjects().size(), 1);
}

TEST_F(UrgentEmailTest, LongKeysAreStoredCutAndAnnouncedInFull) {
    const QString subject(300, QLatin1Char('s'));
    AddMail(subject, QStringLiteral("Ops"), Mar(4, 9, 0));
    ScanTwice();
    EXPECT_EQ(SentSubjects(), QStringList{"Urgent Email:" + subject + " From:Ops"});
    EXPECT_EQ(Keys(h.SavedEmails()), QStringList{QString(255, QLatin1Char('s'))});
}

// A key that goes down once the pass has begun ends the walk and counts as the
// user back: the next wait is the long one.
TEST_F(UrgentEmailTest, StopsWhenNothingIsUnreadOrAKeyIsDown) {
    h.SeedEmails({Seen(QStringLiteral("old"), Mar(3, 11, 59)),
                  Seen(QStringLiteral("fresh"), Mar(3, 12, 1))});
    AddMail(QStringLiteral("Read"), QStringLiteral("x"), Mar(4, 9, 0), false);
    int itemReadsInFirstScan = -1;
    bool typing = false;
    h.input.OnKeyRead = [&](int) {
        if (typing && h.host.LastStatus() == QStringLiteral("Checking for current notifications."))
            h.input.SetKeyDown(0x20);
    };
    RunNoticePasses(kScanEvery + 1, [&](int pass) {
        if (pass == 2)
            itemReadsInFirstScan = h.outlook->Calls(QStringLiteral("Items.Item"));
        if (pass == kScanEvery + 1) {
            AddMail(QStringLiteral("Urgent"), QStringLiteral("x"), Mar(4, 9, 0));
            typing = true;
        }
    });

    EXPECT_EQ(itemReadsInFirstScan, 0);
    EXPECT_EQ(Keys(h.SavedEmails()), QStringList{"fresh"});
    EXPECT_EQ(h.outlook->Calls(QStringLiteral("Items.Item")), 0);
    const QList<int> waits = h.wake.Waits();
    ASSERT_EQ(waits.size(), kScanEvery + 2);
    EXPECT_EQ(waits[kScanEvery], 15000); // before the second scan: the user was away
    EXPECT_EQ(waits.last(), 360000);
}

TEST_F(UrgentEmailTest, AFailedNoticeIsNotRetried) {
    AddMail(QStringLiteral("Server down"), QStringLiteral("Ops Desk"), Mar(4, 9, 0));
    UserMovesWhileNoticesWait();
    RunNoticePasses(kScanEvery + 1, [this](int pass) {
        if (pass == 2)
            h.input.OnCursorRead = nullptr;
    });
    EXPECT_EQ(h.outlook->CreatedItems(), 0);
    EXPECT_TRUE(h.outlook->Sent().empty());
}

// The automation error ends the cycle, which the engine reports and retries.
TEST_F(UrgentEmailTest, ANonMailItemEndsTheScanBeforePruning) {
    h.SeedEmails({Seen(QStringLiteral("old"), Mar(2, 12, 0))});
    h.outlook->Edit(
        [this] { h.outlook->inbox->items.push_back(std::make_shared<MemoryTask>(*h.outlook)); });
    h.outlook->inbox->unReadItemCount = 1;
    RunNoticePasses(1);
    h.Destroy();

    EXPECT_EQ(h.DebugLogLines().filter(QStringLiteral("ERROR:")).size(), 1);
    EXPECT_TRUE(h.host.ErrorBoxes().isEmpty());
    EXPECT_EQ(Keys(h.SavedEmails()), QStringList{"old"});
}

// Closing waits at most 501 sleeps of 5 ms for the engine. On real time, with five
// thousand unread urgent messages the scan would take minutes (a pause after each
// one); a stop ends it after the message in hand.
TEST(UrgentEmailClose, StopDuringAScanOfThousandsOfUnreadMessagesEndsWithinTheCloseBound) {
    constexpr int kCloseBoundMs = 501 * 5;
    TEngineHarness h;
    const TDateTime now = TSystemClock().Now();
    h.outlook->Edit([&] {
        for (int i = 0; i < 5000; ++i) {
            auto mail = std::make_shared<MemoryMail>(*h.outlook);
            mail->subject = QStringLiteral("Alert %1").arg(i);
            mail->senderName = QStringLiteral("Monitor");
            mail->importance = outlook::olImportanceHigh;
            mail->receivedTime = now;
            h.outlook->inbox->items.push_back(mail);
        }
        h.outlook->inbox->unReadItemCount = 5000;
    });
    TEngineDeps deps;
    deps.Clock = std::make_unique<TSystemClock>();
    auto input = std::make_unique<FakeInput>();
    FakeInput& keys = *input;
    deps.Input = std::move(input);
    deps.Wake = std::make_unique<TWakeEvent>();
    deps.Runtime = std::make_unique<TNullAutomationRuntime>();
    deps.Factory = h.outlook->Factory();
    deps.DataDir = QDir(h.dir.path());
    deps.IdlePolls = 3;
    FakeHost host;
    host.UpdateSettings([](SettingsRecord& s) {
        s.UrgentEmail = true;
        s.EarlyTime = 0;
        s.LateTime = EncodeTime(23, 59, 59);
    });
    TOutlookProcessor engine(&host, std::move(deps));

    QElapsedTimer waited;
    waited.start();
    while (!host.StatusTexts().contains(QStringLiteral("Processor Idle.")) &&
           waited.elapsed() < 10000)
        QThread::msleep(5);
    engine.WakeEvent().Set(); // a signalled wait counts as idle: the notice pass runs
    while (h.outlook->Sent().size() < 3 && waited.elapsed() < 20000)
        QThread::msleep(5);
    ASSERT_GE(h.outlook->Sent().size(), 3u) << "the urgent mail scan did not start";

    QElapsedTimer closing;
    closing.start();
    engine.Stop();
    const bool ended = engine.wait(QDeadlineTimer(kCloseBoundMs));
    const qint64 took = closing.elapsed();
    if (!ended) {
        keys.SetKeyDown(0x41); // a key held down ends the scan, so the test can end
        engine.wait();
    }
    EXPECT_TRUE(ended) << "closing took " << took << " ms";
    EXPECT_LT(h.outlook->Sent().size(), 5000u);
    EXPECT_FALSE(host.EngineRunning());
}

} // namespace
} // namespace rp::test
