// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/BenchEngine.h"

#include "bench/StoreGenerator.h"
#include "platform/mailstore/MailStoreApplication.h"

#include <cstdio>

namespace rp::bench {

namespace {

// Enough polls to take the engine's idle-wait path without burning the run on it.
constexpr int kBenchIdlePolls = 100;

// Every notice switched on, the day window open from 00:01 to 23:59.
SettingsRecord BenchSettings() {
    SettingsRecord settings;
    settings.MeetingNotify = settings.MorningNotify = settings.EveningNotify = true;
    settings.TaskNotify = settings.TaskPreNotify = settings.TaskReminder = true;
    settings.UrgentEmail = true;
    settings.TaskRemindPeriod = 2;
    settings.Pin = QStringLiteral("5551234567");
    settings.EarlyTime = EncodeTime(0, 1);
    settings.LateTime = EncodeTime(23, 59);
    return settings;
}

void ReportUnexpectedError(const QString& text) {
    // The parked start-up shows the connection failure on purpose; anything else
    // would spoil the figures, so say it.
    if (!text.startsWith(QLatin1String("Unable initilize")))
        std::fprintf(stderr, "engine error: %s\n", qPrintable(text));
}

} // namespace

TBenchEngine::TBenchEngine(const QString& storeFolder, const QString& dataFolder, TDateTime now,
                           bool parked, std::function<void(int wait)> onWait)
    : clock(now) {
    if (onWait)
        wake.OnWait = [onWait = std::move(onWait)](int wait, int) { onWait(wait); };
    host.SetSettings(BenchSettings());
    host.SetRecipient(QStringLiteral("5551234567@txt.invalid"));
    host.OnErrorBox = ReportUnexpectedError;
    // A user who never touches the machine.
    auto input = std::make_unique<test::FakeInput>();
    // Failing the first set-up parks the engine right after it has loaded its state files.
    auto runtime = std::make_unique<test::FakeRuntime>();
    if (parked)
        runtime->FailInitialize({1});
    TEngineDeps deps;
    deps.Clock = std::make_unique<test::ClockForwarder>(clock);
    deps.Input = std::move(input);
    deps.Wake = std::make_unique<test::WakeForwarder>(wake);
    deps.Runtime = std::move(runtime);
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
