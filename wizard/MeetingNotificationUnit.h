// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The meeting and urgent e-mail notices page.

#include "wizard/BaseFrame.h"

class QCheckBox;

namespace rp {

class ISettingsSetters;

class TMeetingNotification : public TGenericFrame {
    Q_OBJECT
public:
    TMeetingNotification(TBaseInstaller& installer, ISettingsSetters& settings);

    void Activate() override;
    void NextStep() override;

    QCheckBox* cbMeetingNotify = nullptr;
    QCheckBox* cbMorningEveningNotify = nullptr;
    QCheckBox* cbEveningMeetingNotify = nullptr;
    QCheckBox* cbUrgentEmail = nullptr;

private:
    void BuildControls();

    ISettingsSetters& settings;
};

} // namespace rp
