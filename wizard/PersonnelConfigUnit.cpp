// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/PersonnelConfigUnit.h"

#include "engine/SettingsRecord.h"
#include "wizard/TimeField.h"
#include "wizard/TimePickers.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace rp {

namespace {
constexpr int kTextLeft = 32;
constexpr int kTextTop = 72;
constexpr int kFieldIndent = 56; // the field labels start at 88, the text at 32
constexpr int kRightMargin = 24;
constexpr int kNumberGap = 30;
constexpr int kTimesGap = 38;
constexpr int kRowGap = 10;
constexpr int kLabelGap = 8;
constexpr int kNumberWidth = 109;
const QString kPhoneMask = QStringLiteral("\\(999\\)999-9999;_");

QLabel* FieldLabel(const QString& text, QWidget* parent) {
    return new QLabel(text, parent);
}
} // namespace

TPersonnelConfig::TPersonnelConfig(TBaseInstaller& installer, ISettingsSetters& settings)
    : TGenericFrame(installer), settings(settings) {
    NextButton->setEnabled(false);
    BuildControls();
}

void TPersonnelConfig::BuildControls() {
    CellNumber = new QLineEdit(Body());
    CellNumber->setInputMask(kPhoneMask);
    CellNumber->setMaxLength(13);
    const int maskWidth = CellNumber->fontMetrics().horizontalAdvance(CellNumber->text());
    CellNumber->setFixedWidth(std::max(kNumberWidth, maskWidth + 16));
    CellNumber->installEventFilter(this);
    connect(CellNumber, &QLineEdit::textChanged, this, &TPersonnelConfig::UpdateNext);
    EarlyTime = NewTimePicker(Body());
    LateTime = NewTimePicker(Body());

    auto* fields = new QGridLayout;
    fields->setContentsMargins(kFieldIndent, 0, 0, 0);
    fields->setVerticalSpacing(kRowGap);
    fields->setHorizontalSpacing(kLabelGap);
    fields->addWidget(FieldLabel(QStringLiteral("Cell Phone Number:"), Body()), 0, 0);
    fields->addWidget(CellNumber, 0, 1, Qt::AlignLeft);
    fields->setRowMinimumHeight(1, kTimesGap - kRowGap);
    fields->addWidget(FieldLabel(QStringLiteral("Eariliest time of notification:"), Body()), 2, 0);
    fields->addWidget(EarlyTime, 2, 1, Qt::AlignLeft);
    fields->addWidget(FieldLabel(QStringLiteral("Latest time of notification:"), Body()), 3, 0);
    fields->addWidget(LateTime, 3, 1, Qt::AlignLeft);
    fields->setColumnStretch(2, 1);

    auto* layout = new QVBoxLayout(Body());
    layout->setContentsMargins(kTextLeft, kTextTop, kRightMargin, 0);
    layout->setSpacing(0);
    layout->addWidget(
        WrappedText(QStringLiteral("Enter configuration information below."), Body()));
    layout->addSpacing(kNumberGap);
    layout->addLayout(fields);
    layout->addStretch(1);
}

QString TPersonnelConfig::Digits() const {
    QString digits;
    for (QChar character : CellNumber->text())
        if (character.isDigit())
            digits.append(character);
    return digits;
}

bool TPersonnelConfig::NumberComplete() const {
    return Digits().size() == kPhoneDigits;
}

void TPersonnelConfig::UpdateNext() {
    NextButton->setEnabled(NumberComplete());
}

bool TPersonnelConfig::eventFilter(QObject* watched, QEvent* event) {
    if (watched == CellNumber &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut))
        UpdateNext();
    return TGenericFrame::eventFilter(watched, event);
}

void TPersonnelConfig::Activate() {
    TGenericFrame::Activate();
    const SettingsRecord stored = settings.Settings();
    CellNumber->setFocus();
    CellNumber->setText(stored.Pin);
    // Typing replaces what was loaded, as it would after tabbing into the field.
    CellNumber->selectAll();
    ShowTime(EarlyTime, stored.EarlyTime);
    ShowTime(LateTime, stored.LateTime);
    UpdateNext();
}

void TPersonnelConfig::NextStep() {
    if (!NumberComplete()) {
        CellNumber->setFocus();
        return;
    }
    settings.SetPin(Digits());
    settings.SetEarlyTime(PickedTime(EarlyTime));
    settings.SetLateTime(PickedTime(LateTime));
    TGenericFrame::NextStep();
}

} // namespace rp
