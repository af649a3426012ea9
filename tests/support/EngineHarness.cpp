// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/EngineHarness.h"

#include "engine/StateFiles.h"
#include "tests/support/SeamForwarders.h"

#include <QDeadlineTimer>
#include <QFile>
#include <gtest/gtest.h>

namespace rp::test {

namespace {
// Generous: a simulated day under the thread sanitizer takes a while.
constexpr int kJoinTimeoutMs = 300000;
// An engine that shows error boxes in a loop would spin for ever under fakes.
constexpr int kMaxErrorBoxes = 50;

template <class Record>
void SaveRecords(const std::vector<Record>& records, const QString& path,
                 void (*save)(const QString&, const TSortedList<Record>&)) {
    TSortedList<Record> list;
    for (const Record& record : records)
        list.Add(record.Key, std::make_unique<Record>(record));
    save(path, list);
}

template <class Record>
std::vector<Record> LoadRecords(const QString& path,
                                void (*load)(const QString&, TSortedList<Record>&)) {
    TSortedList<Record> list;
    load(path, list);
    std::vector<Record> records;
    for (int i = 0; i < list.Count(); ++i)
        records.push_back(list.At(i));
    return records;
}

} // namespace

TEngineHarness::TEngineHarness(TDateTime start) : clock(start) {}

TEngineHarness::~TEngineHarness() {
    Destroy();
}

void TEngineHarness::Start() {
    starting = true;
    TEngineDeps deps;
    deps.Clock = std::make_unique<ClockForwarder>(clock);
    deps.Input = std::make_unique<InputForwarder>(input);
    deps.Wake = std::make_unique<WakeForwarder>(wake);
    deps.Runtime = std::make_unique<RuntimeForwarder>(runtime);
    deps.Factory = outlook->Factory();
    deps.DataDir = QDir(dir.path());
    deps.IdlePolls = idlePolls;
    auto userErrorBox = host.OnErrorBox;
    host.OnErrorBox = [this, userErrorBox](const QString& text) {
        if (userErrorBox)
            userErrorBox(text);
        if (host.ErrorBoxes().size() >= kMaxErrorBoxes)
            Published().Stop();
    };
    engine = std::make_unique<TOutlookProcessor>(&host, std::move(deps));
    published = engine.get();
}

TOutlookProcessor& TEngineHarness::Published() {
    if (!starting)
        qFatal("the harness's engine is used before Start()");
    // A hook can run before the constructor has returned to the test thread.
    while (!published.load())
        QThread::yieldCurrentThread();
    return *published.load();
}

void TEngineHarness::RunWhile(std::function<bool()> keepGoing) {
    auto userHook = wake.OnWait;
    wake.OnWait = [this, userHook, keepGoing](int number, int milliseconds) {
        if (userHook)
            userHook(number, milliseconds);
        if (!keepGoing())
            Published().Stop();
    };
    Start();
    Join();
}

void TEngineHarness::RunUntil(TDateTime until) {
    RunWhile([this, until] { return clock.Now() < until; });
}

void TEngineHarness::RunWaits(int waits) {
    RunWhile([this, waits] { return wake.Waits().size() < waits; });
}

void TEngineHarness::StartParked() {
    auto userHook = clock.OnSleep;
    bool parked = false;
    clock.OnSleep = [this, userHook, parked](int milliseconds) mutable {
        if (userHook)
            userHook(milliseconds);
        if (!parked) {
            parked = true;
            Published().Stop();
        }
    };
    Start();
    Join();
    engine->StopRequested = false;
}

void TEngineHarness::StopAndJoin() {
    if (!engine)
        return;
    engine->Stop();
    Join();
}

void TEngineHarness::Join() {
    if (!engine || !engine->Started())
        return;
    if (!engine->wait(QDeadlineTimer(kJoinTimeoutMs))) {
        ADD_FAILURE() << "the engine thread did not end; stopping it";
        engine->Stop();
        engine->wait();
    }
    engine->BodyEnded();
}

void TEngineHarness::Destroy() {
    // Joined even when isRunning() says no: that is already so while the thread
    // is still signalling its end, which the destruction must not overlap.
    if (engine && engine->isRunning())
        engine->Stop();
    Join();
    engine.reset();
}

void TEngineHarness::SeedAppointments(const std::vector<TEventItem>& records) const {
    SaveRecords(records, Path(QStringLiteral("NOTIFY.CLD")), &SaveNotifyFile);
}

void TEngineHarness::SeedTasks(const std::vector<TTaskEvent>& records) const {
    SaveRecords(records, Path(QStringLiteral("TASK.CLD")), &SaveTaskFile);
}

void TEngineHarness::SeedEmails(const std::vector<TEmailItem>& records) const {
    SaveRecords(records, Path(QStringLiteral("EMAIL.CLD")), &SaveEmailFile);
}

std::vector<TEventItem> TEngineHarness::SavedAppointments() const {
    return LoadRecords(Path(QStringLiteral("NOTIFY.CLD")), &LoadNotifyFile);
}

std::vector<TTaskEvent> TEngineHarness::SavedTasks() const {
    return LoadRecords(Path(QStringLiteral("TASK.CLD")), &LoadTaskFile);
}

std::vector<TEmailItem> TEngineHarness::SavedEmails() const {
    return LoadRecords(Path(QStringLiteral("EMAIL.CLD")), &LoadEmailFile);
}

QStringList TEngineHarness::DebugLogLines() const {
    return QString::fromUtf8(ReadFile(QStringLiteral("DEBUG.LOG")))
        .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

QString TEngineHarness::Path(const QString& name) const {
    return dir.filePath(name);
}

QByteArray TEngineHarness::ReadFile(const QString& name) const {
    QFile file(Path(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void TEngineHarness::WriteFile(const QString& name, const QByteArray& content) const {
    QFile file(Path(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ADD_FAILURE() << "cannot write " << name.toStdString();
    file.write(content);
}

bool TEngineHarness::Exists(const QString& name) const {
    return QFile::exists(Path(name));
}

} // namespace rp::test
