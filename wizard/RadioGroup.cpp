// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/RadioGroup.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

namespace rp {

TRadioGroup::TRadioGroup(const QString& caption, int columns, QWidget* parent)
    : QGroupBox(caption, parent), columns(std::max(1, columns)), buttons(new QButtonGroup(this)),
      grid(new QGridLayout(this)) {
    connect(buttons, &QButtonGroup::idToggled, this,
            [this](int, bool) { emit SelectionChanged(); });
}

void TRadioGroup::SetItems(const QStringList& captions) {
    for (QAbstractButton* old : buttons->buttons()) {
        buttons->removeButton(old);
        delete old;
    }
    const int perColumn = (static_cast<int>(captions.size()) + columns - 1) / columns;
    for (int index = 0; index < captions.size(); ++index) {
        auto* button = new QRadioButton(captions[index], this);
        buttons->addButton(button, index);
        grid->addWidget(button, index % perColumn, index / perColumn);
        // At once, not when the layout gets round to it: a page shown again moves
        // the focus onto its rows straight after refilling them.
        button->show();
    }
    emit SelectionChanged();
}

int TRadioGroup::Count() const {
    return static_cast<int>(buttons->buttons().size());
}

int TRadioGroup::ItemIndex() const {
    return buttons->checkedId();
}

QRadioButton* TRadioGroup::Button(int index) const {
    return qobject_cast<QRadioButton*>(buttons->button(index));
}

void TRadioGroup::SetItemIndex(int index) {
    if (index < 0 || Count() == 0) {
        ClearSelection();
        return;
    }
    Button(std::min(index, Count() - 1))->setChecked(true);
}

void TRadioGroup::ClearSelection() {
    QAbstractButton* checked = buttons->checkedButton();
    if (!checked)
        return;
    // An exclusive group refuses to uncheck its last checked button.
    buttons->setExclusive(false);
    checked->setChecked(false);
    buttons->setExclusive(true);
}

} // namespace rp
