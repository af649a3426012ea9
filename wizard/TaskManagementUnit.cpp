// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/TaskManagementUnit.h"

#include "engine/SettingsRecord.h"
#include "wizard/BaseInstaller.h"
#include "wizard/WizardOwner.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace rp {

namespace {
constexpr int kLeft = 16;
constexpr int kTop = 16;
constexpr int kRightMargin = 24;
constexpr int kRowIndent = 17; // the boxes start at 33, the heading at 16
constexpr int kTextGap = 7;
constexpr int kRowGap = 8;
constexpr int kTextWidth = 313;
constexpr int kPeriodIndent = 80; // "Reminder Period:" starts at 96
constexpr int kPeriodGap = 14;
constexpr int kPeriodWidth = 145;
constexpr int kPeriodRows = 4;
constexpr int kLabelGap = 8;
} // namespace

TTaskManagement::TTaskManagement(TBaseInstaller& installer, ISettingsSetters& settings)
    : TGenericFrame(installer), settings(settings) {
    NextButton->setText(QStringLiteral("&Done"));
    BuildControls();
}

void TTaskManagement::BuildControls() {
    auto* rows = new QGridLayout;
    rows->setContentsMargins(kRowIndent, 2 * kRowGap, 0, 0);
    rows->setHorizontalSpacing(kTextGap);
    rows->setVerticalSpacing(kRowGap);
    rows->setColumnMinimumWidth(1, kTextWidth);
    rows->setColumnStretch(1, 1);
    TaskReminderNotify = AddCheckRow(
        rows, 0,
        QStringLiteral("I wish to be notified via my cell phone when a task remind occurs. That is "
                       "if a task has a reminder setting notify me at the same time outlook would "
                       "notify me at my computer."),
        Body());
    TaskPreReminder = AddCheckRow(
        rows, 1,
        QStringLiteral(
            "I wish to be notified via my cell phone one day prior to my task become due "
            "or be notified once per day of all tasks that start date has past and has "
            "not been completed."),
        Body());
    TaskPastReminder = AddCheckRow(
        rows, 2,
        QStringLiteral("I wish to be reminded per the interval selected below of my tasks that due "
                       "date has past and has not been completed."),
        Body());
    connect(TaskPastReminder, &QCheckBox::toggled, this, &TTaskManagement::PastReminderChanged);

    PeriodLabel = new QLabel(QStringLiteral("Reminder Period:"), Body());
    cboReminderPeriod = new QComboBox(Body());
    cboReminderPeriod->addItems({QStringLiteral("Every Hour"), QStringLiteral("Twice Per Day"),
                                 QStringLiteral("Daily"), QStringLiteral("Every Week")});
    cboReminderPeriod->setMinimumWidth(kPeriodWidth);
    PeriodLabel->setEnabled(false);
    cboReminderPeriod->setEnabled(false);
    auto* period = new QHBoxLayout;
    period->setContentsMargins(kPeriodIndent, 0, 0, 0);
    period->setSpacing(kLabelGap);
    period->addWidget(PeriodLabel);
    period->addWidget(cboReminderPeriod);
    period->addStretch(1);

    auto* layout = new QVBoxLayout(Body());
    layout->setContentsMargins(kLeft, kTop, kRightMargin, 0);
    layout->setSpacing(0);
    layout->addWidget(
        WrappedText(QStringLiteral("Select the options you wish for task management."), Body()));
    layout->addLayout(rows);
    layout->addSpacing(kPeriodGap);
    layout->addLayout(period);
    layout->addSpacing(kPeriodGap);
    DesktopHint = WrappedText(QString(), Body());
    DesktopHint->setObjectName(QStringLiteral("DesktopHint"));
    DesktopHint->hide();
    layout->addWidget(DesktopHint);
    layout->addStretch(1);
}

// The period belongs to the past-due reminder; switching it on starts at daily.
void TTaskManagement::PastReminderChanged(bool checked) {
    PeriodLabel->setEnabled(checked);
    cboReminderPeriod->setEnabled(checked);
    if (checked)
        cboReminderPeriod->setCurrentIndex(kDailyPeriod);
}

void TTaskManagement::Activate() {
    TGenericFrame::Activate();
    const SettingsRecord stored = settings.Settings();
    TaskReminderNotify->setChecked(stored.TaskNotify);
    TaskPreReminder->setChecked(stored.TaskPreNotify);
    TaskPastReminder->setChecked(stored.TaskReminder);
    const bool known = stored.TaskRemindPeriod >= 0 && stored.TaskRemindPeriod < kPeriodRows;
    cboReminderPeriod->setCurrentIndex(known ? stored.TaskRemindPeriod : -1);
    const QString hint = Installer().Owner().DesktopCalendarsHint();
    DesktopHint->setText(hint);
    DesktopHint->setVisible(!hint.isEmpty());
}

void TTaskManagement::NextStep() {
    settings.SetTaskNotify(TaskReminderNotify->isChecked());
    settings.SetTaskPreNotify(TaskPreReminder->isChecked());
    settings.SetTaskReminder(TaskPastReminder->isChecked());
    settings.SetTaskRemindPeriod(cboReminderPeriod->currentIndex());
    TGenericFrame::NextStep();
}

} // namespace rp
