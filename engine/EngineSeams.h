// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the engine receives from its surroundings. Each is a small interface so a
// test can drive a whole day of polling with fakes, in milliseconds.

#include "engine/DateTime.h"
#include "engine/SettingsRecord.h"

#include <QPoint>
#include <QString>
#include <array>
#include <cstdint>

namespace rp {

// Local time and sleeping.
class IClock {
public:
    virtual ~IClock() = default;
    virtual TDateTime Now() = 0;
    // Local time's offset from UTC now. It changes with the computer's time zone
    // (and at daylight saving steps), which moves zone-anchored meetings.
    virtual int UtcOffsetSeconds() = 0;
    virtual void Sleep(int milliseconds) = 0;
    // Gives up the rest of the time slice (a sleep of 0 ms).
    virtual void Yield() = 0;
};

using KeyStates = std::array<uint8_t, 256>;

// The mouse cursor's screen position and the 256 key states; a key that is down
// has the high bit (0x80) set in its state.
class IInputState {
public:
    virtual ~IInputState() = default;
    virtual QPoint CursorPos() = 0;
    virtual void ReadKeyStates(KeyStates& states) = 0;
};

// The name the engine's wake event is known by.
inline const char* const WakeEventName = "AmberfoldProcessor";

// A manual-reset event: Set wakes every wait until Reset.
class IWakeEvent {
public:
    virtual ~IWakeEvent() = default;
    // Waits until the event is set or the time-out passes; true when it was set.
    virtual bool WaitFor(int milliseconds) = 0;
    virtual void Set() = 0;
    virtual void Reset() = 0;
    virtual QString Name() const = 0;
};

// The per-thread initialisation of the automation layer.
class IAutomationRuntime {
public:
    virtual ~IAutomationRuntime() = default;
    // True on success.
    virtual bool Initialize() = 0;
    virtual void Uninitialize() = 0;
};

// What the engine needs of the main window. Every call may come from the engine
// thread; an implementation hands GUI work to the GUI thread and never blocks the
// engine on it, except ShowErrorBox, which waits until the user closes the box.
class IEngineHost {
public:
    virtual ~IEngineHost() = default;
    virtual SettingsRecord Settings() const = 0;
    virtual QString RecipientAddress() const = 0;
    // The task scan's write-back of an unknown reminder period.
    virtual void SetTaskRemindPeriod(int32_t value) = 0;
    virtual void SetStatusText(const QString& text) = 0;
    virtual void SetEngineRunning(bool running) = 0;
    virtual void ShowErrorBox(const QString& text) = 0;
    // Whether a source works (engine/SourceHealth.h): `problem` empty when it
    // does (again). Any thread may call; the window keeps what fails in view.
    virtual void ReportSourceHealth(const QString& source, const QString& problem) = 0;
};

} // namespace rp
