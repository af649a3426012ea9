// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A time-of-day field that takes a time as people type it: "11", "1100",
// "11:00", "7pm", "7:30 PM", "19:00". Tab leaves the field; Up and Down move the
// time by a quarter of an hour.

#include <QLineEdit>
#include <QTime>

namespace rp {

// The time of day in `typed`; an invalid QTime when it is none.
QTime ParseTypedTime(const QString& typed);

class TTimeField : public QLineEdit {
    Q_OBJECT
public:
    explicit TTimeField(QWidget* parent = nullptr);

    // What the field holds now: the typed text when it reads as a time, else the
    // last time it showed.
    QTime time() const;
    void setTime(QTime time);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Settle();
    void Step(int minutes);

    QTime shown{0, 0};
};

} // namespace rp
