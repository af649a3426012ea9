// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The task notices page, the last of the run: its Next button reads "&Done".
// On a first run it also says when the desktop keeps calendars Ringpost could read.

#include "wizard/BaseFrame.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace rp {

class ISettingsSetters;

inline constexpr int kDailyPeriod = 2;

class TTaskManagement : public TGenericFrame {
    Q_OBJECT
public:
    TTaskManagement(TBaseInstaller& installer, ISettingsSetters& settings);

    void Activate() override;
    void NextStep() override;

    QCheckBox* TaskReminderNotify = nullptr;
    QCheckBox* TaskPreReminder = nullptr;
    QCheckBox* TaskPastReminder = nullptr;
    QLabel* PeriodLabel = nullptr;
    QComboBox* cboReminderPeriod = nullptr;
    QLabel* DesktopHint = nullptr;

private:
    void BuildControls();
    void PastReminderChanged(bool checked);

    ISettingsSetters& settings;
};

} // namespace rp
