// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The carrier page.

#include "wizard/BaseFrame.h"

namespace rp {

class ISettingsSetters;
class TRadioGroup;

class TServiceProvider : public TGenericFrame {
    Q_OBJECT
public:
    TServiceProvider(TBaseInstaller& installer, ISettingsSetters& settings);

    void Activate() override;
    void NextStep() override;
    // The carrier chosen on the page, -1 when none is.
    int SelectedService() const;

    TRadioGroup* rdoServiceProvider = nullptr;

private:
    void UpdateNext();
    void MarkGateways();

    ISettingsSetters& settings;
};

} // namespace rp
