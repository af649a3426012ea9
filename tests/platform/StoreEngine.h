// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The engine on fake time and input over the real mail store: a profile, a
// calendar, a Maildir and the transport the profile names, all in one temporary
// folder that is also the engine's data folder. For tests that follow a value
// from the user's files to the message that leaves and to the state files.

#include "engine/OutlookProcessor.h"
#include "platform/mailstore/MailStoreApplication.h"
#include "tests/platform/StoreEngineDeps.h"
#include "tests/support/EngineFakes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>

namespace rp::test {

class TStoreEngine {
public:
    explicit TStoreEngine(TDateTime start = EncodeDateTime(2024, 3, 4, 12, 0))
        : ownedClock(std::make_unique<FakeClock>(start)),
          ownedWake(std::make_unique<FakeWakeEvent>(*ownedClock)),
          ownedInput(std::make_unique<FakeInput>()), clock(ownedClock.get()), wake(ownedWake.get()),
          input(ownedInput.get()) {
        host.UpdateSettings([](SettingsRecord& s) {
            s.MeetingNotify = true;
            s.UrgentEmail = true;
            s.EarlyTime = EncodeTime(0, 1);
            s.LateTime = EncodeTime(23, 59);
        });
        location.profilePath = ProfilePath();
        location.storeFolder = StorePath();
        location.recheckMs = 0;
        location.cacheFolder = Path(QStringLiteral("cache"));
        // The inbox a profile without an [Inbox] section reads.
        for (const char* sub : {"cur", "new", "tmp"})
            QDir().mkpath(StorePath(QStringLiteral("Inbox/") + QLatin1String(sub)));
    }
    ~TStoreEngine() {
        if (engine && engine->isRunning()) {
            engine->Stop();
            engine->wait();
        }
    }

    QString Path(const QString& name) const { return dir.filePath(name); }
    QString StorePath(const QString& name = {}) const {
        return dir.filePath(name.isEmpty() ? QStringLiteral("store")
                                           : QStringLiteral("store/") + name);
    }
    QString ProfilePath() const { return dir.filePath(QStringLiteral("MailStore.ini")); }
    static void Write(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        file.write(content);
    }
    static QByteArray Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Starts the engine (the user idle from the first wait on), stops it when the
    // nth wait begins and joins it; false when it did not end within the limit.
    bool RunWaits(int waits, int limitMs = 120000) {
        return Run([waits](int number) { return number >= waits; }, limitMs);
    }
    // The same, until the fake time reaches `end`.
    bool RunUntil(TDateTime end, int limitMs = 120000) {
        return Run([this, end](int) { return clock->Now() >= end; }, limitMs);
    }

    // The subjects of the messages in the default Outbox, sorted.
    QStringList Sent() const {
        QStringList subjects;
        QDirIterator it(StorePath(QStringLiteral("Outbox/new")), QDir::Files);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& line : file.readAll().split('\n'))
                if (line.startsWith("Subject: "))
                    subjects << QString::fromUtf8(line.mid(9).trimmed());
        }
        subjects.sort();
        return subjects;
    }

    TOutlookProcessor& Engine() { return *engine; }
    // The engine's destruction writes DEBUG.LOG.
    void Destroy() { engine.reset(); }

private:
    bool Run(std::function<bool(int wait)> done, int limitMs) {
        // The cursor never moves: the user is away from the first wait on.
        wake->OnWait = [this, done](int number, int) {
            if (beforeWait)
                beforeWait(number);
            if (done(number))
                Published().Stop();
        };
        engine = std::make_unique<TOutlookProcessor>(
            &host, StoreEngineDeps(std::move(ownedClock), std::move(ownedInput),
                                   std::move(ownedWake), location, dir.path()));
        engine->Debugging = debugging;
        published = engine.get();
        const bool ended = engine->wait(QDeadlineTimer(limitMs));
        if (!ended) {
            engine->Stop();
            engine->wait();
        }
        engine->BodyEnded();
        return ended;
    }

    // Handed to the engine when it starts; the raw pointers below stay valid.
    std::unique_ptr<FakeClock> ownedClock;
    std::unique_ptr<FakeWakeEvent> ownedWake;
    std::unique_ptr<FakeInput> ownedInput;

public:
    QTemporaryDir dir;
    // Where the engine's mail store is; set before RunWaits.
    mailstore::TStoreLocation location;
    FakeHost host;
    // Runs on the engine thread as each wait begins, while the engine holds
    // still: the place to change the user's data.
    std::function<void(int wait)> beforeWait;
    bool debugging = false; // DEBUG.LOG written while the engine runs
    FakeClock* clock;
    FakeWakeEvent* wake;
    FakeInput* input;

private:
    TOutlookProcessor& Published() {
        while (!published.load())
            QThread::yieldCurrentThread();
        return *published.load();
    }
    std::unique_ptr<TOutlookProcessor> engine;
    std::atomic<TOutlookProcessor*> published{nullptr};
};

} // namespace rp::test
