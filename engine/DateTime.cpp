// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/DateTime.h"

#include <QLocale>
#include <QTimeZone>
#include <cmath>

namespace rp {

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMsecPerDay = 86400000;

QString WithoutTimeZone(QString format) {
    // Long time formats of some locales carry a zone ("t"); a key must not.
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}
} // namespace

double WholeDay(TDateTime x) {
    return std::trunc(x);
}

double TimeOfDay(TDateTime x) {
    return x - std::trunc(x);
}

int DayOfWeek(TDateTime x) {
    const auto day = static_cast<long long>(std::floor(x));
    return static_cast<int>(((day % 7) + 7 + 6) % 7) + 1;
}

TDateTime EncodeDate(int year, int month, int day) {
    return static_cast<double>(kEpoch.daysTo(QDate(year, month, day)));
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / kMsecPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
    return EncodeDate(year, month, day) + EncodeTime(hour, minute, second);
}

TDateTime FromQDateTime(const QDateTime& dt) {
    const QDateTime local = dt.toLocalTime();
    const double days = static_cast<double>(kEpoch.daysTo(local.date()));
    return days + local.time().msecsSinceStartOfDay() / static_cast<double>(kMsecPerDay);
}

QDate ToQDate(TDateTime value) {
    return kEpoch.addDays(static_cast<qint64>(std::floor(value)));
}

QDateTime ToQDateTime(TDateTime value) {
    const double day = std::floor(value);
    qint64 msec = std::llround((value - day) * kMsecPerDay);
    QDate date = kEpoch.addDays(static_cast<qint64>(day));
    if (msec >= kMsecPerDay) {
        date = date.addDays(1);
        msec -= kMsecPerDay;
    }
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msec)));
}

QString LongTimeText(TDateTime value) {
    const QLocale locale;
    const QTime time = ToQDateTime(value).time();
    return locale.toString(time, WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

QString ShortDateText(TDateTime value) {
    const QLocale locale;
    return locale.toString(ToQDate(value), QLocale::ShortFormat);
}

} // namespace rp
