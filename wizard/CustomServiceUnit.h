// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The custom device address and notice hours page, for carriers not in the list.

#include "wizard/BaseFrame.h"

class QLineEdit;

namespace rp {

class TTimeField;

class ISettingsSetters;

class TCustomService : public TGenericFrame {
    Q_OBJECT
public:
    TCustomService(TBaseInstaller& installer, ISettingsSetters& settings);

    void Activate() override;
    void NextStep() override;

    QLineEdit* CustomEmail = nullptr;
    TTimeField* EarlyTime = nullptr;
    TTimeField* LateTime = nullptr;

private:
    void BuildControls();
    void UpdateNext();

    bool visited = false;

    ISettingsSetters& settings;
};

} // namespace rp
