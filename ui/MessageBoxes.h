// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every message box of the main window goes through this seam, so tests can
// answer the boxes without a modal loop.

#include <QString>

class QWidget;

namespace rp {

class IMessageBoxes {
public:
    virtual ~IMessageBoxes() = default;
    // Each returns when the user has closed the box.
    virtual void Information(const QString& text) = 0;
    virtual void Warning(const QString& text) = 0;
    virtual void Error(const QString& text) = 0;
    // A box with no icon, only the text and OK.
    virtual void Plain(const QString& text) = 0;
    // Yes / No; true for Yes.
    virtual bool Confirm(const QString& text) = 0;
};

// Modal QMessageBox windows captioned with the application's title.
class TQtMessageBoxes : public IMessageBoxes {
public:
    explicit TQtMessageBoxes(QWidget* parent = nullptr) : parent(parent) {}
    void Information(const QString& text) override;
    void Warning(const QString& text) override;
    void Error(const QString& text) override;
    void Plain(const QString& text) override;
    bool Confirm(const QString& text) override;

private:
    QWidget* parent;
};

} // namespace rp
