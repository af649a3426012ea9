// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/CustomServiceUnit.h"

#include "engine/AppriseAddress.h"
#include "engine/SettingsRecord.h"
#include "wizard/TimeField.h"
#include "wizard/TimePickers.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace rp {

namespace {
constexpr int kLeft = 16;
constexpr int kTop = 16;
constexpr int kRightMargin = 16;
constexpr int kFieldIndent = 72; // the time labels start at 88, the texts at 16
constexpr int kParagraphGap = 14;
constexpr int kTimesGap = 22;
constexpr int kRowGap = 10;
constexpr int kLabelGap = 8;
constexpr int kAddressWidth = 401;
} // namespace

TCustomService::TCustomService(TBaseInstaller& installer, ISettingsSetters& settings)
    : TGenericFrame(installer), settings(settings) {
    NextButton->setEnabled(false);
    BuildControls();
}

void TCustomService::BuildControls() {
    CustomEmail = new QLineEdit(Body());
    CustomEmail->setMinimumWidth(kAddressWidth);
    connect(CustomEmail, &QLineEdit::textChanged, this, &TCustomService::UpdateNext);
    EarlyTime = NewTimePicker(Body());
    LateTime = NewTimePicker(Body());

    auto* times = new QGridLayout;
    times->setContentsMargins(kFieldIndent, 0, 0, 0);
    times->setVerticalSpacing(kRowGap);
    times->setHorizontalSpacing(kLabelGap);
    times->addWidget(new QLabel(QStringLiteral("Eariliest time of notification:"), Body()), 0, 0);
    times->addWidget(EarlyTime, 0, 1, Qt::AlignLeft);
    times->addWidget(new QLabel(QStringLiteral("Latest time of notification:"), Body()), 1, 0);
    times->addWidget(LateTime, 1, 1, Qt::AlignLeft);
    times->setColumnStretch(2, 1);

    auto* layout = new QVBoxLayout(Body());
    layout->setContentsMargins(kLeft, kTop, kRightMargin, 0);
    layout->setSpacing(0);
    layout->addWidget(WrappedText(
        QStringLiteral("Ringpost supports any telecommucation device with the ability to display "
                       "text and has a method to send e-mail to the device."),
        Body()));
    layout->addSpacing(kParagraphGap);
    layout->addWidget(
        WrappedText(QStringLiteral("Enter the full e-mail address for your device."), Body()));
    layout->addSpacing(4);
    layout->addWidget(CustomEmail);
    layout->addSpacing(2 * kParagraphGap + kRowGap);
    layout->addWidget(WrappedText(
        QStringLiteral("Enter the times you wish to be notified via Ringpost."), Body()));
    layout->addSpacing(kTimesGap);
    layout->addLayout(times);
    layout->addStretch(1);
}

void TCustomService::Activate() {
    TGenericFrame::Activate();
    const SettingsRecord stored = settings.Settings();
    ShowTime(EarlyTime, stored.EarlyTime);
    ShowTime(LateTime, stored.LateTime);
    CustomEmail->setText(stored.CustomEmail);
    UpdateNext();
    // The first visit is for typing the address; later ones for going on with it.
    if (visited)
        SettleFocus(CustomEmail);
    else
        CustomEmail->setFocus();
    visited = true;
}

// Any text with "@" goes on, as it always has; an Apprise URL (tgram://...,
// gotify://...) goes on too, but only for a service Apprise knows.
void TCustomService::UpdateNext() {
    const QString address = CustomEmail->text();
    NextButton->setEnabled(address.contains(QLatin1Char('@')) || IsUsableAppriseAddress(address));
}

void TCustomService::NextStep() {
    settings.SetCustomEmail(CustomEmail->text());
    settings.SetEarlyTime(PickedTime(EarlyTime));
    settings.SetLateTime(PickedTime(LateTime));
    TGenericFrame::NextStep();
}

} // namespace rp
