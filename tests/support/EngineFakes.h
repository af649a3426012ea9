// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Fakes for the engine's seams. Each is safe to use from the engine thread and the
// test thread at once; hooks are set before the engine starts and run on the
// engine thread, outside the fake's own lock, so they may call back into the fake.

#include "engine/EngineSeams.h"
#include "engine/SourceHealth.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <mutex>

namespace rp::test {

inline constexpr double kMsecPerDay = 86400000.0;

// Local time that moves only when told to, or when the engine sleeps or waits.
class FakeClock : public IClock {
public:
    explicit FakeClock(TDateTime start = 0);

    TDateTime Now() override;
    // The local time's offset from UTC; 0 unless set.
    int UtcOffsetSeconds() override;
    // Advances the clock by the sleep, unless the clock is frozen.
    void Sleep(int milliseconds) override;
    // Counted; the clock does not move.
    void Yield() override;

    void SetNow(TDateTime value);
    void Advance(qint64 milliseconds);
    void SetUtcOffsetSeconds(int seconds);
    // A time zone change: local time moves by the change in offset.
    void ChangeZone(int utcOffsetSeconds);
    // Still time: sleeps pass without moving the clock, so nothing falls due.
    void SetFrozen(bool value);
    QList<int> Sleeps() const;
    int Yields() const;

    // Called at every Now() before the time is read; may throw to inject a failure.
    std::function<void()> OnNow;
    // Called at every Sleep() with its length, before the clock advances.
    std::function<void(int milliseconds)> OnSleep;

private:
    mutable std::mutex mutex;
    qint64 msecs; // milliseconds since day 0, so repeated steps add no rounding
    int utcOffset = 0;
    bool frozen = false;
    QList<int> sleeps;
    int yields = 0;
};

// Cursor position and key states set by the test.
class FakeInput : public IInputState {
public:
    QPoint CursorPos() override;
    void ReadKeyStates(KeyStates& states) override;

    void SetCursor(QPoint position);
    void MoveCursor(int dx = 1);
    void SetKeyDown(int virtualKey, bool down = true);
    int CursorReads() const;
    int KeyReads() const;

    // Called at each read with its 1-based number, before the value is taken; may
    // change the state or throw.
    std::function<void(int read)> OnCursorRead;
    std::function<void(int read)> OnKeyRead;

private:
    mutable std::mutex mutex;
    QPoint cursor{100, 100};
    KeyStates keys{};
    int cursorReads = 0;
    int keyReads = 0;
};

// A manual-reset event on fake time: a wait that is not signalled returns at
// once and moves the clock on by its time-out (unless told not to move it).
class FakeWakeEvent : public IWakeEvent {
public:
    explicit FakeWakeEvent(FakeClock& clock) : clock(clock) {}

    bool WaitFor(int milliseconds) override;
    void Set() override;
    void Reset() override;
    QString Name() const override { return QString::fromLatin1(WakeEventName); }

    // Whether an unsignalled wait moves the clock; it does by default.
    void SetMovesClock(bool value);

    bool IsSet() const;
    // Every wait's time-out, in order.
    QList<int> Waits() const;
    int Resets() const;

    // Called at each wait, with its 1-based number and time-out, before the event
    // is looked at: a test can queue a message, move the mouse or stop the engine.
    std::function<void(int wait, int milliseconds)> OnWait;

private:
    FakeClock& clock;
    mutable std::mutex mutex;
    bool signalled = false;
    bool movesClock = true;
    QList<int> waits;
    int resets = 0;
};

// The automation layer's per-thread set-up.
class FakeRuntime : public IAutomationRuntime {
public:
    bool Initialize() override;
    void Uninitialize() override;

    int Initializations() const;
    int Uninitializations() const;
    // Makes the given 1-based calls of Initialize fail; none by default.
    void FailInitialize(QList<int> calls);
    void FailEveryInitialize();

private:
    mutable std::mutex mutex;
    int initializations = 0;
    int uninitializations = 0;
    QList<int> failing;
    bool failEvery = false;
};

// The main window as the engine sees it.
class FakeHost : public IEngineHost {
public:
    SettingsRecord Settings() const override;
    QString RecipientAddress() const override;
    void SetTaskRemindPeriod(int32_t value) override;
    void SetStatusText(const QString& text) override;
    void SetEngineRunning(bool running) override;
    void ShowErrorBox(const QString& text) override;
    void ReportSourceHealth(const QString& source, const QString& problem) override;

    void SetSettings(const SettingsRecord& value);
    template <class Change> void UpdateSettings(Change change) {
        std::lock_guard lock(mutex);
        change(settings);
    }
    void SetRecipient(const QString& address);

    QStringList StatusTexts() const;
    QString LastStatus() const;
    bool EngineRunning() const;
    // Every value EngineRunning was set to, in order.
    QList<bool> EngineRunningChanges() const;
    QStringList ErrorBoxes() const;
    QList<int32_t> TaskRemindPeriodWrites() const;
    // What fails now, by the reports so far.
    const TSourceHealth& Health() const { return health; }

    // Called on the engine thread when an error box is shown, after it is logged.
    std::function<void(const QString& text)> OnErrorBox;

private:
    mutable std::mutex mutex;
    TSourceHealth health;
    SettingsRecord settings;
    QString recipient = QStringLiteral("5551234567@txt.example.net");
    QStringList statusTexts;
    bool engineRunning = false;
    QList<bool> runningChanges;
    QStringList errorBoxes;
    QList<int32_t> remindPeriodWrites;
};

} // namespace rp::test
