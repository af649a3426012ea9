// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/BenchEngine.h"

#include "bench/StoreGenerator.h"
#include "platform/mailstore/MailStoreApplication.h"

#include <cmath>
#include <cstdio>

namespace rp::bench {

namespace {
constexpr double kMsecPerDay = 86400000.0;
// Enough polls to take the engine's idle-wait path without burning the run on it.
constexpr int kBenchIdlePolls = 100;
} // namespace

TBenchClock::TBenchClock(TDateTime start) : msecs(std::llround(start * kMsecPerDay)) {}

TDateTime TBenchClock::Now() {
    return static_cast<double>(msecs.load()) / kMsecPerDay;
}

bool TBenchWake::WaitFor(int milliseconds) {
    if (OnWait)
        OnWait(++waits);
    if (advance)
        clock.Advance(milliseconds);
    return signalled;
}

TBenchHost::TBenchHost() {
    settings.MeetingNotify = settings.MorningNotify = settings.EveningNotify = true;
    settings.TaskNotify = settings.TaskPreNotify = settings.TaskReminder = true;
    settings.UrgentEmail = true;
    settings.TaskRemindPeriod = 2;
    settings.Pin = QStringLiteral("5551234567");
    settings.EarlyTime = EncodeTime(0, 1);
    settings.LateTime = EncodeTime(23, 59);
}

void TBenchHost::ShowErrorBox(const QString& text) {
    // The parked start-up shows the connection failure on purpose; anything else
    // would spoil the figures, so say it.
    if (!text.startsWith(QLatin1String("Unable initilize")))
        std::fprintf(stderr, "engine error: %s\n", qPrintable(text));
}

TBenchEngine::TBenchEngine(const QString& storeFolder, const QString& dataFolder, TDateTime now,
                           bool parked, std::function<void(int wait)> onWait)
    : clock(now) {
    wake.OnWait = std::move(onWait);
    TEngineDeps deps;
    deps.Clock = std::make_unique<test::ClockForwarder>(clock);
    deps.Input = std::make_unique<TAwayInput>();
    deps.Wake = std::make_unique<test::WakeForwarder>(wake);
    deps.Runtime = std::make_unique<TBenchRuntime>(parked);
    mailstore::TStoreLocation location;
    location.profilePath = ProfilePath(storeFolder);
    location.storeFolder = storeFolder;
    deps.Factory = std::make_unique<mailstore::TMailStoreFactory>(location);
    deps.DataDir = QDir(dataFolder);
    deps.IdlePolls = kBenchIdlePolls;
    engine = std::make_unique<TOutlookProcessor>(&host, std::move(deps));
    published = engine.get();
    if (parked) {
        Join();
        engine->StopRequested = false;
    }
}

TBenchEngine::~TBenchEngine() {
    if (engine && engine->isRunning())
        engine->Stop();
    engine.reset();
}

void TBenchEngine::RequestStop() {
    while (!published.load())
        QThread::yieldCurrentThread();
    published.load()->Stop();
}

void TBenchEngine::Join() {
    engine->wait();
}

} // namespace rp::bench
