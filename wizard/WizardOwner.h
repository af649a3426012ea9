// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the wizard needs of the main window: its settings and setters, a parent
// for the host window, the posted save / reload requests, and help.

#include "engine/SettingsRecord.h"

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
};

} // namespace rp
