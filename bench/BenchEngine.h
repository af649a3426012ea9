// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An engine over the real mail store, with a clock, input and wake event that the
// benchmark drives: no real waiting, no user, a day window that is always open.

#include "engine/OutlookProcessor.h"
#include "tests/support/SeamForwarders.h"

#include <atomic>
#include <functional>
#include <memory>

namespace rp::bench {

// Fake time in whole milliseconds, moved by sleeps and by the wake event.
class TBenchClock : public IClock {
public:
    explicit TBenchClock(TDateTime start);
    TDateTime Now() override;
    int UtcOffsetSeconds() override { return 0; }
    void Sleep(int milliseconds) override {
        if (!frozen)
            msecs += milliseconds;
    }
    void Yield() override {}
    void Advance(int milliseconds) { msecs += milliseconds; }
    // Still time: sleeps pass without moving the clock, so nothing falls due.
    std::atomic<bool> frozen{false};

private:
    std::atomic<qint64> msecs;
};

// A user who never touches the machine.
class TAwayInput : public IInputState {
public:
    QPoint CursorPos() override { return {100, 100}; }
    void ReadKeyStates(KeyStates& states) override { states.fill(0); }
};

// Returns at once; `OnWait` sees each wait (on the engine thread) and may stop the
// engine. The clock moves by the time-out only while `advance` is set.
class TBenchWake : public IWakeEvent {
public:
    explicit TBenchWake(TBenchClock& clock) : clock(clock) {}
    bool WaitFor(int milliseconds) override;
    void Set() override { signalled = true; }
    void Reset() override { signalled = false; }
    QString Name() const override { return QStringLiteral("AmberfoldProcessor"); }

    std::function<void(int wait)> OnWait;
    std::atomic<bool> advance{true};

private:
    TBenchClock& clock;
    std::atomic<bool> signalled{false};
    int waits = 0;
};

// Fails the first set-up when asked to, which parks the engine right after it
// has loaded its state files.
class TBenchRuntime : public IAutomationRuntime {
public:
    explicit TBenchRuntime(bool failFirst) : failNext(failFirst) {}
    bool Initialize() override { return !failNext.exchange(false); }
    void Uninitialize() override {}

private:
    std::atomic<bool> failNext;
};

// Every notice switched on, the day window open from 00:01 to 23:59.
class TBenchHost : public IEngineHost {
public:
    TBenchHost();
    SettingsRecord Settings() const override { return settings; }
    QString RecipientAddress() const override { return QStringLiteral("5551234567@txt.invalid"); }
    void SetTaskRemindPeriod(int32_t) override {}
    void SetStatusText(const QString&) override {}
    void SetEngineRunning(bool) override {}
    void ShowErrorBox(const QString& text) override;

private:
    SettingsRecord settings;
};

// The seams and the engine, in the order they must be destroyed.
class TBenchEngine {
public:
    // `storeFolder` holds MailStore.ini and the store it names; `dataFolder` the
    // state files. A parked engine has loaded its state and ended its thread, so
    // its steps can be called from the calling thread.
    // `onWait` sees each wait of a running engine on its thread, before the clock moves.
    TBenchEngine(const QString& storeFolder, const QString& dataFolder, TDateTime now, bool parked,
                 std::function<void(int wait)> onWait = {});
    ~TBenchEngine();

    TOutlookProcessor& Engine() { return *engine; }
    TBenchClock clock;
    TBenchWake wake{clock};
    TBenchHost host;
    // Joins the engine thread.
    void Join();
    // Safe from `onWait`, which may run before the constructor has returned.
    void RequestStop();

private:
    std::unique_ptr<TOutlookProcessor> engine;
    std::atomic<TOutlookProcessor*> published{nullptr};
};

} // namespace rp::bench
