// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wizard as the main window uses it: one sequence for the program's life, and
// a host window opened on each wizard request.

#include <memory>

class QWidget;

namespace rp {

class IWizardOwner;
class IWizardPrompts;
class TNewAgentInstaller;

class TWizard {
public:
    explicit TWizard(IWizardOwner& owner);
    // With message boxes of the caller's choosing (tests answer them directly).
    TWizard(IWizardOwner& owner, IWizardPrompts& prompts);
    ~TWizard();
    // WM_SHOWWIZARD: opens a host window with a new run, or brings an open one to
    // the front.
    void Show();
    bool IsOpen() const;
    // The current host window, null before the first run.
    QWidget* HostWindow() const;
    // The one page sequence, for the program's whole life.
    TNewAgentInstaller& Sequence() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace rp
