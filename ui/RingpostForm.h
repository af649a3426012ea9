// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: holds the settings, starts and watches the engine, lives in
// the notification area, and offers the commands and notice toggles.

#include "engine/SettingsRecord.h"
#include "engine/SourceHealth.h"
#include "platform/delivery/TestMessage.h"
#include "platform/mailstore/MailStoreFactory.h"
#include "ui/EngineControl.h"
#include "ui/SettingsStore.h"
#include "ui/Ticker.h"
#include "wizard/WizardOwner.h"

#include <QEvent>
#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QSystemTrayIcon;

namespace rp {

class IHelp;
class IMessageBoxes;
class TEngineHostBridge;
class TStatusPanel;
class TRegistryFile;
class TWizard;

// Ringpost has no web site: the maker's link and the upgrade check open the
// bundled help's page about the program and how to upgrade it.
inline const char* const MakerLinkText = "About Ringpost and its upgrades";

inline const char* const WelcomeText =
    "Welcome To Ringpost. You must complete\r\nthe configuration at this time.";
inline const char* const RegistryErrorText = "Error Reading Registry";
inline const char* const CloseQueryText = "Do you really want to stop Ringpost?";
inline const char* const ShutdownText =
    "Shutting Download Outlook Processing System....Please Wait.";
inline const char* const EngineDiedText = "Outlook Processor has died. Please Restart Application.";

inline constexpr int EngineStopSleeps = 501;
inline constexpr int EngineStopSleepMs = 5;
inline constexpr int StatusNoticeMs = 30000;

struct TTimerIntervals {
    int Watchdog = 15000;       // Timer1
    int FirstRunNotice = 60000; // Timer2
    int TestSender = 5000;
};

// What the window is built from. Empty members take the system's own.
struct TRingpostDeps {
    TRegistryFile* Registry = nullptr; // required; outlives the window
    std::shared_ptr<IMessageBoxes> Boxes;
    std::shared_ptr<IHelp> Help;
    TEngineFactory CreateEngine;
    std::function<void(IWizardOwner& owner)> ShowWizard;
    std::function<bool()> TrayAvailable;
    std::function<void(int milliseconds)> Sleep;
    // The whole command line, program path included.
    QString CommandLine;
    TTimerIntervals Intervals;
    // Makes the window's timers; QTimers when empty.
    TTickerFactory CreateTicker;
    // The desktop's calendars Ringpost could read while it has no mail store
    // profile (DesktopCalendarsOnOffer when empty). Runs on a worker thread.
    std::function<TDesktopOffer()> FindDesktopCalendars;
};

// What the window says of `offer` on a first run; empty when it holds nothing.
QString DesktopCalendarsHintText(const TDesktopOffer& offer);

// The application title by the old rule: the executable's name without its folder,
// cut at its first dot, the first letter upper case and the rest lower case.
QString ApplicationTitle(const QString& executablePath);
// The program path and the arguments, joined by spaces.
QString ProcessCommandLine();

class TRingpostForm : public QMainWindow, public ISettingsWindow, public IWizardOwner {
    Q_OBJECT
public:
    explicit TRingpostForm(TRingpostDeps deps, QWidget* parent = nullptr);
    ~TRingpostForm() override;

    // The creation handler: loads the settings, posts WM_STARTENGINE, adds the tray icon.
    void Create();

    // Settings and setters (none saves).
    SettingsRecord Settings() const override { return settings.Snapshot(); }
    void SetMeetingNotify(bool value) override;
    void SetMorningNotify(bool value) override;
    void SetEveningNotify(bool value) override;
    void SetTaskNotify(bool value) override;
    void SetTaskPreNotify(bool value) override;
    void SetTaskReminder(bool value) override;
    void SetUrgentEmail(bool value) override;
    void SetTaskRemindPeriod(int32_t value) override;
    void SetPin(const QString& value) override;
    void SetService(uint8_t value) override;
    void SetEarlyTime(TDateTime value) override;
    void SetLateTime(TDateTime value) override;
    void SetCustomAddr(const QString& value) override;
    void SetCustomEmail(const QString& value) override;
    QString RecipientAddress() const;

    // What loading and saving need.
    int WindowTop() const override { return y(); }
    int WindowLeft() const override { return x(); }
    void SetWindowTop(int top) override { move(x(), top); }
    void SetWindowLeft(int left) override { move(left, y()); }
    QSize ScreenSize() const override;
    void ShowWelcomeBox() override;
    void ShowRegistryError(const QString& details) override;
    void ShowNotice(const QString& text) override;
    void PostShowWizard() override;
    void SetFirstRun(bool value) override { FirstRun = value; }
    void SetSettingsLoaded() override { SettingsLoaded = true; }
    void LoadSettings();
    void SaveSettings();

    // What the wizard needs.
    QWidget* OwnerWidget() override { return this; }
    void PostSaveSettings() override;
    void PostReloadSettings() override;
    void ShowHelpTopic(int helpContext) override;
    // A line in the status bar (and the tray) saying where notices go now.
    void AnnounceNoticeRoute() override;
    bool CarrierChosen() const override { return store.Configured() || carrierPicked; }
    QString DesktopCalendarsHint() const override { return desktopHint; }
    QString GatewayWarning(const QString& recipient, bool* closed) const override;

    // Hiding to the notification area (the task bar when there is none) and back.
    void HideToTray();
    void ShowFromTray();
    // A second start of the program: the window comes forward from wherever it is,
    // and so does a box or wizard open in front of it.
    void BringForward();
    // The session manager asks whether the session may end: it may, and the next
    // close goes through without the question.
    void QueryEndSession() { SessionEnding = true; }
    // The session is ending now (or the process was asked to terminate).
    void EndSession();

    // Status panel 0: one text at a time. The engine's progress texts, and the
    // shut-down text at once.
    void SetStatusText(const QString& text);
    QString StatusText() const;
    // A notice held in panel 0 for StatusNoticeMs over the progress texts, which
    // come back after it (the test message's delivery, where notices go).
    void ShowStatusNotice(const QString& text);

    // What fails (engine/SourceHealth.h): a panel of its own, the tray's tooltip
    // and icon, until the source works again. Any thread may report.
    void ReportSourceHealth(const QString& source, const QString& problem);
    QList<TSourceProblem> SourceProblems() const;

    // State the tests and the commands read.
    bool FirstRun = false;
    bool SettingsLoaded = false;
    bool SessionEnding = false;
    bool EngineRunning() const;
    IEngine* Processor() const { return processor.get(); }
    std::unique_ptr<ITicker> Timer1;
    std::unique_ptr<ITicker> Timer2;
    std::unique_ptr<ITicker> TestSender;

    // ActionList1, in its order.
    QAction* actMeetingNotification = nullptr;
    QAction* actTaskNotification = nullptr;
    QAction* actMorningMeeting = nullptr;
    QAction* actEveningMeetingNotification = nullptr;
    QAction* actTaskReminder = nullptr;
    QAction* actTaskPreReminder = nullptr;
    QAction* actSettings = nullptr;
    QAction* actUrgentEmail = nullptr;
    QAction* actConfigWizard = nullptr;
    QAction* actHelp = nullptr;
    QAction* actHide = nullptr;
    QAction* actExit = nullptr;
    QAction* actDebug = nullptr;
    QAction* StartTestSend = nullptr;
    QAction* actUpgradeCheck = nullptr;

signals:
    // The close sequence has run: the program ends.
    void Closed();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Building the window (RingpostForm.cpp, Commands.cpp).
    void BuildWindow();
    void BuildBody();
    void BuildStatusBar();
    void BuildTimers();
    void FixWindowSize();
    void CreateActions();
    QAction* NewAction(const char* name, const QString& caption, const QString& hint, int image);
    QAction* NewToggle(const char* name, const QString& caption, const QString& hint, int image,
                       void (TRingpostForm::*setter)(bool));
    void BuildToolBar();
    void BuildMenus();
    void Post(QEvent::Type type);

    // The private requests.
    void OnShowWizard();
    void StartEngine();
    void OnTrayNotify(int mouseMessage);

    // Where notices go (NoticeRoute.cpp): the test message's follow-up status and
    // the warning about a gateway that no longer delivers, once per start.
    void WatchTestDelivery();
    void TestDeliveryTick();
    void WarnOfClosedGateway(const QString& recipient);
    QString FreshGatewayWarning(const QString& recipient);
    void TellWhereNoticesGo(const QString& text);

    // The desktop's calendars on a first run (DesktopCalendarsHint.cpp): looked
    // for off the GUI thread, told once the wizard is done.
    void LookForDesktopCalendars();
    void TellDesktopHint();

    // Supervision and close.
    void WatchdogTick();
    void FirstRunNoticeTick();
    bool CloseQuery();
    void CloseSequence();
    void SaveOnClose();
    void StopEngine();
    void OnMinimized();
    bool TrayAvailable() const;

    // Commands.
    void SendTestMessage();
    void ToggleTestSend();
    void StopTestSend();
    void ShowTestSendState();
    void ToggleDebugging();
    void ShowAboutPage();
    void AddTrayIcon();
    void RemoveTrayIcon();
    void ShowSourceHealth();
    void ShowTrayHealth(const QStringList& problems);
    void EndStatusNotice();
    void QueueStatusNotice(const QString& text);

    TRingpostDeps deps;
    TSharedSettings settings;
    TSettingsStore store;
    // Where notices go.
    std::unique_ptr<ITicker> deliveryWatch;
    quint64 deliveriesSeen = 0;
    int deliveryWatchTicks = 0;
    QString gatewayWarned;
    QString desktopHint;
    bool wizardDone = false;
    bool desktopHintTold = false;
    std::unique_ptr<TEngineHostBridge> bridge;
    std::unique_ptr<IEngine> processor; // after the bridge: destroyed first
    std::unique_ptr<TWizard> wizard;
    QSystemTrayIcon* trayIcon = nullptr;
    TStatusPanel* panel0 = nullptr;
    TStatusPanel* healthPanel = nullptr;
    // The progress text a notice holds back, and how long it holds it.
    QString progressText;
    QString queuedNotice; // shown when the notice held now ends
    std::unique_ptr<ITicker> noticeHold;
    QLabel* testSendLabel = nullptr; // while the test message repeats
    bool watchdogBoxOpen = false;
    bool closing = false;
    bool quietSave = false; // saving at session end: no boxes
    int firstRunNoticeTicks = 0;
    bool carrierPicked = false; // by the wizard since the last load
};

} // namespace rp
