// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/CycleRules.h"

#include <algorithm>

namespace rp {

namespace {
constexpr int kActiveWaitMs = 360000;
constexpr int kOutsideWindowWaitMs = 300000;
constexpr int kIdleWaitMs = 15000;
constexpr int kFirstRetryPauseMs = 5000;
constexpr int kLongestRetryPauseMs = 600000;
} // namespace

bool InsideDayWindow(const SettingsRecord& settings, TDateTime now) {
    const double time = TimeOfDay(now);
    return TimeOfDay(settings.LateTime) > time && TimeOfDay(settings.EarlyTime) < time;
}

bool EveningNoticeDue(const SettingsRecord& settings, TDateTime nextCheck, TDateTime now) {
    const double late = TimeOfDay(settings.LateTime);
    const double time = TimeOfDay(now);
    return settings.EveningNotify && now > nextCheck && time < late &&
           time > late - kFifteenMinutes;
}

bool MorningNoticeDue(const SettingsRecord& settings, TDateTime nextCheck, TDateTime now) {
    const double early = TimeOfDay(settings.EarlyTime);
    const double time = TimeOfDay(now);
    return settings.MorningNotify && now > nextCheck && time > early &&
           time < early + kFifteenMinutes;
}

int WaitMilliseconds(bool userIdle, const SettingsRecord& settings, TDateTime now) {
    if (!userIdle)
        return kActiveWaitMs;
    const double time = TimeOfDay(now);
    if (time > TimeOfDay(settings.LateTime) || time < TimeOfDay(settings.EarlyTime))
        return kOutsideWindowWaitMs;
    return kIdleWaitMs;
}

int RetryPauseMs(int errorCount) {
    qint64 pause = kFirstRetryPauseMs;
    for (int i = 1; i < errorCount && pause < kLongestRetryPauseMs; ++i)
        pause *= 2;
    return static_cast<int>(std::min<qint64>(pause, kLongestRetryPauseMs));
}

QString PauseText(int milliseconds) {
    const int seconds = milliseconds / 1000;
    if (seconds < 120)
        return QStringLiteral("%1 seconds").arg(seconds);
    return QStringLiteral("%1 minutes").arg((seconds + 30) / 60);
}

bool AnyKeyHeld(const KeyStates& states) {
    return std::any_of(states.begin(), states.end(), [](uint8_t state) { return state & 0x80; });
}

} // namespace rp
