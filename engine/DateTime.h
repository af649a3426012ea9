// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Date-times are day counts in local time: day 0 is 1899-12-30 00:00, the integer
// part is the date and the fraction the time of day. Stored files and the mail
// store speak this form, so the engine computes in it too.

#include <QDateTime>
#include <QString>

namespace rp {

using TDateTime = double;

inline constexpr double kOneHour = 1.0 / 24.0;
inline constexpr double kOneMinute = 1.0 / 1440.0;
inline constexpr double kFifteenMinutes = 15.0 / 1440.0;

// The whole day of x: x cut toward zero.
double WholeDay(TDateTime x);
// The time of day of x: x minus its whole day.
double TimeOfDay(TDateTime x);
// Weekday of x, 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime x);

TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second = 0, int msec = 0);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second = 0);

// Conversions to and from Qt's local date-time.
TDateTime FromQDateTime(const QDateTime& local);
QDateTime ToQDateTime(TDateTime value);
QDate ToQDate(TDateTime value);

// The time of day written in the locale's long time format, without a time-zone field.
QString LongTimeText(TDateTime value);
// The date written in the locale's short date format.
QString ShortDateText(TDateTime value);

} // namespace rp
