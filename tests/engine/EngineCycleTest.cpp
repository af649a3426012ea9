// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/CycleRules.h"
#include "engine/SystemSeams.h"
#include "tests/engine/ScanFixture.h"
#include "tests/support/EngineHarness.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace rp;
using namespace rp::test;
using outlook::EAutomationError;

namespace {

constexpr int kActive = 360000;
constexpr int kOutside = 300000;
constexpr int kIdle = 15000;
const QString kChecking = QStringLiteral("Checking for current notifications.");
const QList<int> kRetryPauses = {5000,   10000,  20000,  40000,  80000,
                                 160000, 320000, 600000, 600000, 600000};

// A working day from 06:00 to 18:00; times with exact binary fractions so that a
// clock set to the boundary equals it.
SettingsRecord Day(TDateTime early = 0.25, TDateTime late = 0.75) {
    SettingsRecord s;
    s.EarlyTime = EncodeDate(2020, 1, 1) + early; // the date part must not count
    s.LateTime = late;
    return s;
}

// The day 2024-03-04 at a time given as a fraction of the day.
TDateTime At(double timeOfDay) {
    return EncodeDate(2024, 3, 4) + timeOfDay;
}

class EngineCycleTest : public ::testing::Test {
protected:
    EngineCycleTest() {
        h.host.SetSettings(Day());
        h.idlePolls = 3;
    }

    int Count(const QStringList& list, const QString& text) const {
        return static_cast<int>(list.count(text));
    }
    // DEBUG.LOG as the engine leaves it when it is destroyed.
    QStringList LogAtTheEnd() {
        h.Destroy();
        return h.DebugLogLines();
    }

    TEngineHarness h;
};

} // namespace

TEST_F(EngineCycleTest, FirstCycleIsActiveThenQuietWaitsAreShort) {
    h.RunWaits(3);

    EXPECT_EQ(h.wake.Waits(), (QList<int>{kActive, kIdle, kIdle}));
    EXPECT_EQ(h.clock.Sleeps().value(0), 500);
    EXPECT_EQ(h.wake.Resets(), 3);
    EXPECT_EQ(h.host.EngineRunningChanges(), (QList<bool>{true, false}));
    const QStringList status = h.host.StatusTexts();
    EXPECT_EQ(Count(status, kChecking), 3);
    EXPECT_EQ(Count(status, QStringLiteral("Processor Idle.")), 3);
}

TEST(EngineWaitTest, WaitTableAtItsBoundaries) {
    struct Case {
        double time;
        bool idle;
        int wait;
    };
    const double ms = 1.0 / kMsecPerDay;
    const Case cases[] = {
        {0.5, false, kActive}, {0.5, true, kIdle},          {0.25, true, kIdle},
        {0.75, true, kIdle},   {0.25 - ms, true, kOutside}, {0.75 + ms, true, kOutside},
        {0.0, true, kOutside}, {0.75 + ms, false, kActive},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WaitMilliseconds(c.idle, Day(), At(c.time)), c.wait)
            << "at " << c.time << (c.idle ? " idle" : " active");

    // A window that ends before it starts: outside all day.
    for (double time : {0.0, 0.25, 0.5, 0.75, 0.99})
        EXPECT_EQ(WaitMilliseconds(true, Day(0.75, 0.25), At(time)), kOutside) << "at " << time;
}

TEST_F(EngineCycleTest, SignalledWaitCountsAsIdleAndBoundariesRunNoNoticePass) {
    for (double boundary : {0.25, 0.75}) {
        TEngineHarness run;
        run.host.SetSettings(Day());
        // The first wait is ended by a signal at once; the clock then stands
        // exactly on the boundary for the second cycle.
        run.wake.OnWait = [&](int wait, int) {
            if (wait == 1) {
                run.clock.SetNow(At(boundary));
                run.wake.Set();
            }
        };
        run.RunWaits(2);

        EXPECT_EQ(run.wake.Waits(), (QList<int>{kActive, kIdle})) << "boundary " << boundary;
        EXPECT_EQ(Count(run.host.StatusTexts(), kChecking), 1) << "boundary " << boundary;
    }
}

TEST_F(EngineCycleTest, WindowThatEndsBeforeItStartsNeverRunsTheNoticePass) {
    h.host.SetSettings(Day(0.75, 0.25));
    h.RunUntil(At(0.5) + 1.0);

    EXPECT_EQ(Count(h.host.StatusTexts(), kChecking), 0);
    const QList<int> waits = h.wake.Waits();
    EXPECT_EQ(waits.first(), kActive);
    EXPECT_EQ(waits.mid(1), QList<int>(waits.size() - 1, kOutside));
}

TEST_F(EngineCycleTest, ActivityDuringAWaitKeepsTheLongWait) {
    h.wake.OnWait = [&](int wait, int) {
        if (wait == 2)
            h.input.MoveCursor();
        if (wait == 3)
            h.input.SetKeyDown(0x41);
        if (wait == 4)
            h.input.SetKeyDown(0x41, false);
    };
    h.RunWaits(5);

    EXPECT_EQ(h.wake.Waits(), (QList<int>{kActive, kIdle, kActive, kActive, kIdle}));
}

TEST_F(EngineCycleTest, DayOfQuietPollingFollowsTheWindow) {
    h.clock.SetNow(At(0.0));
    h.RunUntil(At(0.0) + 1.0);

    const QList<int> waits = h.wake.Waits();
    const int idle = static_cast<int>(waits.count(kIdle));
    const int outside = static_cast<int>(waits.count(kOutside));
    // About 12 hours of 15-second waits inside, 12 hours of 5-minute waits outside;
    // the first inside wait starts when the last 5-minute wait ends.
    EXPECT_NEAR(idle, 12 * 240, 20);
    EXPECT_NEAR(outside, 12 * 12, 3);
    EXPECT_EQ(Count(h.host.StatusTexts(), kChecking), idle);
}

TEST_F(EngineCycleTest, MessageQueuedDuringALongWaitGoesOutAtOnce) {
    h.wake.OnWait = [&](int wait, int) {
        if (wait == 1)
            h.Engine().QueueMessage(QStringLiteral("to@example.net"),
                                    QStringLiteral("Test subject"), QStringLiteral("Test body"));
        if (wait == 2) {
            EXPECT_FALSE(h.Engine().TestPending);
        }
    };
    h.RunWhile([&] { return h.wake.Waits().size() < 2; });

    // Not waited out: the clock stood still through the first wait.
    EXPECT_EQ(h.wake.Waits().value(0), kActive);
    EXPECT_LT(h.clock.Now(), At(0.5) + kOneMinute);
    EXPECT_FALSE(h.Engine().TestPending);
    const QStringList status = h.host.StatusTexts();
    const int subject = static_cast<int>(status.indexOf(QStringLiteral("Test subject")));
    ASSERT_GE(subject, 1);
    EXPECT_EQ(status[subject - 1], QStringLiteral("Processor Idle."));
}

TEST_F(EngineCycleTest, StopDuringALongWaitEndsTheThreadAtOnce) {
    TEngineDeps deps;
    deps.Clock = std::make_unique<TSystemClock>();
    deps.Input = std::make_unique<FakeInput>();
    deps.Wake = std::make_unique<TWakeEvent>();
    deps.Runtime = std::make_unique<TNullAutomationRuntime>();
    deps.Factory = h.outlook->Factory();
    deps.DataDir = QDir(h.dir.path());
    FakeHost host;
    host.SetSettings(Day());
    TOutlookProcessor engine(&host, std::move(deps));
    EXPECT_EQ(engine.WakeEvent().Name(), QStringLiteral("AmberfoldProcessor"));

    QElapsedTimer waited;
    waited.start();
    while (!host.StatusTexts().contains(QStringLiteral("Processor Idle.")) &&
           waited.elapsed() < 5000)
        QThread::msleep(5);
    ASSERT_TRUE(host.EngineRunning());

    QElapsedTimer stopping;
    stopping.start();
    engine.Stop();
    ASSERT_TRUE(engine.wait(QDeadlineTimer(5000)));
    EXPECT_LT(stopping.elapsed(), 1000);
    EXPECT_FALSE(host.EngineRunning());
    EXPECT_TRUE(QFile::exists(h.Path("TASK.CLD")));
}

TEST_F(EngineCycleTest, ElevenAutomationErrorsInARowEndTheEngineWithTheStateSaved) {
    int errors = 0;
    h.input.OnCursorRead = [&](int) {
        if (++errors == 11) {
            // The cycle's own save has run; only shut-down can write these again.
            for (const char* name : {"TASK.CLD", "NOTIFY.CLD", "EMAIL.CLD"})
                QFile::remove(h.Path(name));
        }
        throw EAutomationError(QStringLiteral("Outlook is gone"));
    };
    h.RunWhile([] { return true; }); // the engine ends by itself

    EXPECT_EQ(errors, 11);
    EXPECT_EQ(h.host.LastStatus(), QStringLiteral("Outlook is gone"));
    EXPECT_EQ(h.runtime.Initializations(), 1 + 10);
    EXPECT_EQ(h.runtime.Uninitializations(), 10 + 1);
    // A pause before each of the ten retries, growing to ten minutes: the eleventh
    // error comes after some forty minutes of failures, not in one burst.
    EXPECT_EQ(h.wake.Waits(), kRetryPauses);
    EXPECT_EQ(h.host.EngineRunningChanges(), (QList<bool>{true, false}));
    const QStringList status = h.host.StatusTexts();
    EXPECT_TRUE(status.contains(QStringLiteral("Outlook is gone Retrying in 5 seconds.")));
    EXPECT_TRUE(status.contains(QStringLiteral("Outlook is gone Retrying in 80 seconds.")));
    EXPECT_TRUE(status.contains(QStringLiteral("Outlook is gone Retrying in 10 minutes.")));
    EXPECT_EQ(Count(LogAtTheEnd(), QStringLiteral("ERROR:Outlook is gone")), 11);
    for (const char* name : {"TASK.CLD", "NOTIFY.CLD", "EMAIL.CLD"})
        EXPECT_TRUE(h.Exists(name)) << name;
}

TEST_F(EngineCycleTest, AGoodCycleResetsTheErrorCountAndThePause) {
    // Ten failing cycles, one good one, ten failing ones: never more than ten in a row.
    int reads = 0;
    h.input.OnCursorRead = [&](int) {
        ++reads;
        if (reads <= 10 || (reads >= 13 && reads <= 22))
            throw EAutomationError(QStringLiteral("busy"));
    };
    h.RunWhile([&] { return h.wake.Waits().size() < 22; });

    EXPECT_EQ(h.wake.Waits(),
              kRetryPauses + QList<int>{kActive} + kRetryPauses + QList<int>{kIdle});
    EXPECT_EQ(h.host.EngineRunningChanges(), (QList<bool>{true, false}));
    EXPECT_EQ(Count(LogAtTheEnd(), QStringLiteral("ERROR:busy")), 20);
}

TEST_F(EngineCycleTest, StopDuringARetryPauseEndsTheThreadAtOnce) {
    TEngineDeps deps;
    deps.Clock = std::make_unique<TSystemClock>();
    auto input = std::make_unique<FakeInput>();
    input->OnCursorRead = [](int) { throw EAutomationError(QStringLiteral("server down")); };
    deps.Input = std::move(input);
    deps.Wake = std::make_unique<TWakeEvent>();
    deps.Runtime = std::make_unique<TNullAutomationRuntime>();
    deps.Factory = h.outlook->Factory();
    deps.DataDir = QDir(h.dir.path());
    FakeHost host;
    host.SetSettings(Day());
    TOutlookProcessor engine(&host, std::move(deps));

    QElapsedTimer waited;
    waited.start();
    const QString pausing = QStringLiteral("server down Retrying in 5 seconds.");
    while (!host.StatusTexts().contains(pausing) && waited.elapsed() < 5000)
        QThread::msleep(5);
    ASSERT_TRUE(host.StatusTexts().contains(pausing));

    QElapsedTimer stopping;
    stopping.start();
    engine.Stop();
    ASSERT_TRUE(engine.wait(QDeadlineTimer(5000)));
    EXPECT_LT(stopping.elapsed(), 1000);
    EXPECT_TRUE(host.EngineRunningChanges().endsWith(false));
}

TEST_F(EngineCycleTest, RuntimeThatCannotBeSetUpAgainEndsWithoutShutDown) {
    h.runtime.FailInitialize({2});
    h.input.OnCursorRead = [&](int) {
        for (const char* name : {"TASK.CLD", "NOTIFY.CLD", "EMAIL.CLD"})
            QFile::remove(h.Path(name));
        throw EAutomationError(QStringLiteral("RPC server unavailable"));
    };
    h.clock.OnSleep = [&](int) { h.Engine().Debugging = true; };
    h.RunWhile([] { return true; });

    EXPECT_EQ(h.host.EngineRunningChanges(), (QList<bool>{true, false}));
    EXPECT_FALSE(h.Exists("TASK.CLD"));
    const QStringList log = LogAtTheEnd();
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR:RPC server unavailable")));
    EXPECT_FALSE(log.contains(QStringLiteral("Shutting Down")));
}

TEST_F(EngineCycleTest, RuntimeThatFailsAtStartShowsTheBoxAndShutsDown) {
    h.runtime.FailEveryInitialize();
    h.RunWaits(1);

    EXPECT_EQ(h.host.ErrorBoxes(),
              QStringList{QStringLiteral("Unable initilize Outlook connection.\r\n"
                                         "Please verify Outlook is installed\r\n"
                                         "This program doesn't support Outlook Express")});
    EXPECT_TRUE(h.wake.Waits().isEmpty());
    EXPECT_EQ(h.runtime.Uninitializations(), 0);
    EXPECT_EQ(h.host.EngineRunningChanges(), (QList<bool>{true, false}));
    EXPECT_TRUE(h.Exists("TASK.CLD")); // shut-down still saves
}

TEST_F(EngineCycleTest, OtherErrorsShowABoxAndTheLoopGoesOn) {
    h.input.OnCursorRead = [&](int read) {
        if (read == 1)
            throw std::runtime_error("disk on fire");
    };
    h.RunWaits(1);

    EXPECT_EQ(h.host.ErrorBoxes(), QStringList{QStringLiteral("disk on fire")});
    EXPECT_EQ(h.runtime.Initializations(), 1);
    EXPECT_EQ(h.wake.Waits(), QList<int>{kActive});
    const QStringList log = LogAtTheEnd();
    EXPECT_EQ(log.value(0), QStringLiteral("Execute Start"));
    EXPECT_FALSE(log.join('\n').contains(QStringLiteral("ERROR:")));
}

TEST_F(EngineCycleTest, DebugLogWithDebuggingOffHoldsOnlyTheAlwaysLines) {
    h.input.OnCursorRead = [&](int read) {
        if (read == 1)
            throw EAutomationError(QStringLiteral("boom"));
    };
    h.RunWaits(2);
    EXPECT_FALSE(h.Exists("DEBUG.LOG")) << "written before destruction";
    h.Destroy();

    EXPECT_EQ(h.ReadFile("DEBUG.LOG"),
              QByteArray("Execute Start\r\nLoading From Disk\r\nERROR:boom\r\n"));
    EXPECT_FALSE(QFile::permissions(h.Path("DEBUG.LOG")) &
                 (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther));
}

TEST_F(EngineCycleTest, DebugLogWithDebuggingOnIsRewrittenAtEachEntry) {
    h.clock.OnSleep = [&](int) { h.Engine().Debugging = true; };
    h.wake.OnWait = [&](int, int) {
        EXPECT_TRUE(h.ReadFile("DEBUG.LOG")
                        .startsWith("Execute Start\r\nLoading From Disk\r\nOk\r\nCOI\r\nStart "
                                    "Loop\r\n"));
    };
    h.RunWaits(1);

    const QByteArray log = h.ReadFile("DEBUG.LOG");
    EXPECT_TRUE(log.endsWith("\r\nShutting Down\r\nCompleted\r\n")) << log.toStdString();
}

TEST_F(EngineCycleTest, StateFilesLoadInOrderAndReportTheirErrors) {
    TTaskEvent task;
    task.Key = QStringLiteral("Report:3/8/24");
    TEmailItem email{QStringLiteral("Down From:Ops"), 1.0};
    h.WriteFile("TASK.CLD",
                QByteArray("\x04\0\0\0", 4) + EncodeRecord(task) + QByteArray(100, 'x'));
    ASSERT_TRUE(QDir(h.dir.path()).mkdir("NOTIFY.CLD"));
    h.WriteFile("EMAIL.CLD", QByteArray("\x04\0\0\0", 4) + EncodeRecord(email));
    h.StartParked();

    const QStringList status = h.host.StatusTexts();
    ASSERT_EQ(status.size(), 2) << status.join(u'|').toStdString();
    EXPECT_EQ(status[0], QStringLiteral("TASK.CLD could not be read (Stream read error); a copy "
                                        "was kept as TASK.CLD.unreadable and the records that "
                                        "could be read are used."));
    // A folder in the file's place can be neither copied nor replaced.
    EXPECT_EQ(status[1], QStringLiteral("NOTIFY.CLD could not be read (Cannot open file "
                                        "NOTIFY.CLD) and no copy of it could be made; it is not "
                                        "replaced while Ringpost runs."));
    // Shut-down saved what start-up loaded; nothing ran in between.
    EXPECT_EQ(h.SavedTasks().size(), 1u);
    EXPECT_EQ(h.SavedEmails().size(), 1u);
    EXPECT_EQ(h.ReadFile("TASK.CLD").size(), 4 + TaskRecordSize);
}

TEST_F(EngineCycleTest, DefaultFoldersComeFromTheMapiNamespaceAndNullKeepsTheOld) {
    SettingsRecord settings = Day();
    settings.MeetingNotify = settings.TaskNotify = settings.UrgentEmail = true;
    h.host.SetSettings(settings);
    h.outlook->AddAppointment(QStringLiteral("Review"), At(0.5) + kOneHour);
    h.outlook->AddTask(QStringLiteral("Report"), At(0.5) + 1);
    auto urgent = h.outlook->AddMail(QStringLiteral("Server down"), QStringLiteral("Ops"));
    urgent->importance = outlook::olImportanceHigh;
    urgent->receivedTime = At(0.5) - kOneHour;
    int connectsAtStartUp = -1;
    h.clock.OnSleep = [&](int) {
        if (connectsAtStartUp < 0)
            connectsAtStartUp = h.outlook->Connects();
    };
    TCycleStepper cycles(h);
    cycles.Start();
    EXPECT_EQ(connectsAtStartUp, 0); // connects on first use
    EXPECT_EQ(h.SavedAppointments().size(), 1u);
    EXPECT_EQ(h.SavedTasks().size(), 1u);
    cycles.Next(); // the user is away: the inbox is read too
    EXPECT_EQ(h.SavedEmails().size(), 1u);
    EXPECT_EQ(h.outlook->Sent().size(), 1u);
    EXPECT_EQ(h.outlook->Connects(), 1);

    // No calendar from the namespace: the one the engine has stays.
    const auto calendar = h.outlook->calendar;
    auto added = std::make_shared<MemoryAppointment>(*h.outlook);
    added->subject = QStringLiteral("Added");
    added->start = At(0.5) + 2 * kOneHour;
    h.outlook->Edit([&] {
        h.outlook->calendar = nullptr;
        calendar->items.push_back(added);
    });
    cycles.Next();
    EXPECT_EQ(h.SavedAppointments().size(), 2u);

    h.outlook->FailOn(QStringLiteral("NameSpace.GetDefaultFolder"));
    cycles.Next(); // held in the pause before the retry
    EXPECT_EQ(h.host.LastStatus(), QStringLiteral("The operation failed. Retrying in 5 seconds."));
}

// A key held down when a wait ends means the user is back; none keeps the user
// away. Which states count as held is the key rule's own table.
TEST_F(EngineCycleTest, AnyKeyDownLooksAtTheHighBitOnly) {
    h.wake.OnWait = [&](int wait, int) {
        if (wait == 2)
            h.input.SetKeyDown(0xA0);
    };
    h.RunWaits(3);

    EXPECT_EQ(h.wake.Waits(), (QList<int>{kActive, kIdle, kActive}));
}

TEST(EngineConstruction, WithoutTheMainWindowNothingStarts) {
    TEngineHarness h;
    TEngineDeps deps;
    deps.Clock = std::make_unique<FakeClock>();
    deps.Input = std::make_unique<FakeInput>();
    deps.Wake = std::make_unique<TWakeEvent>();
    deps.Runtime = std::make_unique<FakeRuntime>();
    deps.Factory = h.outlook->Factory();
    deps.DataDir = QDir(h.dir.path());
    TOutlookProcessor engine(nullptr, std::move(deps));

    EXPECT_FALSE(engine.Started());
    EXPECT_FALSE(engine.isRunning());
}
