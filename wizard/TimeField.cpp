// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/TimeField.h"

#include <QKeyEvent>
#include <QLocale>
#include <QRegularExpression>
#include <QTimer>

namespace rp {

namespace {
constexpr int kStepMinutes = 15;
constexpr int kDayMinutes = 24 * 60;

QString Shown(QTime time) {
    return QLocale().toString(time, QLocale::ShortFormat);
}
} // namespace

QTime ParseTypedTime(const QString& typed) {
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,2})(?:[:.h]?(\\d{2}))?(?:[:.](\\d{2}))?\\s*(?:([ap])\\.?m?\\.?)?$"),
        QRegularExpression::CaseInsensitiveOption);
    QString text = typed.simplified();
    // Locales put a narrow or no-break space before AM and PM.
    text.replace(QChar(0x202F), QLatin1Char(' ')).replace(QChar(0x00A0), QLatin1Char(' '));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return {};
    int hour = match.captured(1).toInt();
    const int minute = match.captured(2).isEmpty() ? 0 : match.captured(2).toInt();
    const QString half = match.captured(4).toLower();
    if (!half.isEmpty()) {
        if (hour < 1 || hour > 12)
            return {};
        hour = hour % 12 + (half == QLatin1String("p") ? 12 : 0);
    }
    if (hour > 23 || minute > 59)
        return {};
    return QTime(hour, minute);
}

TTimeField::TTimeField(QWidget* parent) : QLineEdit(parent) {
    setText(Shown(shown));
    connect(this, &QLineEdit::editingFinished, this, &TTimeField::Settle);
}

QTime TTimeField::time() const {
    const QTime typed = ParseTypedTime(text());
    return typed.isValid() ? typed : shown;
}

void TTimeField::setTime(QTime time) {
    shown = QTime(time.hour(), time.minute());
    setText(Shown(shown));
}

// Shows what was typed in the locale's own form, or what it was before when the
// text is no time.
void TTimeField::Settle() {
    setTime(time());
}

void TTimeField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // Typing replaces the time, however the field was reached; later, because a
    // mouse press would undo it at once.
    QTimer::singleShot(0, this, &QLineEdit::selectAll);
}

void TTimeField::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        Step(kStepMinutes);
        return;
    case Qt::Key_Down:
        Step(-kStepMinutes);
        return;
    case Qt::Key_PageUp:
        Step(60);
        return;
    case Qt::Key_PageDown:
        Step(-60);
        return;
    default:
        QLineEdit::keyPressEvent(event);
    }
}

void TTimeField::Step(int minutes) {
    const QTime shown = time();
    const int now = shown.hour() * 60 + shown.minute();
    const int next = ((now + minutes) % kDayMinutes + kDayMinutes) % kDayMinutes;
    setTime(QTime(next / 60, next % 60));
    selectAll();
}

} // namespace rp
