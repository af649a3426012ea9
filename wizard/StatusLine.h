// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The host window's owner-drawn status line with its blinking error colour.

#include <QColor>
#include <QString>
#include <QWidget>

namespace rp {

// True when a status text is an error report rather than a status line.
bool IsErrorStatus(const QString& text);
// The text an error report shows in its box: everything after "*** ERROR ".
QString ErrorBoxText(const QString& text);
// The part of a status text that is drawn on the line.
QString StatusDisplayText(const QString& text);

class TStatusLine : public QWidget {
    Q_OBJECT
public:
    explicit TStatusLine(QWidget* parent = nullptr);

    void SetText(const QString& text);
    QString Text() const { return text; }
    // One tick of the blink timer.
    void Tick();

    bool IsRed() const { return textColor == Qt::red; }
    int BlinkCount() const { return blinkCount; }
    bool BlinkOn() const { return blinkOn; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void NoteDrawn();
    QColor NormalColor() const;

    QString text;
    QColor textColor;
    int blinkCount = 0;
    bool blinkOn = false;
};

} // namespace rp
