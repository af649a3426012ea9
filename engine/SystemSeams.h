// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The engine's seams as the running program provides them.

#include "engine/EngineSeams.h"

#include <condition_variable>
#include <mutex>

namespace rp {

// The local wall clock and real sleeps.
class TSystemClock : public IClock {
public:
    TDateTime Now() override;
    int UtcOffsetSeconds() override;
    void Sleep(int milliseconds) override;
    void Yield() override;
};

// An in-process manual-reset event, created not signalled. Standard primitives
// rather than Qt's, so the thread sanitizer sees every hand-over.
class TWakeEvent : public IWakeEvent {
public:
    explicit TWakeEvent(QString name = QString::fromLatin1(WakeEventName));

    bool WaitFor(int milliseconds) override;
    void Set() override;
    void Reset() override;
    QString Name() const override { return name; }

private:
    const QString name;
    std::mutex mutex;
    std::condition_variable signal;
    bool signalled = false;
};

// Nothing to set up per thread for the local mail store.
class TNullAutomationRuntime : public IAutomationRuntime {
public:
    bool Initialize() override { return true; }
    void Uninitialize() override {}
};

} // namespace rp
