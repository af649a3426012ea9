// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The first-run wizard: introduction, carrier, region, phone number or custom
// address, meeting notices and task notices.

#include "wizard/BaseInstaller.h"

#include <memory>

namespace rp {

class TAgentInitialFrame;
class TServiceProvider;
class TPersonnelConfig;
class TTaskManagement;
class TMeetingNotification;
class TCinglarServiceSelect;
class TCustomService;

class TNewAgentInstaller : public TBaseInstaller {
public:
    TNewAgentInstaller(IWizardOwner& owner, IWizardPrompts& prompts);
    ~TNewAgentInstaller() override;

    void CreatePages() override;
    TGenericFrame* PageQuery() override;
    TGenericFrame* FirstPage() override;
    void Back() override;
    void Next() override;

    TAgentInitialFrame* InitialPage() const { return initialPage.get(); }
    TServiceProvider* ProviderPage() const { return providerPage.get(); }
    TPersonnelConfig* NumberPage() const { return numberPage.get(); }
    TTaskManagement* TaskPage() const { return taskPage.get(); }
    TMeetingNotification* MeetingPage() const { return meetingPage.get(); }
    TCinglarServiceSelect* RegionPage() const { return regionPage.get(); }
    TCustomService* CustomPage() const { return customPage.get(); }

private:
    TGenericFrame* PageAfterCarrier() const;
    TGenericFrame* PageBeforeNumber() const;
    TGenericFrame* PageBeforeMeetings() const;
    int ChosenCarrier() const;

    std::unique_ptr<TAgentInitialFrame> initialPage;
    std::unique_ptr<TServiceProvider> providerPage;
    std::unique_ptr<TImageFrame> sidePicture;
    std::unique_ptr<TPersonnelConfig> numberPage;
    std::unique_ptr<TTaskManagement> taskPage;
    std::unique_ptr<TMeetingNotification> meetingPage;
    std::unique_ptr<TCinglarServiceSelect> regionPage;
    std::unique_ptr<TCustomService> customPage;
};

} // namespace rp
