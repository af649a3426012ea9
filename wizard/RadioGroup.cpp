// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/RadioGroup.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QKeyEvent>
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
    perColumn = std::max(1, (static_cast<int>(captions.size()) + columns - 1) / columns);
    for (int index = 0; index < captions.size(); ++index) {
        auto* button = new QRadioButton(captions[index], this);
        button->installEventFilter(this);
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

bool TRadioGroup::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QGroupBox::eventFilter(watched, event);
    const int index = buttons->id(qobject_cast<QAbstractButton*>(watched));
    int step = 0;
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Up:
        step = -1;
        break;
    case Qt::Key_Down:
        step = 1;
        break;
    case Qt::Key_Left:
        step = -perColumn;
        break;
    case Qt::Key_Right:
        step = perColumn;
        break;
    default:
        return QGroupBox::eventFilter(watched, event);
    }
    const int next = index + step;
    if (index < 0 || next < 0 || next >= Count())
        return true;
    Button(next)->setFocus(Qt::TabFocusReason);
    Button(next)->setChecked(true);
    return true;
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
