// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The phone number and notice hours page.

#include "wizard/BaseFrame.h"

class QLineEdit;

namespace rp {

class TTimeField;

class ISettingsSetters;

inline constexpr int kPhoneDigits = 10;

class TPersonnelConfig : public TGenericFrame {
    Q_OBJECT
public:
    TPersonnelConfig(TBaseInstaller& installer, ISettingsSetters& settings);

    void Activate() override;
    void NextStep() override;
    // The digits typed into CellNumber, without the brackets and the hyphen.
    QString Digits() const;

    QLineEdit* CellNumber = nullptr;
    TTimeField* EarlyTime = nullptr;
    TTimeField* LateTime = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    bool NumberComplete() const;
    void UpdateNext();

    ISettingsSetters& settings;
};

} // namespace rp
