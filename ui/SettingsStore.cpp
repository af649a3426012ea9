// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SettingsStore.h"

#include "platform/settings/RegistryFile.h"

namespace rp {

namespace {

constexpr uint8_t kDefaultService = 4;
constexpr int32_t kFirstRunRemindPeriod = -1;
constexpr int32_t kDefaultRemindPeriod = 2;
constexpr int kScreenEdgeMargin = 20;

TDateTime DefaultEarlyTime() {
    return EncodeTime(7, 0);
}

TDateTime DefaultLateTime() {
    return EncodeTime(19, 0);
}

// A Version of another type than text counts as missing: the store is then not
// configured, instead of the load failing before the window exists.
bool IsConfigured(const TRegistryFile& registry) {
    try {
        return registry.ReadString(QStringLiteral("Version")) == QLatin1String(SettingsVersion);
    } catch (const ERegistryError&) {
        return false;
    }
}

void TakeFirstRunPath(ISettingsWindow& window) {
    window.SetFirstRun(true);
    window.ShowWelcomeBox();
    window.PostShowWizard();
    window.SetService(kDefaultService);
    window.SetLateTime(DefaultLateTime());
    window.SetEarlyTime(DefaultEarlyTime());
    window.SetTaskRemindPeriod(kFirstRunRemindPeriod);
}

void ReadFlags(const TRegistryFile& registry, ISettingsWindow& window) {
    window.SetMeetingNotify(registry.ReadBool(QStringLiteral("MeetingNotify")));
    window.SetMorningNotify(registry.ReadBool(QStringLiteral("MorningNotify")));
    window.SetEveningNotify(registry.ReadBool(QStringLiteral("EveningNotify")));
    window.SetTaskNotify(registry.ReadBool(QStringLiteral("TaskNotify")));
    window.SetTaskPreNotify(registry.ReadBool(QStringLiteral("TaskPreNotify")));
    window.SetTaskReminder(registry.ReadBool(QStringLiteral("TaskReminder")));
    window.SetUrgentEmail(registry.ReadBool(QStringLiteral("UrgentEmail")));
}

void ReadPosition(const TRegistryFile& registry, ISettingsWindow& window) {
    window.SetWindowTop(registry.ReadInteger(QStringLiteral("Top")));
    window.SetWindowLeft(registry.ReadInteger(QStringLiteral("Left")));
}

void ReadTexts(const TRegistryFile& registry, ISettingsWindow& window) {
    window.SetPin(registry.ReadString(QStringLiteral("Pin")));
    window.SetCustomAddr(registry.ReadString(QStringLiteral("CustomAddr")));
    window.SetCustomEmail(registry.ReadString(QStringLiteral("CustomEmail")));
}

void ReadService(const TRegistryFile& registry, ISettingsWindow& window) {
    uint8_t service = kDefaultService;
    try {
        service = static_cast<uint8_t>(registry.ReadInteger(QStringLiteral("Service")));
    } catch (const ERegistryError&) {
    }
    window.SetService(service);
}

// Both times fall back together, even when the first one was read.
void ReadTimes(const TRegistryFile& registry, ISettingsWindow& window) {
    try {
        window.SetEarlyTime(registry.ReadTime(QStringLiteral("EarlyTime")));
        window.SetLateTime(registry.ReadTime(QStringLiteral("LateTime")));
    } catch (const ERegistryError&) {
        window.SetLateTime(DefaultLateTime());
        window.SetEarlyTime(DefaultEarlyTime());
    }
}

void ReadRemindPeriod(const TRegistryFile& registry, ISettingsWindow& window) {
    int32_t period = kDefaultRemindPeriod;
    try {
        period = registry.ReadInteger(QStringLiteral("TaskRemindPeriod"));
    } catch (const ERegistryError&) {
    }
    window.SetTaskRemindPeriod(period);
}

// Brings back a window saved on a larger screen; negative positions stay.
void ClampToScreen(ISettingsWindow& window) {
    const QSize screen = window.ScreenSize();
    if (screen.height() < window.WindowTop())
        window.SetWindowTop(screen.height() - kScreenEdgeMargin);
    if (screen.width() < window.WindowLeft())
        window.SetWindowLeft(screen.width() - kScreenEdgeMargin);
}

void ReadConfigured(const TRegistryFile& registry, ISettingsWindow& window) {
    try {
        ReadFlags(registry, window);
        ReadPosition(registry, window);
        ReadTexts(registry, window);
        ReadService(registry, window);
        ReadTimes(registry, window);
        ReadRemindPeriod(registry, window);
        ClampToScreen(window);
        window.SetSettingsLoaded();
    } catch (const ERegistryError&) {
        window.ShowRegistryError();
    }
}

void WriteFlags(TRegistryFile& registry, const SettingsRecord& settings) {
    registry.WriteBool(QStringLiteral("MeetingNotify"), settings.MeetingNotify);
    registry.WriteBool(QStringLiteral("MorningNotify"), settings.MorningNotify);
    registry.WriteBool(QStringLiteral("EveningNotify"), settings.EveningNotify);
    registry.WriteBool(QStringLiteral("TaskNotify"), settings.TaskNotify);
    registry.WriteBool(QStringLiteral("TaskPreNotify"), settings.TaskPreNotify);
    registry.WriteBool(QStringLiteral("TaskReminder"), settings.TaskReminder);
    registry.WriteBool(QStringLiteral("UrgentEmail"), settings.UrgentEmail);
}

void WriteRest(TRegistryFile& registry, const SettingsRecord& settings) {
    registry.WriteInteger(QStringLiteral("TaskRemindPeriod"), settings.TaskRemindPeriod);
    registry.WriteString(QStringLiteral("Pin"), settings.Pin);
    registry.WriteTime(QStringLiteral("EarlyTime"), settings.EarlyTime);
    registry.WriteTime(QStringLiteral("LateTime"), settings.LateTime);
    registry.WriteInteger(QStringLiteral("Service"), settings.Service);
    registry.WriteString(QStringLiteral("CustomAddr"), settings.CustomAddr);
    registry.WriteString(QStringLiteral("CustomEmail"), settings.CustomEmail);
}

// Reads the file afresh, so keys edited meanwhile survive the next save.
void OpenSettingsKey(TRegistryFile& registry, ISettingsWindow& window) {
    registry.Reload();
    const QString notice = registry.TakeNotice();
    if (!notice.isEmpty())
        window.ShowNotice(notice);
    registry.OpenKey(QLatin1String(SettingsKeyPath));
}

} // namespace

void TSettingsStore::LoadSettings(ISettingsWindow& window) {
    OpenSettingsKey(registry, window);
    configured = IsConfigured(registry);
    if (configured)
        ReadConfigured(registry, window);
    else
        TakeFirstRunPath(window);
    registry.CloseKey();
}

void TSettingsStore::SaveSettings(ISettingsWindow& window) {
    OpenSettingsKey(registry, window);
    const SettingsRecord settings = window.Settings();
    registry.WriteString(QStringLiteral("Version"), QLatin1String(SettingsVersion));
    WriteFlags(registry, settings);
    registry.WriteInteger(QStringLiteral("Top"), window.WindowTop());
    registry.WriteInteger(QStringLiteral("Left"), window.WindowLeft());
    WriteRest(registry, settings);
    registry.Flush();
    registry.CloseKey();
    configured = true;
}

} // namespace rp
