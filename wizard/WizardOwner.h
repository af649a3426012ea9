// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the wizard needs of the main window: its settings and setters, a parent
// for the host window, the posted save / reload requests, and help.

#include "engine/SettingsRecord.h"

#include <QString>

class QWidget;

namespace rp {

class IWizardOwner : public ISettingsSetters {
public:
    virtual QWidget* OwnerWidget() = 0;
    // Posts WM_SAVESETTINGS to the main window.
    virtual void PostSaveSettings() = 0;
    // Posts WM_RELOADSETTINGS to the main window.
    virtual void PostReloadSettings() = 0;
    virtual void ShowHelpTopic(int helpContext) = 0;
    // The wizard is done: tell the user where notices will now go.
    virtual void AnnounceNoticeRoute() {}
    // On a first run without a mail store profile: a line saying that the
    // desktop keeps calendars Ringpost could read; empty when none were found,
    // or not yet (the owner looks for them off the GUI thread).
    virtual QString DesktopCalendarsHint() const { return {}; }
    // Whether a carrier was chosen: the settings were stored, or this run's carrier
    // page chose one. Until then (a first run) the carrier page selects no row.
    virtual bool CarrierChosen() const { return true; }
    // Why notices to `recipient` would not arrive (a carrier gateway closed or
    // unreliable), or empty; `closed` tells whether they never will.
    virtual QString GatewayWarning(const QString& recipient, bool* closed) const {
        Q_UNUSED(recipient);
        Q_UNUSED(closed);
        return {};
    }
};

} // namespace rp
