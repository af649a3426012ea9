// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fake main window and message boxes for driving the wizard in tests.

#include "engine/DateTime.h"
#include "wizard/BaseFrame.h"
#include "wizard/CinglarServiceSelectUnit.h"
#include "wizard/CustomServiceUnit.h"
#include "wizard/FrameAgentInitial.h"
#include "wizard/FrameServiceProvider.h"
#include "wizard/MeetingNotificationUnit.h"
#include "wizard/NewAgentInstallerObj.h"
#include "wizard/PersonnelConfigUnit.h"
#include "wizard/RadioGroup.h"
#include "wizard/TaskManagementUnit.h"
#include "wizard/Wizard.h"
#include "wizard/WizardOwner.h"
#include "wizard/WizardPrompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <vector>

namespace rp::test {

class FakeOwner : public IWizardOwner {
public:
    FakeOwner() { UseFirstRunSettings(); }
    // What loading leaves in memory on a first run.
    void UseFirstRunSettings() {
        record = SettingsRecord{};
        record.Service = 4;
        record.EarlyTime = EncodeTime(7, 0);
        record.LateTime = EncodeTime(19, 0);
        record.TaskRemindPeriod = -1;
    }

    SettingsRecord Settings() const override { return record; }
    void SetMeetingNotify(bool value) override { record.MeetingNotify = value; }
    void SetMorningNotify(bool value) override { record.MorningNotify = value; }
    void SetEveningNotify(bool value) override { record.EveningNotify = value; }
    void SetTaskNotify(bool value) override { record.TaskNotify = value; }
    void SetTaskPreNotify(bool value) override { record.TaskPreNotify = value; }
    void SetTaskReminder(bool value) override { record.TaskReminder = value; }
    void SetUrgentEmail(bool value) override { record.UrgentEmail = value; }
    void SetTaskRemindPeriod(int32_t value) override { record.TaskRemindPeriod = value; }
    void SetPin(const QString& value) override { record.Pin = value; }
    void SetService(uint8_t value) override {
        if (duringSetService)
            duringSetService();
        record.Service = value;
    }
    void SetEarlyTime(TDateTime value) override { record.EarlyTime = value; }
    void SetLateTime(TDateTime value) override { record.LateTime = value; }
    void SetCustomAddr(const QString& value) override { record.CustomAddr = value; }
    void SetCustomEmail(const QString& value) override { record.CustomEmail = value; }

    QWidget* OwnerWidget() override { return nullptr; }
    void PostSaveSettings() override { ++saveRequests; }
    void PostReloadSettings() override { ++reloadRequests; }
    void ShowHelpTopic(int context) override { helpTopics.push_back(context); }
    bool CarrierChosen() const override { return carrierChosen; }
    QString DesktopCalendarsHint() const override { return desktopHint; }
    QString GatewayWarning(const QString& recipient, bool* closed) const override {
        for (const auto& [domain, warning] : gatewayWarnings)
            if (recipient.endsWith(QLatin1Char('@') + domain)) {
                *closed = !warning.contains(QLatin1String("may not"));
                return warning;
            }
        return {};
    }
    bool carrierChosen = true;
    QString desktopHint;
    // Warnings by gateway domain, as the mail store's table gives them.
    QList<std::pair<QString, QString>> gatewayWarnings;

    SettingsRecord record;
    int saveRequests = 0;
    int reloadRequests = 0;
    std::vector<int> helpTopics;
    std::function<void()> duringSetService;
};

class FakePrompts : public IWizardPrompts {
public:
    bool ConfirmExit(QWidget*) override {
        ++exitQuestions;
        return answerYes;
    }
    void ShowError(QWidget*, const QString& text) override { errors.append(text); }

    bool answerYes = false;
    int exitQuestions = 0;
    QStringList errors;
};

// The carriers' rows, as the directory lists them.
constexpr int kAtt = 0;
constexpr int kCingular = 1;
constexpr int kSprint = 4;
constexpr int kVerizon = 5;
constexpr int kOther = 8;

class WizardTest : public ::testing::Test {
public:
    void TearDown() override { wizard.reset(); }

    // Keys as the user types them: to whatever has the focus.
    static QWidget* Focused() { return QApplication::focusWidget(); }
    static void Key(int key) {
        ASSERT_NE(Focused(), nullptr);
        QTest::keyClick(Focused(), Qt::Key(key));
    }
    static void Type(const QString& keys) {
        ASSERT_NE(Focused(), nullptr);
        QTest::keyClicks(Focused(), keys);
    }

    TNewAgentInstaller& Sequence() { return wizard->Sequence(); }
    QWidget* Host() { return wizard->HostWindow(); }
    TGenericFrame* Shown() { return Sequence().ShownPage(); }
    static TGenericFrame* Frame(TGenericFrame* page) { return page; }

    void Open() {
        wizard->Show();
        QApplication::setActiveWindow(Host());
    }
    // Near the left edge: a radio button as wide as its group takes clicks only on
    // its mark and its text.
    void Click(QAbstractButton* button) {
        const QPoint onTheMark(std::min(8, button->width() / 2), button->height() / 2);
        QTest::mouseClick(button, Qt::LeftButton, {}, onTheMark);
    }
    void ClickNext() { Click(Shown()->NextButton); }
    void ClickBack() { Click(Shown()->BackButton); }
    void PressEnter() { QTest::keyClick(Host(), Qt::Key_Return); }
    // Handles the close requests the wizard posts to itself.
    void Settle() { QCoreApplication::processEvents(); }

    // From the introduction to the page after the carrier page.
    void ChooseCarrier(int service) {
        Open();
        ClickNext();
        Click(Sequence().ProviderPage()->rdoServiceProvider->Button(service));
        ClickNext();
    }

    FakeOwner owner;
    FakePrompts prompts;
    std::unique_ptr<TWizard> wizard = std::make_unique<TWizard>(owner, prompts);
};

} // namespace rp::test
