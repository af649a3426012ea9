// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RingpostForm.h"

#include "platform/gui/Help.h"
#include "platform/mailstore/MailStoreProfile.h"
#include "ui/EngineHostBridge.h"
#include "ui/Icons.h"
#include "ui/MessageBoxes.h"
#include "ui/Messages.h"
#include "ui/StatusPanel.h"
#include "wizard/CarrierDirectory.h"
#include "wizard/Wizard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QThread>
#include <QVBoxLayout>
#include <cstdio>
#include <utility>

namespace rp {

namespace {

void FillSystemDeps(TRingpostDeps& deps, TRingpostForm& form) {
    if (!deps.Boxes)
        deps.Boxes = std::make_shared<TQtMessageBoxes>(&form);
    if (!deps.Help)
        deps.Help = std::make_shared<THelpWindow>();
    if (!deps.CreateEngine)
        deps.CreateEngine =
            SystemEngineFactory([&form](const QString& notice) { form.ShowStatusNotice(notice); });
    if (!deps.TrayAvailable)
        deps.TrayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
    if (!deps.Sleep)
        deps.Sleep = [](int milliseconds) { QThread::msleep(milliseconds); };
    if (!deps.CreateTicker)
        deps.CreateTicker = &CreateQtTicker;
    if (!deps.FindDesktopCalendars)
        deps.FindDesktopCalendars = [] {
            return DesktopCalendarsOnOffer(mailstore::DefaultProfilePath());
        };
}

} // namespace

QString ApplicationTitle(const QString& executablePath) {
    const QString name = QFileInfo(executablePath).fileName().section(QLatin1Char('.'), 0, 0);
    return name.left(1).toUpper() + name.mid(1).toLower();
}

QString ProcessCommandLine() {
    QStringList words = QCoreApplication::arguments();
    if (!words.isEmpty())
        words.first() = QCoreApplication::applicationFilePath();
    return words.join(QLatin1Char(' '));
}

TRingpostForm::TRingpostForm(TRingpostDeps deps, QWidget* parent)
    : QMainWindow(parent), deps(std::move(deps)), store(*this->deps.Registry) {
    FillSystemDeps(this->deps, *this);
    bridge = std::make_unique<TEngineHostBridge>(
        settings, [this](const QString& text) { SetStatusText(text); },
        [this](const QString& text) { this->deps.Boxes->Error(text); });
    bridge->OnHealthChanged([this] { ShowSourceHealth(); });
    BuildWindow();
}

TRingpostForm::~TRingpostForm() {
    // Only reached with a live engine when the close sequence never ran.
    if (processor) {
        bridge->BeginClosing();
        processor->Stop();
        processor.reset();
    }
    RemoveTrayIcon();
}

// ---- Building the window ----

void TRingpostForm::BuildWindow() {
    setObjectName(QStringLiteral("RingpostForm"));
    setWindowTitle(QStringLiteral("Ringpost"));
    setWindowIcon(ApplicationIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    CreateActions();
    BuildToolBar();
    BuildMenus();
    BuildBody();
    BuildStatusBar();
    BuildTimers();
    FixWindowSize();
}

void TRingpostForm::BuildBody() {
    auto* body = new QWidget(this);
    auto* label1 = new QLabel(QStringLiteral("Ringpost, Linking you to your information. "), body);
    label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = label1->font();
    bold.setBold(true);
    label1->setFont(bold);
    label1->setAlignment(Qt::AlignCenter);

    auto* label3 = new QLabel(body);
    label3->setObjectName(QStringLiteral("Label3"));
    label3->setText(QStringLiteral("<a href=\"about\" style=\"color:navy;\">%1</a>")
                        .arg(QLatin1String(MakerLinkText)));
    label3->setTextFormat(Qt::RichText);
    label3->setAlignment(Qt::AlignCenter);
    label3->setCursor(Qt::PointingHandCursor);
    label3->setToolTipDuration(6000);
    connect(label3, &QLabel::linkActivated, this, &TRingpostForm::ShowAboutPage);

    auto* layout = new QVBoxLayout(body);
    layout->addStretch(1);
    layout->addWidget(label1);
    layout->addSpacing(6);
    layout->addWidget(label3);
    layout->addStretch(1);
    setCentralWidget(body);
}

void TRingpostForm::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    bar->setToolTipDuration(6000);
    panel0 = new TStatusPanel(QStringLiteral("Panel0"), bar);
    bar->addWidget(panel0, 1);
    healthPanel = new TStatusPanel(QStringLiteral("SourceHealth"), bar);
    QPalette alert = healthPanel->palette();
    alert.setColor(QPalette::WindowText, QColor(170, 0, 0));
    healthPanel->setPalette(alert);
    healthPanel->hide();
    bar->addWidget(healthPanel, 1);
}

void TRingpostForm::BuildTimers() {
    Timer1 = deps.CreateTicker(deps.Intervals.Watchdog, [this] { WatchdogTick(); });
    Timer2 = deps.CreateTicker(deps.Intervals.FirstRunNotice, [this] { FirstRunNoticeTick(); });
    TestSender = deps.CreateTicker(deps.Intervals.TestSender, [this] { SendTestMessage(); });
    noticeHold = deps.CreateTicker(StatusNoticeMs, [this] { EndStatusNotice(); });
}

// The old form's client area was 375 x 178; the window grows beyond it where the
// desktop's fonts need more room, and never changes size after that.
void TRingpostForm::FixWindowSize() {
    const int menuHeight = menuBar()->isNativeMenuBar() ? 0 : menuBar()->sizeHint().height();
    const QSize designed(375, 178 + menuHeight);
    setFixedSize(sizeHint().expandedTo(designed));
}

void TRingpostForm::Post(QEvent::Type type) {
    QCoreApplication::postEvent(this, new QEvent(type));
}

// ---- Creation and the private requests ----

void TRingpostForm::Create() {
    LoadSettings();
    if (FirstRun)
        LookForDesktopCalendars();
    Post(WM_STARTENGINE);
    AddTrayIcon();
}

bool TRingpostForm::event(QEvent* event) {
    // Our request numbers are not members of QEvent::Type.
    switch (int(event->type())) {
    case WM_SHOWWIZARD:
        OnShowWizard();
        return true;
    case WM_RELOADSETTINGS:
        LoadSettings();
        return true;
    case WM_SAVESETTINGS:
        SaveSettings();
        return true;
    case WM_STARTENGINE:
        StartEngine();
        return true;
    case WM_TRAYNOTIFY:
        OnTrayNotify(static_cast<TTrayNotifyEvent*>(event)->lParam);
        return true;
    default:
        return QMainWindow::event(event);
    }
}

void TRingpostForm::OnShowWizard() {
    if (processor && FirstRun) {
        FirstRun = false;
        Timer2->start();
    }
    if (deps.ShowWizard) {
        deps.ShowWizard(*this);
        return;
    }
    if (!wizard)
        wizard = std::make_unique<TWizard>(*this);
    wizard->Show();
}

void TRingpostForm::StartEngine() {
    processor = deps.CreateEngine(*bridge);
    if (deps.CommandLine.contains(QLatin1String("debug")))
        processor->SetDebugging(true);
    if (SettingsLoaded) {
        HideToTray();
        WarnOfClosedGateway(RecipientAddress());
    }
    Timer1->start();
}

// The old program told its maker about each new user here. Ringpost sends nothing
// on its own: only the user's notices and test messages leave the machine.
void TRingpostForm::FirstRunNoticeTick() {
    if (++firstRunNoticeTicks >= 5)
        Timer2->stop();
}

// ---- Settings ----

void TRingpostForm::LoadSettings() {
    store.LoadSettings(*this);
    carrierPicked = false; // the stored carrier is not the wizard's pick
}

void TRingpostForm::SaveSettings() {
    try {
        store.SaveSettings(*this);
    } catch (const std::exception& error) {
        deps.Boxes->Error(QString::fromLocal8Bit(error.what()));
    }
}

namespace {

template <class Field, class Value>
void Store(TSharedSettings& settings, Field SettingsRecord::*field, const Value& value) {
    settings.Update([&](SettingsRecord& record) { record.*field = value; });
}

} // namespace

// The flag setters also set the check mark, so menus and buttons always show the flag.
void TRingpostForm::SetMeetingNotify(bool value) {
    Store(settings, &SettingsRecord::MeetingNotify, value);
    actMeetingNotification->setChecked(value);
}

void TRingpostForm::SetMorningNotify(bool value) {
    Store(settings, &SettingsRecord::MorningNotify, value);
    actMorningMeeting->setChecked(value);
}

void TRingpostForm::SetEveningNotify(bool value) {
    Store(settings, &SettingsRecord::EveningNotify, value);
    actEveningMeetingNotification->setChecked(value);
}

void TRingpostForm::SetTaskNotify(bool value) {
    Store(settings, &SettingsRecord::TaskNotify, value);
    actTaskNotification->setChecked(value);
}

void TRingpostForm::SetTaskPreNotify(bool value) {
    Store(settings, &SettingsRecord::TaskPreNotify, value);
    actTaskPreReminder->setChecked(value);
}

void TRingpostForm::SetTaskReminder(bool value) {
    Store(settings, &SettingsRecord::TaskReminder, value);
    actTaskReminder->setChecked(value);
}

void TRingpostForm::SetUrgentEmail(bool value) {
    Store(settings, &SettingsRecord::UrgentEmail, value);
    actUrgentEmail->setChecked(value);
}

void TRingpostForm::SetTaskRemindPeriod(int32_t value) {
    Store(settings, &SettingsRecord::TaskRemindPeriod, value);
}

void TRingpostForm::SetPin(const QString& value) {
    Store(settings, &SettingsRecord::Pin, value);
}

void TRingpostForm::SetService(uint8_t value) {
    Store(settings, &SettingsRecord::Service, value);
    carrierPicked = true;
}

void TRingpostForm::SetEarlyTime(TDateTime value) {
    Store(settings, &SettingsRecord::EarlyTime, value);
}

void TRingpostForm::SetLateTime(TDateTime value) {
    Store(settings, &SettingsRecord::LateTime, value);
}

void TRingpostForm::SetCustomAddr(const QString& value) {
    Store(settings, &SettingsRecord::CustomAddr, value);
}

void TRingpostForm::SetCustomEmail(const QString& value) {
    Store(settings, &SettingsRecord::CustomEmail, value);
}

QString TRingpostForm::RecipientAddress() const {
    return rp::RecipientAddress(settings.Snapshot());
}

QSize TRingpostForm::ScreenSize() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize();
}

void TRingpostForm::ShowWelcomeBox() {
    deps.Boxes->Information(QLatin1String(WelcomeText));
}

void TRingpostForm::ShowRegistryError(const QString& details) {
    deps.Boxes->Plain(QLatin1String(RegistryErrorText) + QStringLiteral("\n\n") + details);
}

void TRingpostForm::ShowNotice(const QString& text) {
    if (quietSave) {
        std::fprintf(stderr, "Ringpost: %s\n", qPrintable(text));
        return;
    }
    deps.Boxes->Warning(text);
}

void TRingpostForm::PostShowWizard() {
    Post(WM_SHOWWIZARD);
}

void TRingpostForm::PostSaveSettings() {
    Post(WM_SAVESETTINGS);
}

void TRingpostForm::PostReloadSettings() {
    Post(WM_RELOADSETTINGS);
}

void TRingpostForm::ShowHelpTopic(int helpContext) {
    deps.Help->ShowTopic(helpContext);
}

// ---- Status panel ----

// Resting the mouse on the bar shows the whole text, however narrow the panel.
void TRingpostForm::SetStatusText(const QString& text) {
    progressText = text;
    if (noticeHold->isActive())
        return;
    panel0->SetFullText(text);
    statusBar()->setToolTip(text);
}

// Over panel 0 for a while, so the engine's next progress texts do not wipe it out.
void TRingpostForm::ShowStatusNotice(const QString& text) {
    std::fprintf(stderr, "Ringpost: %s\n", qPrintable(text));
    panel0->SetFullText(text);
    statusBar()->setToolTip(text);
    noticeHold->start();
}

// After the notice held now, or at once when none is held.
void TRingpostForm::QueueStatusNotice(const QString& text) {
    if (!noticeHold->isActive()) {
        ShowStatusNotice(text);
        return;
    }
    queuedNotice = text;
}

void TRingpostForm::EndStatusNotice() {
    if (!queuedNotice.isEmpty()) {
        ShowStatusNotice(std::exchange(queuedNotice, QString()));
        return;
    }
    noticeHold->stop();
    panel0->SetFullText(progressText);
    statusBar()->setToolTip(progressText);
}

QString TRingpostForm::StatusText() const {
    return panel0->FullText();
}

void TRingpostForm::ReportSourceHealth(const QString& source, const QString& problem) {
    bridge->ReportSourceHealth(source, problem);
}

QList<TSourceProblem> TRingpostForm::SourceProblems() const {
    return bridge->Health().Problems();
}

// The first problem in its panel, all of them in its tooltip and the tray's.
void TRingpostForm::ShowSourceHealth() {
    const QList<TSourceProblem> problems = SourceProblems();
    QStringList lines;
    for (const TSourceProblem& problem : problems)
        lines.append(problem.problem);
    healthPanel->SetFullText(lines.value(0));
    healthPanel->setToolTip(lines.join(QLatin1Char('\n')));
    healthPanel->setVisible(!problems.isEmpty());
    ShowTrayHealth(lines);
}

// ---- Supervision and close ----

bool TRingpostForm::EngineRunning() const {
    return bridge->EngineRunning();
}

void TRingpostForm::WatchdogTick() {
    // The ticks go on while the box is open; one box at a time is enough.
    if (!Timer1->isActive() || EngineRunning() || watchdogBoxOpen)
        return;
    watchdogBoxOpen = true;
    deps.Boxes->Error(QLatin1String(EngineDiedText));
    watchdogBoxOpen = false;
}

void TRingpostForm::closeEvent(QCloseEvent* event) {
    if (closing) {
        event->accept();
        return;
    }
    if (!CloseQuery()) {
        event->ignore();
        return;
    }
    CloseSequence();
    event->accept();
}

bool TRingpostForm::CloseQuery() {
    StopTestSend();
    if (SessionEnding)
        return true;
    if (deps.Boxes->Confirm(QLatin1String(CloseQueryText)))
        return true;
    HideToTray();
    return false;
}

void TRingpostForm::CloseSequence() {
    SaveOnClose();
    closing = true;
    Timer1->stop();
    Timer2->stop();
    if (processor)
        StopEngine();
    RemoveTrayIcon();
    emit Closed();
}

// Toggles switched since the last hide would be lost otherwise. A first run whose
// wizard never finished stays unconfigured, so the next start greets the user again;
// and what an open, unfinished wizard run has set is left out, as leaving it would.
void TRingpostForm::SaveOnClose() {
    if (!store.Configured() || (wizard && wizard->IsOpen()))
        return;
    if (!SessionEnding) {
        SaveSettings();
        return;
    }
    // A box now would hold up the logout; what it would say goes to the session's log.
    quietSave = true;
    try {
        store.SaveSettings(*this);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Ringpost: the settings were not saved: %s\n", error.what());
    }
    quietSave = false;
}

void TRingpostForm::StopEngine() {
    // An error box the engine is waiting for must not hold up the wait below.
    bridge->BeginClosing();
    processor->Stop();
    processor->SignalWake();
    noticeHold->stop();
    SetStatusText(QLatin1String(ShutdownText));
    statusBar()->repaint();
    for (int sleeps = 0; EngineRunning() && sleeps < EngineStopSleeps; ++sleeps)
        deps.Sleep(EngineStopSleepMs);
    // The engine's destructor waits for its thread and writes the debug log.
    processor.reset();
}

void TRingpostForm::BringForward() {
    if (closing)
        return;
    ShowFromTray();
    if (QWidget* front = QApplication::activeModalWidget(); front && front != this) {
        front->raise();
        front->activateWindow();
    }
}

void TRingpostForm::EndSession() {
    SessionEnding = true;
    if (!closing)
        close();
}

} // namespace rp
