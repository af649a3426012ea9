// SPDX-License-Identifier: GPL-3.0-or-later
// The notice toggles, the test message and its repetition, the debug switch,
// help, hide and exit, as the toolbar, the menus and the shortcuts reach them.

#include "FormFixture.h"

#include "ui/EngineHostBridge.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

using namespace rp;
using namespace rp::uitest;

namespace {

class CommandsTest : public FormTest {
protected:
    void StartConfiguredAndShown() {
        WriteConfiguredStore();
        Start();
        form->ShowFromTray();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    QToolButton* Button(const char* name) const {
        return form->findChild<QToolBar*>(QStringLiteral("ToolBar1"))
            ->findChild<QToolButton*>(QLatin1String(name));
    }

    // The words a caption shows: "&&" is one "&", a single "&" marks the next letter.
    static QString Shown(const QString& caption) {
        QString shown;
        for (qsizetype at = 0; at < caption.size(); ++at) {
            if (caption[at] == QLatin1Char('&') && at + 1 < caption.size())
                ++at;
            shown += caption[at];
        }
        return shown;
    }
    // The letter after a single "&", lower case; empty when there is none.
    static QString Mnemonic(const QString& caption) {
        for (qsizetype at = 0; at + 1 < caption.size(); ++at) {
            if (caption[at] != QLatin1Char('&'))
                continue;
            if (caption[at + 1] != QLatin1Char('&'))
                return caption.mid(at + 1, 1).toLower();
            ++at;
        }
        return {};
    }

    QMenu* Menu(const QString& title) const {
        for (QAction* menuAction : form->menuBar()->actions())
            if (Shown(menuAction->text()) == title)
                return menuAction->menu();
        return nullptr;
    }

    QStringList MenuItems(const QString& title) const {
        QStringList items;
        if (QMenu* menu = Menu(title))
            for (QAction* item : menu->actions())
                items << (item->isSeparator() ? QStringLiteral("-") : Shown(item->text()));
        return items;
    }
};

struct TToggle {
    QAction* TRingpostForm::*action;
    bool SettingsRecord::*flag;
    const char* button;
    const char* stored;
};

const TToggle Toggles[] = {
    {&TRingpostForm::actMeetingNotification, &SettingsRecord::MeetingNotify, "ToolButton1",
     "MeetingNotify"},
    {&TRingpostForm::actMorningMeeting, &SettingsRecord::MorningNotify, "ToolButton2",
     "MorningNotify"},
    {&TRingpostForm::actEveningMeetingNotification, &SettingsRecord::EveningNotify, "ToolButton3",
     "EveningNotify"},
    {&TRingpostForm::actTaskNotification, &SettingsRecord::TaskNotify, "ToolButton5", "TaskNotify"},
    {&TRingpostForm::actTaskPreReminder, &SettingsRecord::TaskPreNotify, "ToolButton6",
     "TaskPreNotify"},
    {&TRingpostForm::actTaskReminder, &SettingsRecord::TaskReminder, "ToolButton7", "TaskReminder"},
    {&TRingpostForm::actUrgentEmail, &SettingsRecord::UrgentEmail, "ToolButton9", "UrgentEmail"},
};

TEST_F(CommandsTest, EachToggleClickedTwiceRestoresFlagAndButtonAndSavesNothing) {
    StartConfiguredAndShown();
    const QByteArray before = StoreBytes();
    for (const TToggle& toggle : Toggles) {
        QToolButton* button = Button(toggle.button);
        ASSERT_TRUE(button) << toggle.button;
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_TRUE(form->Settings().*toggle.flag) << toggle.stored;
        EXPECT_TRUE(button->isChecked()) << toggle.button;
        EXPECT_TRUE((form.get()->*toggle.action)->isChecked()) << toggle.stored;
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_FALSE(form->Settings().*toggle.flag) << toggle.stored;
        EXPECT_FALSE(button->isChecked()) << toggle.button;
    }
    EXPECT_EQ(StoreBytes(), before);
}

TEST_F(CommandsTest, AToggleReachesTheStoreAtTheNextHide) {
    StartConfiguredAndShown();
    for (const TToggle& toggle : Toggles)
        (form.get()->*toggle.action)->trigger();
    EXPECT_EQ(Stored("MeetingNotify"), "0");
    form->actHide->trigger();
    EXPECT_FALSE(form->isVisible());
    for (const TToggle& toggle : Toggles)
        EXPECT_EQ(Stored(QLatin1String(toggle.stored)), "1") << toggle.stored;
}

TEST_F(CommandsTest, SettersFromLoadingOrTheWizardShowOnButtonsAndMenus) {
    StartConfiguredAndShown();
    form->SetEveningNotify(true);
    EXPECT_TRUE(Button("ToolButton3")->isChecked());
    EXPECT_TRUE(form->actEveningMeetingNotification->isChecked());
}

TEST_F(CommandsTest, TheTestMessageFillsTheEngineSlotWithTheCurrentAddress) {
    StartConfiguredAndShown();
    QTest::mouseClick(Button("ToolButton11"), Qt::LeftButton);
    ASSERT_EQ(engine.messages.size(), 1);
    EXPECT_EQ(engine.messages[0].recipient, "5551234567@messaging.sprintpcs.com");
    EXPECT_EQ(engine.messages[0].subject, "Ringpost Test message");
    EXPECT_EQ(engine.messages[0].body, "If you got this message Ringpost Notification is working.");

    // Carrier 8 sends to the custom address, whatever the number.
    form->SetService(8);
    form->SetCustomEmail(QStringLiteral("me@push.example"));
    form->actSettings->trigger();
    EXPECT_EQ(engine.messages.last().recipient, "me@push.example");
}

TEST_F(CommandsTest, TestMessageAndDebugSwitchBeforeTheEngineExistsDoNothing) {
    form = std::make_unique<TRingpostForm>(Deps());
    form->Create(); // WM_STARTENGINE not yet handled
    boxes->calls.clear();
    form->actSettings->trigger();
    form->actDebug->trigger();
    EXPECT_TRUE(engine.messages.isEmpty());
    EXPECT_TRUE(boxes->calls.isEmpty());
}

TEST_F(CommandsTest, ShiftAltF12TwiceSwitchesTheDebugLogOnThenOff) {
    StartConfiguredAndShown();
    QTest::keyClick(form.get(), Qt::Key_F12, Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_TRUE(engine.debugging);
    QTest::keyClick(form.get(), Qt::Key_F12, Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_FALSE(engine.debugging);
    EXPECT_EQ(boxes->Texts(), (QStringList{"Debugging Is On!!", "Debugging Is Off!!"}));
    EXPECT_EQ(boxes->calls.first().kind, "information");
}

TEST_F(CommandsTest, StartedWithDebugTheFirstSwitchTurnsItOff) {
    commandLine = QStringLiteral("/usr/bin/ringpost debug");
    StartConfiguredAndShown();
    QTest::keyClick(form.get(), Qt::Key_F12, Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_EQ(boxes->Texts(), QStringList{"Debugging Is Off!!"});
}

TEST_F(CommandsTest, CtrlAltSRepeatsTheTestMessageUntilPressedAgain) {
    // Every 5 s: about 12 seconds bring two messages.
    StartConfiguredAndShown();
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    ticks.Advance(12000);
    EXPECT_EQ(engine.messages.size(), 2);
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
    ticks.Advance(11250);
    EXPECT_EQ(engine.messages.size(), 2);
}

TEST_F(CommandsTest, AnyCloseQueryStopsTheRepetitionEvenWhenRefused) {
    StartConfiguredAndShown();
    form->StartTestSend->trigger();
    ASSERT_TRUE(form->TestSender->isActive());
    boxes->confirmAnswer = false;
    form->close();
    EXPECT_FALSE(form->TestSender->isActive());
}

TEST_F(CommandsTest, F5RequestsTheWizardAndF1ShowsTheHelpContents) {
    StartConfiguredAndShown();
    QTest::keyClick(form.get(), Qt::Key_F5);
    EXPECT_TRUE(wizardRequests.isEmpty()); // posted, not yet handled
    RunPosted();
    EXPECT_EQ(wizardRequests, QStringList{"after engine"});
    QTest::keyClick(form.get(), Qt::Key_F1);
    EXPECT_EQ(help->shown, QList<int>{-1});
    form->ShowHelpTopic(25);
    EXPECT_EQ(help->shown.last(), 25);
}

TEST_F(CommandsTest, ExitAsksThroughThePostedCloseAndHideHides) {
    StartConfiguredAndShown();
    boxes->confirmAnswer = false;
    form->actExit->trigger();
    EXPECT_TRUE(boxes->calls.isEmpty());
    RunPosted();
    EXPECT_EQ(boxes->Texts(), QStringList{"Do you really want to stop Ringpost?"});
    EXPECT_EQ(engine.destroyed, 0);

    form->ShowFromTray();
    boxes->confirmAnswer = true;
    form->actExit->trigger();
    RunPosted();
    EXPECT_EQ(engine.destroyed, 1);
    EXPECT_EQ(closedSignals, 1);
}

TEST_F(CommandsTest, UpgradeCheckOpensTheBundledPageOnUpgrading) {
    StartConfiguredAndShown();
    form->actUpgradeCheck->trigger();
    EXPECT_EQ(help->shown, QList<int>{HelpContextAbout});
}

TEST_F(CommandsTest, TheUrgentMailButtonKeepsItsOwnHint) {
    const QString own = QStringLiteral("Notifies your cell when an urgent email arrives.");
    WriteConfiguredStore();
    {
        TRegistryFile file(SettingsPath());
        file.Reload();
        file.OpenKey(QLatin1String(SettingsKeyPath));
        file.WriteBool(QStringLiteral("UrgentEmail"), true);
        file.Flush();
    }
    Start();
    form->ShowFromTray();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QToolButton* button = Button("ToolButton9");
    ASSERT_TRUE(button);
    // Loaded on: the setter's check mark changed the action once already.
    EXPECT_TRUE(button->isChecked());
    EXPECT_EQ(button->toolTip(), own);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(button->isChecked());
    EXPECT_EQ(button->toolTip(), own);
    form->actUrgentEmail->trigger();
    EXPECT_TRUE(button->isChecked());
    EXPECT_EQ(button->toolTip(), own);
    // The action keeps its own hint, which the menu item shows.
    EXPECT_EQ(form->actUrgentEmail->toolTip(), "Notifies you cell when an urgent email arrives.");
    // The other buttons still follow their actions.
    EXPECT_EQ(Button("ToolButton1")->toolTip(), form->actMeetingNotification->toolTip());
}

TEST_F(CommandsTest, MenusListTheActionsInTheirOrder) {
    StartConfiguredAndShown();
    EXPECT_EQ(MenuItems("Settings"),
              (QStringList{"Meeting Notification", "Morning 1st Meeting Notification",
                           "Evening Next Days First Meeting", "-", "Task Notifications",
                           "Past Due Task Reminder", "Pre Notification For Tasks", "-",
                           "Urgent Email Notification", "-", "Send a Test Message",
                           "Run Configuration Wizard...", "-", "Mail Store..."}));
    EXPECT_EQ(MenuItems("Help"),
              (QStringList{"Application Help", "-", "Check For Upgrades or Patches"}));
    EXPECT_EQ(MenuItems("Quit"), (QStringList{"Hide Program", "-", "Exit Program"}));
    EXPECT_EQ(Button("ToolButton9")->toolTip(), "Notifies your cell when an urgent email arrives.");
    EXPECT_EQ(form->actUrgentEmail->toolTip(), "Notifies you cell when an urgent email arrives.");
}

// Alt and a letter reach every menu and item without the mouse; F10 opens the first menu.
TEST_F(CommandsTest, EveryMenuAndItemHasItsOwnUnderlinedLetterAndF10OpensTheMenus) {
    StartConfiguredAndShown();
    QStringList titleKeys;
    for (QAction* menuAction : form->menuBar()->actions()) {
        SCOPED_TRACE(menuAction->text().toStdString());
        const QString key = Mnemonic(menuAction->text());
        EXPECT_FALSE(key.isEmpty());
        EXPECT_FALSE(titleKeys.contains(key));
        titleKeys << key;
        QStringList itemKeys;
        for (QAction* item : menuAction->menu()->actions()) {
            if (item->isSeparator())
                continue;
            SCOPED_TRACE(item->text().toStdString());
            const QString itemKey = Mnemonic(item->text());
            EXPECT_FALSE(itemKey.isEmpty());
            EXPECT_FALSE(itemKeys.contains(itemKey));
            itemKeys << itemKey;
        }
    }
    EXPECT_EQ(titleKeys, (QStringList{"s", "h", "q"}));
    // The toolbar's hints and the actions' tooltips show no marks.
    EXPECT_EQ(form->actHide->toolTip(), "Hide Program");

    QTest::keyClick(form.get(), Qt::Key_F10);
    EXPECT_EQ(form->menuBar()->activeAction(), Menu("Settings")->menuAction());
    QTest::keyClick(form->menuBar(), Qt::Key_Escape);
    QTest::keyClick(form.get(), Qt::Key_Q, Qt::AltModifier);
    QTRY_VERIFY(Menu("Quit")->isVisible());
    QTest::keyClick(Menu("Quit"), Qt::Key_H);
    QTRY_VERIFY(!form->isVisible());
}

// ---- The recipient address the engine asks the window for ----

class RecipientAddressTest : public FormTest {
protected:
    QString AddressFor(uint8_t service, const QString& pin, const QString& customEmail) {
        form->SetService(service);
        form->SetPin(pin);
        form->SetCustomEmail(customEmail);
        return engine.host->RecipientAddress();
    }
};

TEST_F(RecipientAddressTest, EveryCarrierIndexGivesItsGatewayOrTheCustomAddress) {
    Start();
    const QString pin = QStringLiteral("5551234567");
    const QString custom = QStringLiteral("pager@example.net");
    const char* const expected[] = {
        "5551234567@mobile.att.net",
        "5551234567@cingularme.com",
        "5551234567@messaging.nextel.com",
        "5551234567@email.uscc.net",
        "5551234567@messaging.sprintpcs.com",
        "5551234567@vtext.com",
        "5551234567@tmomail.net",
        "5551234567@qwestmp.com",
        "pager@example.net",
    };
    for (uint8_t service = 0; service <= 8; ++service)
        EXPECT_EQ(AddressFor(service, pin, custom), QLatin1String(expected[service])) << service;
    EXPECT_EQ(AddressFor(9, pin, custom), "");
    EXPECT_EQ(AddressFor(255, pin, custom), "");
}

TEST_F(RecipientAddressTest, NothingIsTrimmedOrCheckedAndTheRegionDoesNotMatter) {
    Start();
    EXPECT_EQ(AddressFor(5, QString(), QString()), "@vtext.com");
    EXPECT_EQ(AddressFor(8, QStringLiteral("5551234567"), QStringLiteral(" me @ x.org ")),
              " me @ x.org ");
    EXPECT_EQ(AddressFor(8, QStringLiteral("5551234567"), QString()), "");
    form->SetCustomAddr(QStringLiteral("other.example"));
    EXPECT_EQ(AddressFor(1, QStringLiteral("5551234567"), QString()), "5551234567@cingularme.com");
}

} // namespace
