// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wizard's message boxes, behind a seam so that tests can answer them
// without a modal loop.

#include <QString>

class QWidget;

namespace rp {

class IWizardPrompts {
public:
    virtual ~IWizardPrompts() = default;
    // "Are you sure you want to exit the configuration Wizard?"; true for Yes.
    virtual bool ConfirmExit(QWidget* parent) = 0;
    // An error box with an OK button.
    virtual void ShowError(QWidget* parent, const QString& text) = 0;
};

class TMessageBoxPrompts : public IWizardPrompts {
public:
    bool ConfirmExit(QWidget* parent) override;
    void ShowError(QWidget* parent, const QString& text) override;
};

} // namespace rp
