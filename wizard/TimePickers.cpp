// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/TimePickers.h"

#include <QTimeEdit>
#include <algorithm>

namespace rp {

namespace {
constexpr int kPickerWidth = 89;
}

QTimeEdit* NewTimePicker(QWidget* parent) {
    auto* picker = new QTimeEdit(parent);
    picker->setMinimumWidth(std::max(kPickerWidth, picker->sizeHint().width()));
    picker->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return picker;
}

void ShowTime(QTimeEdit* picker, TDateTime value) {
    picker->setTime(ToQDateTime(value).time());
}

TDateTime PickedTime(const QTimeEdit* picker) {
    const QTime time = picker->time();
    return EncodeTime(time.hour(), time.minute(), time.second());
}

} // namespace rp
