// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A status-bar panel that shows one text at a time: whole where it fits, else
// cut after the last word that fits, with "…"; the whole text is its tooltip.

#include <QLabel>

class QFontMetrics;

namespace rp {

// `text` as far as it fits in `width` pixels, cut at a word and ended with "…".
QString ElideAtWord(const QString& text, const QFontMetrics& metrics, int width);

class TStatusPanel : public QLabel {
    Q_OBJECT
public:
    explicit TStatusPanel(const QString& name, QWidget* parent = nullptr);

    void SetFullText(const QString& text);
    QString FullText() const { return full; }
    // The text as drawn now.
    QString ShownText() const { return text(); }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Refit();

    QString full;
};

} // namespace rp
