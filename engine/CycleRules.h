// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The polling cycle's rules on plain values: when notices may go out, when the
// once-a-day first-meeting notices are due, how long the engine waits between
// cycles and before it retries after an automation error.

#include "engine/EngineSeams.h"
#include "engine/SettingsRecord.h"

#include <QString>

namespace rp {

// Strictly between EarlyTime and LateTime: at either bound no notice goes out.
bool InsideDayWindow(const SettingsRecord& settings, TDateTime now);
// The last 15 minutes before LateTime, once a day (after nextCheck).
bool EveningNoticeDue(const SettingsRecord& settings, TDateTime nextCheck, TDateTime now);
// The first 15 minutes after EarlyTime, once a day (after nextCheck).
bool MorningNoticeDue(const SettingsRecord& settings, TDateTime nextCheck, TDateTime now);

// The wait for the wake event: long while the user is at the computer or the day
// window is closed, short while notices may go out.
int WaitMilliseconds(bool userIdle, const SettingsRecord& settings, TDateTime now);

// The pause before the next try after the errorCount-th automation error in a
// row: doubling from a few seconds up to ten minutes.
int RetryPauseMs(int errorCount);
// The pause as the status bar tells it: "40 seconds", "5 minutes".
QString PauseText(int milliseconds);

// A key state with its high bit set is a key held down.
bool AnyKeyHeld(const KeyStates& states);

} // namespace rp
