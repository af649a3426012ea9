// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Time-of-day pickers for the notice hours, and the conversions between their
// values and the stored day-count times.

#include "engine/DateTime.h"

class QWidget;

namespace rp {

class TTimeField;

TTimeField* NewTimePicker(QWidget* parent);
// Shows the time of day of a stored time.
void ShowTime(TTimeField* picker, TDateTime value);
// The picked time of day; the date part means nothing and is left at 0.
TDateTime PickedTime(const TTimeField* picker);

} // namespace rp
