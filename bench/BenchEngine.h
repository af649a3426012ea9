// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An engine over the real mail store, on the test suite's fakes: no real waiting,
// no user, every notice on and a day window that is always open.

#include "engine/OutlookProcessor.h"
#include "tests/support/EngineFakes.h"
#include "tests/support/SeamForwarders.h"

#include <atomic>
#include <functional>
#include <memory>

namespace rp::bench {

// The window shows only the latest status text; the tests' host keeps every one
// (12 000 for a pass over the large store), which is no part of what is measured.
class TBenchHost : public test::FakeHost {
public:
    void SetStatusText(const QString&) override {}
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
    test::FakeClock clock;
    test::FakeWakeEvent wake{clock};
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
