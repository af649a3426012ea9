#include "wizard/Wizard.h"

#include "wizard/WizardOwner.h"

namespace rp {

// Placeholder until the wizard pages land.
struct TWizard::Impl {
    IWizardOwner& owner;
};

TWizard::TWizard(IWizardOwner& owner) : impl(new Impl{owner}) {}
TWizard::~TWizard() = default;
void TWizard::Show() {}
bool TWizard::IsOpen() const {
    return false;
}
QWidget* TWizard::HostWindow() const {
    return nullptr;
}

} // namespace rp
