// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/SettingsStore.h"

#include "platform/settings/RegistryFile.h"

#include <optional>

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

// Reads each value on its own: one that cannot be read takes its default and is
// noted with it, and every other value keeps what the file holds.
class TValueReader {
public:
    explicit TValueReader(const TRegistryFile& registry) : registry(registry) {}

    bool Bool(const QString& name) {
        return Try(name, QStringLiteral("off"), [&] { return registry.ReadBool(name); })
            .value_or(false);
    }
    std::optional<int32_t> Integer(const QString& name, const QString& fallback) {
        return Try(name, fallback, [&] { return registry.ReadInteger(name); });
    }
    QString String(const QString& name) {
        return Try(name, QStringLiteral("empty"), [&] { return registry.ReadString(name); })
            .value_or(QString());
    }
    TDateTime Time(const QString& name, TDateTime fallback) {
        const QString shown = ToQDateTime(fallback).time().toString(QStringLiteral("HH:mm"));
        return Try(name, shown, [&] { return registry.ReadTime(name); }).value_or(fallback);
    }
    // "Name: default" for each value that could not be read, in reading order.
    const QStringList& Unread() const { return unread; }

private:
    template <class Read>
    auto Try(const QString& name, const QString& fallback, Read read)
        -> std::optional<decltype(read())> {
        try {
            return read();
        } catch (const ERegistryError&) {
            unread << name + QStringLiteral(": ") + fallback;
            return std::nullopt;
        }
    }

    const TRegistryFile& registry;
    QStringList unread;
};

void ReadFlags(TValueReader& read, ISettingsWindow& window) {
    window.SetMeetingNotify(read.Bool(QStringLiteral("MeetingNotify")));
    window.SetMorningNotify(read.Bool(QStringLiteral("MorningNotify")));
    window.SetEveningNotify(read.Bool(QStringLiteral("EveningNotify")));
    window.SetTaskNotify(read.Bool(QStringLiteral("TaskNotify")));
    window.SetTaskPreNotify(read.Bool(QStringLiteral("TaskPreNotify")));
    window.SetTaskReminder(read.Bool(QStringLiteral("TaskReminder")));
    window.SetUrgentEmail(read.Bool(QStringLiteral("UrgentEmail")));
}

// An unreadable edge leaves the window where it is.
void ReadPosition(TValueReader& read, ISettingsWindow& window) {
    const QString unchanged = QStringLiteral("where the window is");
    if (const auto top = read.Integer(QStringLiteral("Top"), unchanged))
        window.SetWindowTop(*top);
    if (const auto left = read.Integer(QStringLiteral("Left"), unchanged))
        window.SetWindowLeft(*left);
}

void ReadTexts(TValueReader& read, ISettingsWindow& window) {
    window.SetPin(read.String(QStringLiteral("Pin")));
    window.SetCustomAddr(read.String(QStringLiteral("CustomAddr")));
    window.SetCustomEmail(read.String(QStringLiteral("CustomEmail")));
}

void ReadService(TValueReader& read, ISettingsWindow& window) {
    const auto service = read.Integer(QStringLiteral("Service"), QString::number(kDefaultService));
    window.SetService(service ? static_cast<uint8_t>(*service) : kDefaultService);
}

// Each time on its own: a good LateTime is kept beside an unreadable EarlyTime.
void ReadTimes(TValueReader& read, ISettingsWindow& window) {
    window.SetEarlyTime(read.Time(QStringLiteral("EarlyTime"), DefaultEarlyTime()));
    window.SetLateTime(read.Time(QStringLiteral("LateTime"), DefaultLateTime()));
}

void ReadRemindPeriod(TValueReader& read, ISettingsWindow& window) {
    const auto period =
        read.Integer(QStringLiteral("TaskRemindPeriod"), QString::number(kDefaultRemindPeriod));
    window.SetTaskRemindPeriod(period.value_or(kDefaultRemindPeriod));
}

// Brings back a window saved on a larger screen; negative positions stay.
void ClampToScreen(ISettingsWindow& window) {
    const QSize screen = window.ScreenSize();
    if (screen.height() < window.WindowTop())
        window.SetWindowTop(screen.height() - kScreenEdgeMargin);
    if (screen.width() < window.WindowLeft())
        window.SetWindowLeft(screen.width() - kScreenEdgeMargin);
}

// A value of the wrong type costs that value alone, and the box names it; the
// window then starts visible, so the user sees what to set again.
void ReadConfigured(const TRegistryFile& registry, ISettingsWindow& window) {
    TValueReader read(registry);
    ReadFlags(read, window);
    ReadPosition(read, window);
    ReadTexts(read, window);
    ReadService(read, window);
    ReadTimes(read, window);
    ReadRemindPeriod(read, window);
    ClampToScreen(window);
    if (read.Unread().isEmpty()) {
        window.SetSettingsLoaded();
        return;
    }
    window.ShowRegistryError(
        QStringLiteral("These values in %1 could not be read and take their defaults until "
                       "they are set again:\n%2")
            .arg(registry.Path(), read.Unread().join(u'\n')));
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
