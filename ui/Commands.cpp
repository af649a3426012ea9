// SPDX-License-Identifier: GPL-3.0-or-later
// The action list of the main window, its toolbar and menus, and the commands.

#include "platform/gui/Help.h"
#include "platform/gui/MailStoreDialog.h"
#include "ui/Icons.h"
#include "ui/MessageBoxes.h"
#include "ui/Messages.h"
#include "ui/RingpostForm.h"

#include <QAction>
#include <QActionEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>

namespace rp {

QAction* TRingpostForm::NewAction(const char* name, const QString& caption, const QString& hint,
                                  int image) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    if (!hint.isEmpty())
        action->setToolTip(hint);
    if (image >= 0)
        action->setIcon(ListImage(image));
    // Reachable by shortcut even where no menu or button shows it.
    addAction(action);
    return action;
}

QAction* TRingpostForm::NewToggle(const char* name, const QString& caption, const QString& hint,
                                  int image, void (TRingpostForm::*setter)(bool)) {
    QAction* action = NewAction(name, caption, hint, image);
    action->setCheckable(true);
    // The action has already inverted its mark; the setter stores the new value.
    connect(action, &QAction::triggered, this,
            [this, setter](bool checked) { (this->*setter)(checked); });
    return action;
}

void TRingpostForm::CreateActions() {
    const QString meetings = QStringLiteral("Meetings");
    actMeetingNotification =
        NewToggle("actMeetingNotification", QStringLiteral("&Meeting Notification"),
                  QStringLiteral("Notify your cell phone when a meeting reminder occurs."),
                  ImgMeeting, &TRingpostForm::SetMeetingNotify);
    actMeetingNotification->setProperty("Category", meetings);
    actTaskNotification =
        NewToggle("actTaskNotification", QStringLiteral("&Task Notifications"),
                  QStringLiteral("Notifies your cell when you task reminder occurs."), ImgTask,
                  &TRingpostForm::SetTaskNotify);
    actMorningMeeting = NewToggle(
        "actMorningMeeting", QStringLiteral("M&orning 1st Meeting Notification"),
        QStringLiteral(
            "Notifies your cell at your set morning time of your first meeting of the day."),
        ImgMorning, &TRingpostForm::SetMorningNotify);
    actMorningMeeting->setProperty("Category", meetings);
    actEveningMeetingNotification = NewToggle(
        "actEveningMeetingNotification", QStringLiteral("&Evening Next Days First Meeting"),
        QStringLiteral("Notifies you in the evening of the first meeting of the next day."),
        ImgEvening, &TRingpostForm::SetEveningNotify);
    actEveningMeetingNotification->setProperty("Category", meetings);
    actTaskReminder =
        NewToggle("actTaskReminder", QStringLiteral("&Past Due Task Reminder"),
                  QStringLiteral("Reminder you ever day when tasks haven't been completed."),
                  ImgTaskPastDue, &TRingpostForm::SetTaskReminder);
    actTaskPreReminder =
        NewToggle("actTaskPreReminder", QStringLiteral("P&re Notification For Tasks"),
                  QStringLiteral("Notifies you the day before your task is due."), ImgTaskPre,
                  &TRingpostForm::SetTaskPreNotify);
    actSettings = NewAction("actSettings", QStringLiteral("Settings..."),
                            QStringLiteral("Testing Message"), ImgTestMessage);
    connect(actSettings, &QAction::triggered, this, &TRingpostForm::SendTestMessage);
    actUrgentEmail = NewToggle("actUrgentEmail", QStringLiteral("&Urgent Email Notification"),
                               QStringLiteral("Notifies you cell when an urgent email arrives."),
                               ImgUrgentEmail, &TRingpostForm::SetUrgentEmail);
    actConfigWizard = NewAction(
        "actConfigWizard", QStringLiteral("Run Configuration &Wizard..."),
        QStringLiteral("Configure this program using the configuration wizard."), ImgWizard);
    actConfigWizard->setShortcut(QKeySequence(Qt::Key_F5));
    connect(actConfigWizard, &QAction::triggered, this, [this] { PostShowWizard(); });
    actHelp = NewAction("actHelp", QStringLiteral("&Application Help"), {}, ImgHelp);
    actHelp->setShortcut(QKeySequence(Qt::Key_F1));
    connect(actHelp, &QAction::triggered, this, [this] { deps.Help->ShowContents(); });
    actHide = NewAction("actHide", QStringLiteral("&Hide Program"), {}, ImgHide);
    connect(actHide, &QAction::triggered, this, &TRingpostForm::HideToTray);
    actExit = NewAction("actExit", QStringLiteral("&Exit Program"), {}, ImgExit);
    // Posted, like the close request it stands for.
    connect(actExit, &QAction::triggered, this, &QWidget::close, Qt::QueuedConnection);
    actDebug = NewAction("actDebug", QStringLiteral("actDebug"), {}, -1);
    actDebug->setShortcut(QKeySequence(Qt::SHIFT | Qt::ALT | Qt::Key_F12));
    connect(actDebug, &QAction::triggered, this, &TRingpostForm::ToggleDebugging);
    StartTestSend = NewAction("StartTestSend", QStringLiteral("StartTestSend"), {}, -1);
    StartTestSend->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
    connect(StartTestSend, &QAction::triggered, this, &TRingpostForm::ToggleTestSend);
    actUpgradeCheck = NewAction("actUpgradeCheck", QStringLiteral("&Check For Upgrades or Patches"),
                                {}, ImgUpgrade);
    connect(actUpgradeCheck, &QAction::triggered, this, &TRingpostForm::ShowAboutPage);
}

namespace {

void AddSeparator(QToolBar* bar) {
    auto* gap = new QWidget(bar);
    gap->setFixedWidth(8);
    bar->addWidget(gap);
}

void AddButton(QToolBar* bar, QAction* action, const char* name) {
    bar->addAction(action);
    QWidget* button = bar->widgetForAction(action);
    button->setObjectName(QLatin1String(name));
    button->setToolTipDuration(6000);
}

// A toolbar button whose hint is its own, not its action's. A tool button takes the
// action's tooltip again at every change of the action, a toggle included.
class TOwnHintButton : public QToolButton {
public:
    TOwnHintButton(QAction* action, const QString& hint, QToolBar* bar)
        : QToolButton(bar), hint(hint) {
        // What the toolbar gives the buttons it makes itself.
        setAutoRaise(true);
        setFocusPolicy(Qt::NoFocus);
        setIconSize(bar->iconSize());
        setToolButtonStyle(bar->toolButtonStyle());
        setDefaultAction(action);
        setToolTip(hint);
    }

protected:
    void actionEvent(QActionEvent* event) override {
        QToolButton::actionEvent(event);
        setToolTip(hint);
    }

private:
    QString hint;
};

void AddOwnHintButton(QToolBar* bar, QAction* action, const char* name, const QString& hint) {
    auto* button = new TOwnHintButton(action, hint, bar);
    button->setObjectName(QLatin1String(name));
    button->setToolTipDuration(6000);
    bar->addWidget(button);
}

} // namespace

void TRingpostForm::BuildToolBar() {
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(32, 32));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    AddButton(bar, actMeetingNotification, "ToolButton1");
    AddButton(bar, actMorningMeeting, "ToolButton2");
    AddButton(bar, actEveningMeetingNotification, "ToolButton3");
    AddSeparator(bar);
    AddButton(bar, actTaskNotification, "ToolButton5");
    AddButton(bar, actTaskPreReminder, "ToolButton6");
    AddButton(bar, actTaskReminder, "ToolButton7");
    AddSeparator(bar);
    AddOwnHintButton(bar, actUrgentEmail, "ToolButton9",
                     QStringLiteral("Notifies your cell when an urgent email arrives."));
    AddSeparator(bar);
    AddButton(bar, actSettings, "ToolButton11");
    AddButton(bar, actConfigWizard, "ToolButton12");
    addToolBar(Qt::TopToolBarArea, bar);
}

void TRingpostForm::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* settingsMenu = bar->addMenu(QStringLiteral("&Settings"));
    settingsMenu->addActions(
        {actMeetingNotification, actMorningMeeting, actEveningMeetingNotification});
    settingsMenu->addSeparator();
    settingsMenu->addActions({actTaskNotification, actTaskReminder, actTaskPreReminder});
    settingsMenu->addSeparator();
    settingsMenu->addAction(actUrgentEmail);
    settingsMenu->addSeparator();
    // The action keeps its caption; its menu item has one of its own.
    QAction* testItem =
        settingsMenu->addAction(actSettings->icon(), QStringLiteral("&Send a Test Message"));
    testItem->setObjectName(QStringLiteral("SendaTestMessage1"));
    connect(testItem, &QAction::triggered, actSettings, &QAction::trigger);
    settingsMenu->addAction(actConfigWizard);
    settingsMenu->addSeparator();
    settingsMenu->addAction(QStringLiteral("M&ail Store..."), this,
                            [this] { ShowMailStoreDialog(this, RecipientAddress()); });

    QMenu* helpMenu = bar->addMenu(QStringLiteral("&Help"));
    helpMenu->addAction(actHelp);
    helpMenu->addSeparator();
    helpMenu->addAction(actUpgradeCheck);

    QMenu* quitMenu = bar->addMenu(QStringLiteral("&Quit"));
    quitMenu->addAction(actHide);
    quitMenu->addSeparator();
    quitMenu->addAction(actExit);

    // F10 opens the first menu, as in other desktop programs; Alt opens them by
    // their underlined letters.
    auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(menuKey, &QShortcut::activated, bar,
            [bar, settingsMenu] { bar->setActiveAction(settingsMenu->menuAction()); });
}

// ---- Commands ----

void TRingpostForm::SendTestMessage() {
    if (!processor)
        return;
    // The engine's texts about what the user just asked for go before an older notice.
    EndStatusNotice();
    processor->QueueMessage(RecipientAddress(), QLatin1String(TestSubject),
                            QLatin1String(TestBody));
    WatchTestDelivery();
}

void TRingpostForm::ToggleTestSend() {
    EndStatusNotice();
    if (TestSender->isActive())
        TestSender->stop();
    else
        TestSender->start();
    ShowTestSendState();
}

void TRingpostForm::StopTestSend() {
    TestSender->stop();
    ShowTestSendState();
}

// The shortcut has no menu item or button, so the status bar is the only place
// that tells the user the messages keep coming, and how to end them.
void TRingpostForm::ShowTestSendState() {
    if (!testSendLabel) {
        if (!TestSender->isActive())
            return;
        const int seconds = std::max(1, TestSender->interval() / 1000);
        testSendLabel = new QLabel(
            QStringLiteral("Repeating every %1 s, Ctrl+Alt+S stops").arg(seconds), statusBar());
        testSendLabel->setObjectName(QStringLiteral("TestSendState"));
        testSendLabel->setToolTip(
            QStringLiteral("A test message is sent every %1 seconds until you press Ctrl+Alt+S "
                           "again in this window.")
                .arg(seconds));
        // The progress text gives way; this one is never cut.
        testSendLabel->setMinimumWidth(testSendLabel->sizeHint().width());
        statusBar()->addPermanentWidget(testSendLabel);
    }
    testSendLabel->setVisible(TestSender->isActive());
}

void TRingpostForm::ToggleDebugging() {
    if (!processor)
        return;
    const bool on = !processor->Debugging();
    processor->SetDebugging(on);
    deps.Boxes->Information(on ? QStringLiteral("Debugging Is On!!")
                               : QStringLiteral("Debugging Is Off!!"));
}

void TRingpostForm::ShowAboutPage() {
    deps.Help->ShowTopic(HelpContextAbout);
}

} // namespace rp
