// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/CinglarServiceSelectUnit.h"

#include "wizard/CarrierDirectory.h"
#include "wizard/RadioGroup.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace rp {

namespace {
constexpr int kTextLeft = 8;
constexpr int kTop = 16;
constexpr int kGroupIndent = 24; // the group starts at 32, the text at 8
constexpr int kRightMargin = 24;
constexpr int kGroupGap = 16;
constexpr int kGroupHeight = 249;

QStringList RegionCaptionList() {
    QStringList captions;
    for (const char* caption : RegionCaptions)
        captions.append(QString::fromUtf8(caption));
    return captions;
}
} // namespace

TCinglarServiceSelect::TCinglarServiceSelect(TBaseInstaller& installer, ISettingsSetters& settings)
    : TGenericFrame(installer), settings(settings) {
    NextButton->setEnabled(false);
    rdgrpCinglar = new TRadioGroup(QString(), 1, Body());
    rdgrpCinglar->setMinimumHeight(kGroupHeight);
    connect(rdgrpCinglar, &TRadioGroup::SelectionChanged, this, &TCinglarServiceSelect::UpdateNext);

    auto* layout = new QVBoxLayout(Body());
    layout->setContentsMargins(kTextLeft, kTop, kRightMargin, 0);
    layout->setSpacing(0);
    layout->addWidget(WrappedText(
        QStringLiteral("Select the region of the country you have Cingular Wireless service."),
        Body()));
    layout->addSpacing(kGroupGap);
    auto* indented = new QHBoxLayout;
    indented->addSpacing(kGroupIndent);
    indented->addWidget(rdgrpCinglar, 1);
    layout->addLayout(indented);
    layout->addStretch(1);
}

void TCinglarServiceSelect::Activate() {
    TGenericFrame::Activate();
    rdgrpCinglar->SetItems(RegionCaptionList());
    // No region is selected, so the arrow keys on the first row choose one.
    SettleFocus(rdgrpCinglar->Button(0));
}

void TCinglarServiceSelect::NextStep() {
    const int region = rdgrpCinglar->ItemIndex();
    if (region < 0)
        return;
    settings.SetCustomAddr(QString::fromUtf8(RegionDomains[region]));
    TGenericFrame::NextStep();
}

void TCinglarServiceSelect::UpdateNext() {
    NextButton->setEnabled(rdgrpCinglar->ItemIndex() >= 0);
}

} // namespace rp
