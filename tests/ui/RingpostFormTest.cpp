// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up, hiding and showing, the close query and sequence, session end and the
// engine watchdog of the main window.

#include "FormFixture.h"

#include "ui/EngineHostBridge.h"
#include "ui/Messages.h"

#include <QLabel>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QToolBar>
#include <QToolButton>
#include <atomic>
#include <thread>

using namespace rp;
using namespace rp::uitest;

namespace {

TEST_F(FormTest, FirstRunGreetsThenOpensTheWizardBeforeTheEngineAndStaysVisible) {
    form = std::make_unique<TRingpostForm>(Deps());
    form->Create();
    // The welcome box comes before the window is shown.
    ASSERT_EQ(boxes->calls.size(), 1);
    EXPECT_EQ(boxes->calls[0].kind, "information");
    EXPECT_EQ(boxes->calls[0].text, QLatin1String(WelcomeText));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->Processor(), nullptr);

    form->show();
    RunPosted();
    EXPECT_EQ(wizardRequests, QStringList{"before engine"});
    EXPECT_EQ(engine.created, 1);
    EXPECT_TRUE(OnScreen());
    EXPECT_TRUE(form->Timer1->isActive());
    // Nothing reached the store: the next start is a first run again.
    EXPECT_TRUE(StoreBytes().isEmpty());
}

TEST_F(FormTest, ConfiguredStartHidesToTheTrayAndSaves) {
    WriteConfiguredStore();
    form = std::make_unique<TRingpostForm>(Deps());
    form->Create();
    form->SetPin(QStringLiteral("5559876543")); // in memory only, until the hide
    form->show();
    RunPosted();
    EXPECT_TRUE(boxes->calls.isEmpty());
    EXPECT_TRUE(wizardRequests.isEmpty());
    EXPECT_EQ(engine.created, 1);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(Stored("Pin"), "5559876543");
    EXPECT_TRUE(form->Timer1->isActive());
}

TEST_F(FormTest, WithoutANotificationAreaHidingMinimisesAndTheWindowComesBack) {
    trayAvailable = false;
    WriteConfiguredStore();
    form = std::make_unique<TRingpostForm>(Deps());
    form->Create();
    form->SetPin(QStringLiteral("5550000000"));
    form->show();
    RunPosted();
    // Still reachable from the task bar, and the hide saved as usual.
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(form->isMinimized());
    EXPECT_EQ(Stored("Pin"), "5550000000");

    form->ShowFromTray();
    EXPECT_TRUE(OnScreen());
}

TEST_F(FormTest, MinimiseHidesToTheTrayAndSaves) {
    Start(); // first run: visible
    form->SetService(7);
    form->setWindowState(Qt::WindowMinimized);
    RunPosted();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(Stored("Service"), "7");

    // Shown again from the tray, it is a normal window, not a minimised one.
    QCoreApplication::postEvent(form.get(), new TTrayNotifyEvent(WM_LBUTTONDOWN));
    RunPosted();
    EXPECT_TRUE(OnScreen());
}

TEST_F(FormTest, OnlyLeftAndRightButtonDownOnTheTrayIconShowTheWindow) {
    WriteConfiguredStore();
    Start();
    ASSERT_FALSE(form->isVisible());
    for (int message : {WM_LBUTTONDBLCLK, WM_MBUTTONDOWN, 0x200 /* mouse move */}) {
        QCoreApplication::postEvent(form.get(), new TTrayNotifyEvent(message));
        RunPosted();
        EXPECT_FALSE(form->isVisible()) << message;
    }
    QCoreApplication::postEvent(form.get(), new TTrayNotifyEvent(WM_RBUTTONDOWN));
    RunPosted();
    EXPECT_TRUE(OnScreen());
    form->HideToTray();
    QCoreApplication::postEvent(form.get(), new TTrayNotifyEvent(WM_LBUTTONDOWN));
    RunPosted();
    EXPECT_TRUE(OnScreen());
}

TEST_F(FormTest, ARefusedCloseHidesAndKeepsTheEngine) {
    Start();
    boxes->confirmAnswer = false;
    form->SetUrgentEmail(true);
    EXPECT_FALSE(form->close());
    ASSERT_EQ(boxes->calls.last().kind, "confirm");
    EXPECT_EQ(boxes->calls.last().text, QLatin1String(CloseQueryText));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(engine.stops, 0);
    EXPECT_EQ(engine.destroyed, 0);
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(Stored("UrgentEmail"), "1");
    EXPECT_EQ(closedSignals, 0);
}

TEST_F(FormTest, AnAcceptedCloseStopsTheEngineAndSavesWhatWasSwitched) {
    WriteConfiguredStore();
    Start();
    form->ShowFromTray();
    form->SetMeetingNotify(true); // since the last hide: only the close can save it
    EXPECT_TRUE(form->close());
    EXPECT_EQ(boxes->Count(QLatin1String(CloseQueryText)), 1);
    EXPECT_EQ(engine.stops, 1);
    EXPECT_GE(engine.wakes, 2); // the stop's own signal, and one more
    EXPECT_EQ(engine.destroyed, 1);
    EXPECT_EQ(form->Processor(), nullptr);
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(form->StatusText(), QLatin1String(ShutdownText));
    EXPECT_EQ(sleptMs, 0);
    EXPECT_EQ(closedSignals, 1);
    EXPECT_EQ(Stored("MeetingNotify"), "1");
}

TEST_F(FormTest, AToggleSwitchedOnBeforeExitIsStillOnAfterARestart) {
    WriteConfiguredStore();
    Start();
    form->ShowFromTray();
    form->actTaskReminder->trigger();
    form->actExit->trigger();
    RunPosted();
    ASSERT_EQ(closedSignals, 1);
    form.reset();
    registry = std::make_unique<TRegistryFile>(SettingsPath());
    Start();
    EXPECT_TRUE(form->Settings().TaskReminder);
    EXPECT_TRUE(form->actTaskReminder->isChecked());
    EXPECT_FALSE(form->Settings().MeetingNotify);
    EXPECT_EQ(boxes->Count(QLatin1String(WelcomeText)), 0);
}

TEST_F(FormTest, TheSessionEndSavesWithoutABoxEvenWhenTheSaveFails) {
    WriteConfiguredStore();
    Start();
    form->SetUrgentEmail(true);
    form->EndSession();
    EXPECT_EQ(Stored("UrgentEmail"), "1");

    // A second program on a store that cannot be written: the logout goes on.
    form.reset();
    WriteConfiguredStore();
    registry = std::make_unique<TRegistryFile>(SettingsPath());
    Start();
    QFile::remove(SettingsPath());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Ringpost.reg")));
    boxes->calls.clear();
    form->EndSession();
    EXPECT_TRUE(boxes->calls.isEmpty());
    EXPECT_EQ(closedSignals, 2);
}

TEST_F(FormTest, ClosingAnUnfinishedFirstRunLeavesTheStoreUnconfigured) {
    Start(); // first run: the wizard is requested, nothing is finished
    form->SetPin(QStringLiteral("5551112222"));
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(StoreBytes().isEmpty());

    form.reset();
    registry = std::make_unique<TRegistryFile>(SettingsPath());
    Start();
    EXPECT_EQ(boxes->Count(QLatin1String(WelcomeText)), 2); // greeted again
    EXPECT_FALSE(form->SettingsLoaded);
}

TEST_F(FormTest, ExitDuringAnUnfinishedWizardRunLeavesOutWhatTheRunSet) {
    WriteConfiguredStore();
    TRingpostDeps deps = Deps();
    deps.ShowWizard = nullptr; // the real wizard
    form = std::make_unique<TRingpostForm>(std::move(deps));
    form->Create();
    form->show();
    RunPosted();
    form->ShowFromTray();
    form->actConfigWizard->trigger();
    RunPosted();
    form->SetService(8); // as the carrier page's Next stores it
    EXPECT_TRUE(form->close());
    EXPECT_EQ(Stored("Service"), "4");
}

TEST_F(FormTest, AnEngineThatNeverStopsIsWaitedForAbout2500msThenDestroyed) {
    engine.dropsRunningOnStop = false;
    Start();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(sleptMs, EngineStopSleeps * EngineStopSleepMs);
    EXPECT_EQ(engine.destroyed, 1);
}

// An engine whose thread sits in an error box the GUI thread has not shown yet.
class TBlockedOnABoxEngine : public IEngine {
public:
    explicit TBlockedOnABoxEngine(IEngineHost& host) : host(host) {
        host.SetEngineRunning(true);
        thread = std::thread([this] { Run(); });
    }
    ~TBlockedOnABoxEngine() override {
        stopRequested = true;
        thread.join();
    }
    void Stop() override { stopRequested = true; }
    void SignalWake() override {}
    void QueueMessage(const QString&, const QString&, const QString&) override {}
    bool Debugging() const override { return false; }
    void SetDebugging(bool) override {}

    std::atomic<bool> go{false};

private:
    void Run() {
        while (!go)
            QThread::msleep(1);
        host.ShowErrorBox(QStringLiteral("Stream read error"));
        while (!stopRequested)
            QThread::msleep(1);
        host.SetEngineRunning(false);
    }

    IEngineHost& host;
    std::atomic<bool> stopRequested{false};
    std::thread thread;
};

TEST_F(FormTest, CloseIsNotHeldUpByAnErrorBoxTheEngineIsWaitingFor) {
    TBlockedOnABoxEngine* blocked = nullptr;
    TRingpostDeps deps = Deps();
    deps.CreateEngine = [&blocked](IEngineHost& host) -> std::unique_ptr<IEngine> {
        auto engine = std::make_unique<TBlockedOnABoxEngine>(host);
        blocked = engine.get();
        return engine;
    };
    deps.Sleep = [](int milliseconds) { QThread::msleep(milliseconds); };
    form = std::make_unique<TRingpostForm>(std::move(deps));
    form->Create();
    RunPosted();
    ASSERT_TRUE(blocked);
    blocked->go = true;
    QThread::msleep(50); // the engine now waits for a box only this thread could show

    EXPECT_TRUE(form->close()); // would never return if the box held the engine
    EXPECT_EQ(form->Processor(), nullptr);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(boxes->Count(QStringLiteral("Stream read error")), 0);
}

TEST_F(FormTest, SessionEndClosesWithoutAQuestionAndStaysThatWay) {
    Start();
    form->QueryEndSession();
    // A session end that another program cancels leaves the program running...
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(engine.stops, 0);
    // ...and every later close goes through without the question.
    EXPECT_TRUE(form->close());
    EXPECT_EQ(boxes->Count(QLatin1String(CloseQueryText)), 0);
    EXPECT_EQ(engine.destroyed, 1);
    EXPECT_EQ(closedSignals, 1);
}

TEST_F(FormTest, TerminationEndsTheSessionAndClosesOnce) {
    Start();
    form->EndSession();
    form->EndSession(); // aboutToQuit after the signal's own close
    EXPECT_EQ(boxes->Count(QLatin1String(CloseQueryText)), 0);
    EXPECT_EQ(engine.stops, 1);
    EXPECT_EQ(closedSignals, 1);
}

TEST_F(FormTest, CloseBeforeTheEngineExistsJustEnds) {
    form = std::make_unique<TRingpostForm>(Deps());
    form->Create(); // WM_STARTENGINE still queued
    EXPECT_TRUE(form->close());
    EXPECT_EQ(engine.created, 0);
    EXPECT_EQ(sleptMs, 0);
}

TEST_F(FormTest, WatchdogReportsADeadEngineOneBoxAtATimeAndAgainLater) {
    intervals.Watchdog = 10;
    WriteConfiguredStore();
    Start();
    ticks.Advance(40);
    EXPECT_TRUE(boxes->calls.isEmpty()); // running engine: silence

    engine.host->SetEngineRunning(false);
    // Keep the first box open over several ticks, as a user reading it would.
    boxes->whileOpen = [this] {
        boxes->whileOpen = nullptr;
        ticks.Advance(60);
    };
    const auto died = [this] { return boxes->Count(QLatin1String(EngineDiedText)); };
    ticks.Advance(10);
    ASSERT_GE(died(), 1);
    EXPECT_EQ(boxes->mostOpen, 1);
    EXPECT_EQ(boxes->calls.first().kind, "error");
    // Dismissed, it comes back at the next ticks while the engine stays down.
    const int shown = died();
    ticks.Advance(10);
    EXPECT_GT(died(), shown);
}

TEST_F(FormTest, DebugOnTheCommandLineEvenInsideTheProgramPathSwitchesTheLogOn) {
    commandLine = QStringLiteral("/home/me/debug-build/ringpost");
    Start();
    EXPECT_TRUE(engine.debugging);
}

TEST_F(FormTest, DebugMatchesOnlyInLowerCase) {
    commandLine = QStringLiteral("/usr/bin/ringpost DEBUG");
    Start();
    EXPECT_FALSE(engine.debugging);
}

TEST_F(FormTest, WizardRequestsReloadAndSaveRunInTheOrderPosted) {
    Start(); // first run
    wizardRequests.clear();
    form->SetPin(QStringLiteral("5551112222"));
    form->PostSaveSettings();
    form->PostReloadSettings();
    RunPosted();
    EXPECT_EQ(Stored("Pin"), "5551112222");
    // The save made the store configured: the reload reads it without a greeting.
    EXPECT_EQ(boxes->Count(QLatin1String(WelcomeText)), 1);
    EXPECT_TRUE(form->SettingsLoaded);
    EXPECT_EQ(form->Settings().Pin, "5551112222");
}

TEST_F(FormTest, AnAbandonedFirstRunWizardGreetsAndAsksAgain) {
    Start();
    form->SetPin(QStringLiteral("5553334444"));
    form->PostReloadSettings();
    RunPosted();
    EXPECT_EQ(boxes->Count(QLatin1String(WelcomeText)), 2);
    EXPECT_EQ(wizardRequests, (QStringList{"before engine", "after engine"}));
    EXPECT_TRUE(form->Timer2->isActive()); // second request, engine there, still a first run
    EXPECT_FALSE(form->FirstRun);
}

TEST_F(FormTest, AFailedSaveIsReportedAndTheProgramGoesOn) {
    Start();
    // A folder where the settings file should be makes every write fail.
    QFile::remove(SettingsPath());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Ringpost.reg")));
    form->HideToTray();
    ASSERT_FALSE(boxes->calls.isEmpty());
    EXPECT_EQ(boxes->calls.last().kind, "error");
    EXPECT_FALSE(boxes->calls.last().text.isEmpty());
    EXPECT_FALSE(form->isVisible());
}

TEST_F(FormTest, EngineStatusTextReachesPanelZeroAndItsHint) {
    Start();
    engine.host->SetStatusText(QStringLiteral("Processor Idle."));
    EXPECT_EQ(form->StatusText(), "Processor Idle.");
    EXPECT_EQ(form->statusBar()->toolTip(), "Processor Idle.");
}

TEST_F(FormTest, ALongStatusTextDoesNotWidenTheWindow) {
    Start();
    const QSize before = form->size();
    form->SetStatusText(QString(400, QLatin1Char('x')));
    QCoreApplication::processEvents();
    EXPECT_EQ(form->size(), before);
}

TEST_F(FormTest, TheWindowFitsItsTextsAndEveryToolbarButton) {
    Start();
    EXPECT_EQ(form->windowTitle(), "Ringpost");
    EXPECT_GE(form->width(), 375);
    EXPECT_EQ(form->minimumSize(), form->maximumSize()); // fixed size
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    auto* label1 = form->findChild<QLabel*>(QStringLiteral("Label1"));
    auto* label3 = form->findChild<QLabel*>(QStringLiteral("Label3"));
    ASSERT_TRUE(label1 && label3);
    EXPECT_EQ(label1->text(), "Ringpost, Linking you to your information. ");
    EXPECT_TRUE(label1->font().bold());
    EXPECT_GE(label1->width(), label1->sizeHint().width());
    EXPECT_GE(label3->width(), label3->sizeHint().width());
    auto* bar = form->findChild<QToolBar*>(QStringLiteral("ToolBar1"));
    ASSERT_TRUE(bar);
    for (const char* name :
         {"ToolButton1", "ToolButton2", "ToolButton3", "ToolButton5", "ToolButton6", "ToolButton7",
          "ToolButton9", "ToolButton11", "ToolButton12"}) {
        auto* button = bar->findChild<QToolButton*>(QLatin1String(name));
        ASSERT_TRUE(button) << name;
        EXPECT_TRUE(button->isVisible()) << name;
        EXPECT_TRUE(bar->rect().contains(button->geometry())) << name;
        EXPECT_EQ(button->iconSize(), QSize(32, 32)) << name;
    }
}

TEST_F(FormTest, TheMakerLinkOpensTheBundledAboutPageAndNamesNoWebSite) {
    Start();
    auto* label3 = form->findChild<QLabel*>(QStringLiteral("Label3"));
    ASSERT_TRUE(label3);
    EXPECT_TRUE(label3->text().contains(QLatin1String(MakerLinkText)));
    EXPECT_FALSE(label3->text().contains(QLatin1String("http")));
    emit label3->linkActivated(QStringLiteral("about"));
    EXPECT_EQ(help->shown, QList<int>{HelpContextAbout});
}

TEST(ApplicationTitle, IsTheProgramNameCutAtItsFirstDot) {
    EXPECT_EQ(ApplicationTitle(QStringLiteral("/usr/bin/ringpost")), "Ringpost");
    EXPECT_EQ(ApplicationTitle(QStringLiteral("C:/Apps/RINGPOST.EXE")), "Ringpost");
    EXPECT_EQ(ApplicationTitle(QStringLiteral("/opt/ring.post.bin")), "Ring");
}

} // namespace
