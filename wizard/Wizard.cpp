// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/Wizard.h"

#include "wizard/InstallerMain.h"
#include "wizard/NewAgentInstallerObj.h"
#include "wizard/WizardOwner.h"
#include "wizard/WizardPrompts.h"

#include <QPointer>

namespace rp {

struct TWizard::Impl {
    Impl(IWizardOwner& owner, IWizardPrompts* prompts)
        : ownPrompts(prompts ? nullptr : new TMessageBoxPrompts),
          installer(owner, prompts ? *prompts : *ownPrompts) {}
    ~Impl() {
        // The window hands the pages back to the sequence before the sequence goes.
        delete host;
    }

    std::unique_ptr<TMessageBoxPrompts> ownPrompts;
    TNewAgentInstaller installer;
    QPointer<TMainForm> host;
};

TWizard::TWizard(IWizardOwner& owner) : impl(new Impl(owner, nullptr)) {}

TWizard::TWizard(IWizardOwner& owner, IWizardPrompts& prompts) : impl(new Impl(owner, &prompts)) {}

TWizard::~TWizard() = default;

void TWizard::Show() {
    if (IsOpen()) {
        // One set of pages can live in one window only.
        impl->host->raise();
        impl->host->activateWindow();
        return;
    }
    // Later, not now: the request may come while the old window is still
    // finishing its own close.
    if (impl->host)
        impl->host->deleteLater();
    impl->host = new TMainForm(impl->installer, impl->installer.Owner().OwnerWidget());
    impl->host->show();
}

bool TWizard::IsOpen() const {
    return impl->host && impl->host->isVisible();
}

QWidget* TWizard::HostWindow() const {
    return impl->host;
}

TNewAgentInstaller& TWizard::Sequence() const {
    return impl->installer;
}

} // namespace rp
