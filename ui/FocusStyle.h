// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's own style with a focus mark that can be seen: a solid frame in
// the highlight colour around whatever has the keyboard focus, from the start.

#include <QProxyStyle>

namespace rp {

class TFocusFrameStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
};

// Puts the style on the application, over the one it has.
void UseVisibleFocusFrame();

} // namespace rp
