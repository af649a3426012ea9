// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/NewAgentInstallerObj.h"

#include "wizard/CarrierDirectory.h"
#include "wizard/CinglarServiceSelectUnit.h"
#include "wizard/CustomServiceUnit.h"
#include "wizard/FrameAgentImage.h"
#include "wizard/FrameAgentInitial.h"
#include "wizard/FrameServiceProvider.h"
#include "wizard/MeetingNotificationUnit.h"
#include "wizard/PersonnelConfigUnit.h"
#include "wizard/TaskManagementUnit.h"
#include "wizard/WizardOwner.h"

namespace rp {

namespace {
template <class Page, class... Args> void CreateOnce(std::unique_ptr<Page>& page, Args&... args) {
    if (!page)
        page = std::make_unique<Page>(args...);
}
} // namespace

TNewAgentInstaller::TNewAgentInstaller(IWizardOwner& owner, IWizardPrompts& prompts)
    : TBaseInstaller(owner, prompts) {}

TNewAgentInstaller::~TNewAgentInstaller() = default;

void TNewAgentInstaller::CreatePages() {
    TBaseInstaller& self = *this;
    IWizardOwner& settings = Owner();
    CreateOnce(initialPage, self);
    CreateOnce(providerPage, self, settings);
    CreateOnce(sidePicture);
    SidePicture = sidePicture.get();
    CreateOnce(numberPage, self, settings);
    CreateOnce(taskPage, self, settings);
    CreateOnce(meetingPage, self, settings);
    CreateOnce(regionPage, self, settings);
    CreateOnce(customPage, self, settings);
}

TGenericFrame* TNewAgentInstaller::PageQuery() {
    return nullptr;
}

TGenericFrame* TNewAgentInstaller::FirstPage() {
    return initialPage.get();
}

int TNewAgentInstaller::ChosenCarrier() const {
    return providerPage ? providerPage->SelectedService() : -1;
}

TGenericFrame* TNewAgentInstaller::PageAfterCarrier() const {
    switch (ChosenCarrier()) {
    case ServiceCingular:
        return regionPage.get();
    case ServiceOther:
        return customPage.get();
    default:
        return numberPage.get();
    }
}

TGenericFrame* TNewAgentInstaller::PageBeforeNumber() const {
    if (ChosenCarrier() == ServiceCingular)
        return regionPage.get();
    return providerPage.get();
}

TGenericFrame* TNewAgentInstaller::PageBeforeMeetings() const {
    if (ChosenCarrier() == ServiceOther)
        return customPage.get();
    return numberPage.get();
}

void TNewAgentInstaller::Next() {
    TGenericFrame* shown = CurrentPage;
    if (shown == initialPage.get())
        ShowPage(providerPage.get());
    else if (shown == providerPage.get())
        ShowPage(PageAfterCarrier());
    else if (shown == regionPage.get())
        ShowPage(numberPage.get());
    else if (shown == numberPage.get() || shown == customPage.get())
        ShowPage(meetingPage.get());
    else if (shown == meetingPage.get())
        ShowPage(taskPage.get());
    else if (shown == taskPage.get()) {
        Finish();
        Owner().PostSaveSettings();
        Owner().AnnounceNoticeRoute();
    }
}

void TNewAgentInstaller::Back() {
    TGenericFrame* shown = CurrentPage;
    if (shown == providerPage.get())
        ShowPage(initialPage.get());
    else if (shown == regionPage.get() || shown == customPage.get())
        ShowPage(providerPage.get());
    else if (shown == numberPage.get())
        ShowPage(PageBeforeNumber());
    else if (shown == meetingPage.get())
        ShowPage(PageBeforeMeetings());
    else if (shown == taskPage.get())
        ShowPage(meetingPage.get());
}

} // namespace rp
