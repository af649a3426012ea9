// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A captioned group of radio buttons laid out in columns, filled top to bottom,
// with at most one row selected.

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

namespace rp {

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit TRadioGroup(const QString& caption, int columns, QWidget* parent = nullptr);

    // Replaces the rows; none is selected afterwards.
    void SetItems(const QStringList& captions);
    int Count() const;
    // The selected row, -1 when none is.
    int ItemIndex() const;
    // Selects a row; an index past the end selects the last row, a negative one
    // clears the selection.
    void SetItemIndex(int index);
    QRadioButton* Button(int index) const;

signals:
    void SelectionChanged();

protected:
    // The arrow keys move to the next row and choose it, also when none was chosen.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ClearSelection();

    int columns;
    int perColumn = 1;
    QButtonGroup* buttons;
    QGridLayout* grid;
};

} // namespace rp
