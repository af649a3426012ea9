// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/FrameServiceProvider.h"

#include "wizard/BaseInstaller.h"
#include "wizard/CarrierDirectory.h"
#include "wizard/RadioGroup.h"
#include "wizard/WizardOwner.h"

#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace rp {

namespace {
constexpr int kLeft = 16;
constexpr int kTop = 8;
constexpr int kRightMargin = 24;
constexpr int kGroupGap = 12;
constexpr int kNoteGap = 7;
constexpr int kGroupHeight = 177;

QStringList ServiceCaptionList() {
    QStringList captions;
    for (const char* caption : ServiceCaptions)
        captions.append(QString::fromUtf8(caption));
    return captions;
}

QLabel* RedBoldText(const QString& text, QWidget* parent) {
    QLabel* label = BoldText(text, parent);
    QPalette red = label->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(red);
    return label;
}
} // namespace

TServiceProvider::TServiceProvider(TBaseInstaller& installer, ISettingsSetters& settings)
    : TGenericFrame(installer), settings(settings) {
    NextButton->setEnabled(false);
    rdoServiceProvider = new TRadioGroup(QStringLiteral("Service Provider"), 2, Body());
    rdoServiceProvider->setMinimumHeight(kGroupHeight);
    connect(rdoServiceProvider, &TRadioGroup::SelectionChanged, this,
            &TServiceProvider::UpdateNext);

    auto* layout = new QVBoxLayout(Body());
    layout->setContentsMargins(kLeft, kTop, kRightMargin, 0);
    layout->setSpacing(0);
    layout->addWidget(new QLabel(
        QStringLiteral("Select your celluar service provider from the list below. "), Body()));
    layout->addWidget(BoldText(
        QStringLiteral("You must have text messaging service from your service provider. Try "
                       "sending a test message after configuration is completed and if you have "
                       "problems contact them to verify that you have the service."),
        Body()));
    layout->addSpacing(kGroupGap);
    layout->addWidget(rdoServiceProvider);
    layout->addSpacing(kNoteGap);
    layout->addWidget(RedBoldText(
        QStringLiteral("* Note: Your service provide may charge a nominal fee for each message "
                       "sent. Please check with you provider for text messaging fees."),
        Body()));
    layout->addStretch(1);
}

// A carrier whose gateway no longer delivers is marked, its tooltip says why.
void TServiceProvider::MarkGateways() {
    const IWizardOwner& owner = Installer().Owner();
    for (int service = 0; service < rdoServiceProvider->Count(); ++service) {
        bool closed = false;
        const QString warning = owner.GatewayWarning(
            RecipientAddress(static_cast<uint8_t>(service), QStringLiteral("5555555555"), {}),
            &closed);
        if (warning.isEmpty())
            continue;
        QRadioButton* row = rdoServiceProvider->Button(service);
        row->setText(row->text() +
                     (closed ? QStringLiteral(" (closed)") : QStringLiteral(" (unreliable)")));
        row->setToolTip(warning);
    }
}

void TServiceProvider::Activate() {
    TGenericFrame::Activate();
    rdoServiceProvider->SetItems(ServiceCaptionList());
    MarkGateways();
    // A first run names no carrier: the stored default would be a guess.
    rdoServiceProvider->SetItemIndex(
        Installer().Owner().CarrierChosen() ? int(settings.Settings().Service) : -1);
    SettleFocus(rdoServiceProvider->Button(0));
}

void TServiceProvider::NextStep() {
    settings.SetService(static_cast<uint8_t>(rdoServiceProvider->ItemIndex()));
    TGenericFrame::NextStep();
}

int TServiceProvider::SelectedService() const {
    return rdoServiceProvider->ItemIndex();
}

void TServiceProvider::UpdateNext() {
    NextButton->setEnabled(rdoServiceProvider->ItemIndex() >= 0);
}

} // namespace rp
