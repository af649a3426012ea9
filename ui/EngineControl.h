// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the main window does with the engine, as a small interface so the window's
// tests can run it against a fake engine.

#include <QString>
#include <functional>
#include <memory>

namespace rp {

class IEngineHost;

class IEngine {
public:
    // Waits for the engine's thread to end.
    virtual ~IEngine() = default;
    // Raises the stop request and signals the wake event.
    virtual void Stop() = 0;
    virtual void SignalWake() = 0;
    // Fills the test-message slot, then the pending mark, then signals the wake event.
    virtual void QueueMessage(const QString& recipient, const QString& subject,
                              const QString& body) = 0;
    virtual bool Debugging() const = 0;
    virtual void SetDebugging(bool on) = 0;
};

// Builds and starts an engine reporting to `host`; the host outlives it.
using TEngineFactory = std::function<std::unique_ptr<IEngine>(IEngineHost& host)>;

// The real engine on the system's clock, input state, wake event and mail store,
// keeping its files in the current directory. `notice` receives a one-line text
// when the input state had to fall back.
TEngineFactory SystemEngineFactory(std::function<void(const QString& notice)> showNotice);

} // namespace rp
