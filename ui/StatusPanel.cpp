// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/StatusPanel.h"

#include <QFontMetrics>
#include <QResizeEvent>

namespace rp {

namespace {
const QString kEllipsis = QStringLiteral("\u2026");
} // namespace

QString ElideAtWord(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    // The longest run of whole words that fits with the ellipsis.
    for (qsizetype end = text.lastIndexOf(QLatin1Char(' ')); end > 0;
         end = text.lastIndexOf(QLatin1Char(' '), end - 1)) {
        QString cut = text.left(end);
        while (cut.endsWith(QLatin1Char(' ')) || cut.endsWith(QLatin1Char(',')) ||
               cut.endsWith(QLatin1Char(':')))
            cut.chop(1);
        if (cut.isEmpty())
            break;
        if (metrics.horizontalAdvance(cut + kEllipsis) <= width)
            return cut + kEllipsis;
    }
    // Not even the first word fits: cut it.
    return metrics.elidedText(text, Qt::ElideRight, width);
}

TStatusPanel::TStatusPanel(const QString& name, QWidget* parent) : QLabel(parent) {
    setObjectName(name);
    setTextFormat(Qt::PlainText);
    // A long text must not widen the fixed window; the tooltip shows it whole.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setToolTipDuration(6000);
}

void TStatusPanel::SetFullText(const QString& text) {
    if (text == full)
        return;
    full = text;
    setToolTip(text);
    Refit();
}

QSize TStatusPanel::minimumSizeHint() const {
    return {1, QLabel::minimumSizeHint().height()};
}

QSize TStatusPanel::sizeHint() const {
    return {1, QLabel::sizeHint().height()};
}

void TStatusPanel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Refit();
}

void TStatusPanel::Refit() {
    const int room = contentsRect().width() - 2 * margin();
    setText(ElideAtWord(full, fontMetrics(), std::max(room, 1)));
}

} // namespace rp
