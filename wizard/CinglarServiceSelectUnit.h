// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The region page for Cingular Wireless.

#include "wizard/BaseFrame.h"

namespace rp {

class ISettingsSetters;
class TRadioGroup;

class TCinglarServiceSelect : public TGenericFrame {
    Q_OBJECT
public:
    TCinglarServiceSelect(TBaseInstaller& installer, ISettingsSetters& settings);

    void Activate() override;
    void NextStep() override;

    TRadioGroup* rdgrpCinglar = nullptr;

private:
    void UpdateNext();

    ISettingsSetters& settings;
};

} // namespace rp
