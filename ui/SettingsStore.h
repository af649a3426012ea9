// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Loads and saves the settings record under the per-user key
// HKEY_CURRENT_USER\Software\Amberfold\Ringpost of the registry file.

#include "engine/SettingsRecord.h"

#include <QSize>
#include <QString>

namespace rp {

class TRegistryFile;

inline const char* const SettingsVersion = "01.01.00.001";
inline const char* const SettingsKeyPath = "HKEY_CURRENT_USER\\Software\\Amberfold\\Ringpost";

// What loading and saving need of the main window.
class ISettingsWindow : public ISettingsSetters {
public:
    virtual int WindowTop() const = 0;
    virtual int WindowLeft() const = 0;
    virtual void SetWindowTop(int top) = 0;
    virtual void SetWindowLeft(int left) = 0;
    virtual QSize ScreenSize() const = 0;
    // "Welcome To Ringpost. ..." information box; returns when it is closed.
    virtual void ShowWelcomeBox() = 0;
    // "Error Reading Registry" plain box, followed by `details`: which values could
    // not be read and the defaults they take.
    virtual void ShowRegistryError(const QString& details) = 0;
    // Tells the user once that an unreadable settings file was kept aside.
    virtual void ShowNotice(const QString& text) = 0;
    virtual void PostShowWizard() = 0;
    virtual void SetFirstRun(bool value) = 0;
    virtual void SetSettingsLoaded() = 0;
};

class TSettingsStore {
public:
    explicit TSettingsStore(TRegistryFile& registry) : registry(registry) {}
    void LoadSettings(ISettingsWindow& window);
    // Throws ERegistryError, whose text names the file and the reason, when a write fails.
    void SaveSettings(ISettingsWindow& window);
    // The store holds a finished configuration: the last load found one, or a save
    // has written one since. A first run whose wizard was left early has neither.
    bool Configured() const { return configured; }

private:
    TRegistryFile& registry;
    bool configured = false;
};

} // namespace rp
