// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The engine owns its seams; these hand its calls on to seams the caller keeps,
// so a test or a benchmark can still drive and inspect them.

#include "engine/EngineSeams.h"

namespace rp::test {

class ClockForwarder : public IClock {
public:
    explicit ClockForwarder(IClock& target) : target(target) {}
    TDateTime Now() override { return target.Now(); }
    int UtcOffsetSeconds() override { return target.UtcOffsetSeconds(); }
    void Sleep(int milliseconds) override { target.Sleep(milliseconds); }
    void Yield() override { target.Yield(); }

private:
    IClock& target;
};

class InputForwarder : public IInputState {
public:
    explicit InputForwarder(IInputState& target) : target(target) {}
    QPoint CursorPos() override { return target.CursorPos(); }
    void ReadKeyStates(KeyStates& states) override { target.ReadKeyStates(states); }

private:
    IInputState& target;
};

class WakeForwarder : public IWakeEvent {
public:
    explicit WakeForwarder(IWakeEvent& target) : target(target) {}
    bool WaitFor(int milliseconds) override { return target.WaitFor(milliseconds); }
    void Set() override { target.Set(); }
    void Reset() override { target.Reset(); }
    QString Name() const override { return target.Name(); }

private:
    IWakeEvent& target;
};

class RuntimeForwarder : public IAutomationRuntime {
public:
    explicit RuntimeForwarder(IAutomationRuntime& target) : target(target) {}
    bool Initialize() override { return target.Initialize(); }
    void Uninitialize() override { target.Uninitialize(); }

private:
    IAutomationRuntime& target;
};

} // namespace rp::test
