// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/BenchEngine.h"
#include "bench/EngineStepAccess.h"
#include "bench/Measure.h"
#include "bench/StoreGenerator.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace rp::bench {
namespace {

using Access = TOutlookProcessorBenchAccess;

TStoreShape SmallShape() {
    TStoreShape shape;
    shape.events = 400;
    shape.tasks = 100;
    shape.messages = 100;
    return shape;
}

TEST(BenchEngine, ParkedEngineScansTheGeneratedStore) {
    QTemporaryDir store, data;
    WriteStore(store.path(), SmallShape());
    TBenchEngine bench(store.path(), data.path(), TStoreShape{}.now, true);
    for (int call = 0; call < 400 / ScanBatchLimit; ++call)
        Access::ProcessCheckes(bench.Engine());
    EXPECT_EQ(Access::AppointmentScanPos(bench.Engine()), 1); // wrapped: all examined
    EXPECT_GT(Access::Appointments(bench.Engine()).Count(), 0);
    EXPECT_GT(Access::Tasks(bench.Engine()).Count(), 0);
}

TEST(BenchEngine, RunningEngineStopsFromTheWaitHook) {
    QTemporaryDir store, data;
    WriteEmptyStore(store.path());
    const TDateTime start = TStoreShape{}.now;
    std::atomic<int> waits{0};
    TBenchEngine* running = nullptr;
    std::atomic<bool> ready{false};
    TBenchEngine bench(store.path(), data.path(), start, false, [&](int wait) {
        while (!ready.load())
            QThread::yieldCurrentThread();
        waits = wait;
        if (wait == 3)
            running->RequestStop();
    });
    running = &bench;
    ready = true;
    bench.Join();
    EXPECT_EQ(waits.load(), 3);
    // Start-up sleeps 500 ms; the first wait is 6 minutes (user not yet idle),
    // the next two 15 seconds each; the last one is ended by the stop at once.
    EXPECT_EQ(bench.wake.Waits(), QList<int>({360000, 15000, 15000}));
    const double elapsedMs = (bench.clock.Now() - start) * 86400000.0;
    EXPECT_NEAR(elapsedMs, 500 + 360000 + 15000, 1);
}

TEST(BenchEngine, WakeMovesTheClockOnlyWhenAsked) {
    test::FakeClock clock(EncodeDate(2024, 1, 1));
    test::FakeWakeEvent wake(clock);
    wake.WaitFor(60000);
    EXPECT_DOUBLE_EQ(clock.Now(), EncodeDate(2024, 1, 1) + 60000 / 86400000.0);
    wake.SetMovesClock(false);
    EXPECT_FALSE(wake.WaitFor(60000));
    wake.Set();
    EXPECT_TRUE(wake.WaitFor(60000));
    EXPECT_DOUBLE_EQ(clock.Now(), EncodeDate(2024, 1, 1) + 60000 / 86400000.0);
}

TEST(BenchEngine, FrozenClockLetsSleepsPassWithoutMoving) {
    test::FakeClock clock(EncodeDate(2024, 1, 1));
    clock.SetFrozen(true);
    clock.Sleep(500);
    EXPECT_DOUBLE_EQ(clock.Now(), EncodeDate(2024, 1, 1));
    clock.SetFrozen(false);
    clock.Sleep(500);
    EXPECT_DOUBLE_EQ(clock.Now(), EncodeDate(2024, 1, 1) + 500 / 86400000.0);
}

TEST(Measure, MedianOfOddAndEvenCounts) {
    EXPECT_DOUBLE_EQ(Median({3, 1, 2}), 2);
    EXPECT_DOUBLE_EQ(Median({4, 1, 2, 3}), 2.5);
    EXPECT_DOUBLE_EQ(Median({}), 0);
    EXPECT_DOUBLE_EQ(Mean({1, 2, 3}), 2);
}

TEST(Measure, JsonEscapesTexts) {
    TJson json;
    json.Add("a", 1.5).Add("b", int64_t{2}).Add("c", QStringLiteral("say \"hi\""));
    EXPECT_EQ(json.Text(), QByteArray(R"({"a": 1.5, "b": 2, "c": "say \"hi\""})"));
}

TEST(Measure, ReadsOwnResidentMemoryAndWrites) {
    EXPECT_GT(StatusKilobytes("VmRSS"), 0);
    EXPECT_EQ(StatusKilobytes("NoSuchField"), -1);
    EXPECT_GE(WrittenBytes(), 0);
}

} // namespace
} // namespace rp::bench
