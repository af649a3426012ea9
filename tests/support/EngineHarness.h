// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An engine wired to fakes in a temporary data folder. Typical use:
//
//   TEngineHarness h;                 // fake clock at Monday 2024-03-04 12:00
//   h.host.SetSettings(...);          // settings, hooks and store contents first
//   h.RunWaits(3);                    // start, stop at the 3rd wait, join
//   EXPECT_EQ(h.wake.Waits(), ...);
//
// Or StartParked() to get an engine whose start-up (state files loaded) is done
// and whose thread has ended.

#include "engine/OutlookProcessor.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/MemoryOutlook.h"

#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace rp::test {

class TEngineHarness {
public:
    explicit TEngineHarness(TDateTime start = EncodeDateTime(2024, 3, 4, 12, 0));
    ~TEngineHarness();

    // The fakes; the engine reaches them through forwarders, so they outlive it.
    FakeClock clock;
    FakeInput input;
    FakeWakeEvent wake{clock};
    FakeRuntime runtime;
    std::shared_ptr<MemoryOutlook> outlook = std::make_shared<MemoryOutlook>();
    FakeHost host;
    QTemporaryDir dir;
    int idlePolls = 30000;

    // Builds the engine; its thread starts at once.
    void Start();
    // Safe from hooks too, which may run before Start() has returned.
    TOutlookProcessor& Engine() { return Published(); }
    bool HasEngine() const { return engine != nullptr; }

    // Start, then stop the engine at the first wait for which keepGoing() is
    // false, and join its thread (which may also end by itself).
    void RunWhile(std::function<bool()> keepGoing);
    // Until a wait begins at or after the given fake time.
    void RunUntil(TDateTime until);
    // Until the nth wait begins; that wait is ended by the stop.
    void RunWaits(int waits);
    // Start-up only: stopped during its first sleep, so no cycle runs; then
    // StopRequested is cleared again.
    void StartParked();

    void StopAndJoin();
    // Destroys the engine, which writes DEBUG.LOG.
    void Destroy();

    // What the engine remembers, through its state files: seed them before
    // Start(), read them after a join. Records come back in key order.
    void SeedAppointments(const std::vector<TEventItem>& records) const;
    void SeedTasks(const std::vector<TTaskEvent>& records) const;
    void SeedEmails(const std::vector<TEmailItem>& records) const;
    std::vector<TEventItem> SavedAppointments() const;
    std::vector<TTaskEvent> SavedTasks() const;
    std::vector<TEmailItem> SavedEmails() const;
    // The engine's debug log as written to DEBUG.LOG (Debugging on), one entry a line.
    QStringList DebugLogLines() const;

    // Files in the data folder.
    QString Path(const QString& name) const;
    QByteArray ReadFile(const QString& name) const;
    void WriteFile(const QString& name, const QByteArray& content) const;
    bool Exists(const QString& name) const;

private:
    TOutlookProcessor& Published();
    void Join();

    std::unique_ptr<TOutlookProcessor> engine;
    std::atomic<TOutlookProcessor*> published{nullptr};
    std::atomic<bool> starting{false};
};

} // namespace rp::test
