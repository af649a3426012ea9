// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/BaseFrame.h"

#include "wizard/BaseInstaller.h"
#include "wizard/WizardOwner.h"
#include "wizard/WizardPrompts.h"

#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

namespace rp {

namespace {
constexpr int kButtonPanelHeight = 39;
constexpr int kPanel1Width = 258;
constexpr QSize kButtonSize(75, 25);
constexpr int kButtonTop = 5;
constexpr int kHelpLeft = 12;
constexpr int kFirstButtonLeft = 7;
constexpr int kButtonGap = 9;
enum ButtonSlot { BackSlot, NextSlot, CancelSlot };

int SlotLeft(int slot) {
    return kFirstButtonLeft + slot * (kButtonSize.width() + kButtonGap);
}

QPushButton* RowButton(const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setFixedSize(kButtonSize);
    return button;
}
} // namespace

TGenericFrame::TGenericFrame(TBaseInstaller& installer) : installer(installer) {
    body = new QWidget(this);
    BuildButtonRow();
    BuildActions();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(body, 1);
    layout->addWidget(ButtonPanel);
    PlaceButtons();
    installer.RegisterPage(this);
}

void TGenericFrame::BuildButtonRow() {
    ButtonPanel = new QWidget(this);
    ButtonPanel->setFixedHeight(kButtonPanelHeight);
    HelpButton = RowButton(QStringLiteral("&Help"), ButtonPanel);
    Panel1 = new QWidget(ButtonPanel);
    Panel1->setFixedSize(kPanel1Width, kButtonPanelHeight - kButtonTop);
    BackButton = RowButton(QString(), Panel1);
    NextButton = RowButton(QString(), Panel1);
    CancelButton = RowButton(QString(), Panel1);

    auto* row = new QHBoxLayout(ButtonPanel);
    row->setContentsMargins(kHelpLeft, kButtonTop, 0, 0);
    row->setSpacing(0);
    row->addWidget(HelpButton, 0, Qt::AlignTop);
    row->addStretch(1);
    row->addWidget(Panel1);
    connect(HelpButton, &QPushButton::clicked, this, &TGenericFrame::OpenHelp);
}

void TGenericFrame::BuildActions() {
    acBack = new QAction(QStringLiteral("< &Back"), this);
    acNext = new QAction(QStringLiteral("&Next >"), this);
    acCancel = new QAction(QStringLiteral("Cancel"), this);
    Enter = new QAction(QStringLiteral("Enter"), this);
    Enter->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    // Only the page shown sits in the host window, so the window is its scope.
    Enter->setShortcutContext(Qt::WindowShortcut);
    addAction(Enter);

    connect(acBack, &QAction::triggered, this, [this] { RunStep(&TGenericFrame::BackStep); });
    connect(acNext, &QAction::triggered, this, [this] { RunStep(&TGenericFrame::NextStep); });
    connect(acCancel, &QAction::triggered, this, [this] {
        if (!stepRunning)
            CancelStep();
    });
    connect(Enter, &QAction::triggered, this, &TGenericFrame::PressEnter);
    connect(acNext, &QAction::visibleChanged, this, &TGenericFrame::PlaceButtons);

    BindButton(BackButton, acBack);
    BindButton(NextButton, acNext);
    BindButton(CancelButton, acCancel);
}

// The buttons follow their actions' caption and visibility; whether NextButton
// is enabled is the page's own business.
void TGenericFrame::BindButton(QPushButton* button, QAction* action) {
    auto follow = [button, action] {
        button->setText(action->text());
        button->setVisible(action->isVisible());
    };
    follow();
    connect(action, &QAction::changed, button, follow);
    connect(button, &QPushButton::clicked, action, &QAction::trigger);
}

void TGenericFrame::PlaceButtons() {
    HelpButton->setVisible(helpContext != 0);
    // Without a Next button, Back takes its place next to Cancel.
    const int backSlot = acNext->isVisible() ? BackSlot : NextSlot;
    BackButton->move(SlotLeft(backSlot), 0);
    NextButton->move(SlotLeft(NextSlot), 0);
    CancelButton->move(SlotLeft(CancelSlot), 0);
}

void TGenericFrame::SetHelpContext(int context) {
    helpContext = context;
    PlaceButtons();
}

void TGenericFrame::BackStep() {
    installer.Back();
}

void TGenericFrame::NextStep() {
    installer.Next();
}

void TGenericFrame::CancelStep() {
    installer.Cancel();
}

void TGenericFrame::Activate() {
    FocusNext();
}

void TGenericFrame::FocusNext() {
    if (NextButton->isEnabled())
        NextButton->setFocus();
}

void TGenericFrame::SettleFocus(QWidget* field) {
    if (NextButton->isEnabled())
        NextButton->setFocus();
    else if (field)
        field->setFocus();
}

// One step at a time: the row stays disabled until the step has ended, also
// when it fails; the failure is reported once the row is usable again.
void TGenericFrame::RunStep(void (TGenericFrame::*step)()) {
    if (stepRunning)
        return;
    stepRunning = true;
    ButtonPanel->setEnabled(false);
    QString failure;
    try {
        (this->*step)();
    } catch (const std::exception& error) {
        failure = QString::fromLocal8Bit(error.what());
    } catch (...) {
        failure = QStringLiteral("Unknown error");
    }
    ButtonPanel->setEnabled(true);
    stepRunning = false;
    if (!failure.isNull())
        installer.Prompts().ShowError(window(), failure);
}

void TGenericFrame::PressEnter() {
    QWidget* focused = focusWidget();
    if (focused == CancelButton)
        acCancel->trigger();
    else if (focused == HelpButton)
        OpenHelp();
    else if (focused == BackButton)
        acBack->trigger();
    else if (NextButton->isEnabled())
        acNext->trigger();
}

void TGenericFrame::OpenHelp() {
    installer.Owner().ShowHelpTopic(helpContext);
}

QLabel* WrappedText(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLabel* BoldText(const QString& text, QWidget* parent) {
    QLabel* label = WrappedText(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QCheckBox* AddCheckRow(QGridLayout* grid, int row, const QString& text, QWidget* parent) {
    auto* box = new QCheckBox(parent);
    // The caption sits in the label beside the box; screen readers still need it.
    box->setAccessibleName(text);
    QLabel* label = WrappedText(text, parent);
    grid->addWidget(box, row, 0, Qt::AlignVCenter);
    grid->addWidget(label, row, 1);
    return box;
}

} // namespace rp
