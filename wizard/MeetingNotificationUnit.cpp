// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/MeetingNotificationUnit.h"

#include "engine/SettingsRecord.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace rp {

namespace {
constexpr int kLeft = 16;
constexpr int kTop = 16;
constexpr int kRightMargin = 24;
constexpr int kRowIndent = 17;  // the boxes start at 33, the headings at 16
constexpr int kTextIndent = 23; // the texts start at 56
constexpr int kRowGap = 8;
constexpr int kSectionGap = 16;
constexpr int kTextWidth = 313;

QGridLayout* CheckGrid() {
    auto* grid = new QGridLayout;
    grid->setContentsMargins(kRowIndent, kRowGap, 0, 0);
    grid->setHorizontalSpacing(kTextIndent - 16);
    grid->setVerticalSpacing(kRowGap);
    grid->setColumnMinimumWidth(1, kTextWidth);
    grid->setColumnStretch(1, 1);
    return grid;
}
} // namespace

TMeetingNotification::TMeetingNotification(TBaseInstaller& installer, ISettingsSetters& settings)
    : TGenericFrame(installer), settings(settings) {
    BuildControls();
}

void TMeetingNotification::BuildControls() {
    QGridLayout* meetings = CheckGrid();
    cbMeetingNotify = AddCheckRow(
        meetings, 0,
        QStringLiteral("I wish to be notified via my cell phone when a meeting reminder occurs. "
                       "That is if a meeting has a reminder setting notify me at the same time "
                       "outlook would notify me at my computer."),
        Body());
    cbMorningEveningNotify = AddCheckRow(
        meetings, 1,
        QStringLiteral("I wish to be notified in the morning of the first meeting of the day. That "
                       "is, send a reminder to my cell phone to when my first meeting is and send "
                       "it at my eariliest available time."),
        Body());
    cbEveningMeetingNotify = AddCheckRow(
        meetings, 2,
        QStringLiteral("I wish to be notified in the evening of the first meeting of the next day. "
                       "That is, send a reminder to my cell phone as to when my first meeting is "
                       "the next day. and send that right before my evening last time"),
        Body());
    QGridLayout* urgent = CheckGrid();
    cbUrgentEmail = AddCheckRow(
        urgent, 0,
        QStringLiteral("I wish to be notified of the subject and sender of any incoming urgent "
                       "e-mail that arrives in my in-box."),
        Body());

    auto* layout = new QVBoxLayout(Body());
    layout->setContentsMargins(kLeft, kTop, kRightMargin, 0);
    layout->setSpacing(0);
    layout->addWidget(
        WrappedText(QStringLiteral("Select the options below for meeting notification."), Body()));
    layout->addLayout(meetings);
    layout->addSpacing(kSectionGap);
    layout->addWidget(WrappedText(
        QStringLiteral("Select the option below for urgent e-mail notification."), Body()));
    layout->addLayout(urgent);
    layout->addStretch(1);
}

void TMeetingNotification::Activate() {
    TGenericFrame::Activate();
    const SettingsRecord stored = settings.Settings();
    cbMeetingNotify->setChecked(stored.MeetingNotify);
    cbMorningEveningNotify->setChecked(stored.MorningNotify);
    cbEveningMeetingNotify->setChecked(stored.EveningNotify);
    cbUrgentEmail->setChecked(stored.UrgentEmail);
}

void TMeetingNotification::NextStep() {
    settings.SetMeetingNotify(cbMeetingNotify->isChecked());
    settings.SetMorningNotify(cbMorningEveningNotify->isChecked());
    settings.SetEveningNotify(cbEveningMeetingNotify->isChecked());
    settings.SetUrgentEmail(cbUrgentEmail->isChecked());
    TGenericFrame::NextStep();
}

} // namespace rp
