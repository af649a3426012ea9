// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/TimePickers.h"

#include "wizard/TimeField.h"

#include <QFontMetrics>
#include <QLocale>
#include <algorithm>

namespace rp {

namespace {
constexpr int kPickerWidth = 89;
}

TTimeField* NewTimePicker(QWidget* parent) {
    auto* picker = new TTimeField(parent);
    // Room for the longest time the locale writes, and the frame around it.
    const QFontMetrics metrics = picker->fontMetrics();
    int widest = 0;
    for (const QTime time : {QTime(10, 58), QTime(22, 58)})
        widest = std::max(
            widest, metrics.horizontalAdvance(QLocale().toString(time, QLocale::ShortFormat)));
    picker->setFixedWidth(std::max(kPickerWidth, widest + 24));
    return picker;
}

void ShowTime(TTimeField* picker, TDateTime value) {
    picker->setTime(ToQDateTime(value).time());
}

TDateTime PickedTime(const TTimeField* picker) {
    const QTime time = picker->time();
    return EncodeTime(time.hour(), time.minute(), time.second());
}

} // namespace rp
