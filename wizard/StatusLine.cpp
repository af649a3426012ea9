// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/StatusLine.h"

#include <QPainter>

namespace rp {

namespace {
const QString kErrorMark = QStringLiteral("*** ERROR");
const QString kErrorStart = QStringLiteral("*** ER");
constexpr int kErrorPrefixLength = 10; // "*** ERROR "
constexpr int kLongText = 150;
constexpr int kShortestSentence = 5;
constexpr int kLastBlinkingTick = 13;
constexpr int kLastRedTick = 11;
constexpr int kTextInset = 4;

// A long text is shortened to its first sentence; without a usable one, the part
// after the error prefix is kept.
QString ShortenLongText(const QString& text) {
    const int sentenceEnd = text.indexOf(QStringLiteral(". "));
    if (sentenceEnd < 0) {
        const bool endsAtFirstPeriod = text.indexOf(QLatin1Char('.')) == text.size() - 1;
        return endsAtFirstPeriod ? text : text.mid(kErrorPrefixLength);
    }
    const QString sentence = text.left(sentenceEnd + 2);
    return sentence.size() < kShortestSentence ? text.mid(kErrorPrefixLength) : sentence;
}
} // namespace

bool IsErrorStatus(const QString& text) {
    return text.contains(kErrorMark);
}

QString ErrorBoxText(const QString& text) {
    return text.mid(kErrorPrefixLength);
}

QString StatusDisplayText(const QString& text) {
    QString shown = text.size() > kLongText ? ShortenLongText(text) : text;
    if (shown.startsWith(kErrorStart))
        shown = shown.mid(kErrorPrefixLength);
    return shown;
}

TStatusLine::TStatusLine(QWidget* parent) : QWidget(parent), textColor(NormalColor()) {}

QColor TStatusLine::NormalColor() const {
    return palette().color(QPalette::WindowText);
}

void TStatusLine::SetText(const QString& value) {
    if (value != text) {
        // The hint shows the whole text when the line is too short for it.
        setToolTip(value);
    }
    text = value;
    update();
}

void TStatusLine::Tick() {
    if (blinkCount > kLastBlinkingTick)
        return;
    if (!text.startsWith(kErrorStart)) {
        blinkOn = false;
        blinkCount = 1;
        textColor = NormalColor();
        return;
    }
    blinkOn = blinkCount <= kLastRedTick;
    textColor = (blinkOn && !IsRed()) ? QColor(Qt::red) : NormalColor();
    update();
    ++blinkCount;
}

void TStatusLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(textColor);
    painter.setFont(font());
    const QRect area = rect().adjusted(kTextInset, kTextInset, 0, 0);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     StatusDisplayText(text));
    NoteDrawn();
}

void TStatusLine::NoteDrawn() {
    if (!text.startsWith(kErrorMark)) {
        blinkCount = 1;
        blinkOn = false;
    }
}

} // namespace rp
