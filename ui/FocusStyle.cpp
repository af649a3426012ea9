// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FocusStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOption>

namespace rp {

namespace {
constexpr int kFrameWidth = 2;
} // namespace

// Some styles draw the mark only after the first Tab, and faintly; this one
// draws it whenever it is asked to, two pixels wide.
void TFocusFrameStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                     QPainter* painter, const QWidget* widget) const {
    if (element != PE_FrameFocusRect) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(option->palette.color(QPalette::Highlight), kFrameWidth));
    const int inset = kFrameWidth / 2;
    painter->drawRect(option->rect.adjusted(inset, inset, -inset, -inset));
    painter->restore();
}

void UseVisibleFocusFrame() {
    QApplication::setStyle(new TFocusFrameStyle(QApplication::style()->name()));
}

} // namespace rp
