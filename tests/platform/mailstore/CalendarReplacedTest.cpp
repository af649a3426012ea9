// SPDX-License-Identifier: GPL-3.0-or-later
// A sync tool that keeps replacing the calendar file: it writes a new copy beside
// it and renames it over the old one, and now and then the file is missing for a
// moment (the old copy moved away before the new one is in). The engine runs over
// the real local mail store on fake time, so three hours of polling take seconds.
// It stays up, says in the status bar that it retries, and every reminder that
// comes due goes out once.

#include "engine/OutlookProcessor.h"
#include "platform/mailstore/MailStoreApplication.h"
#include "tests/platform/StoreEngineDeps.h"
#include "tests/support/EngineFakes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>

namespace rp::test {
namespace {

QByteArray Event(const char* uid, const char* start, const char* summary) {
    return QByteArray("BEGIN:VEVENT\r\nUID:") + uid +
           "\r\nDTSTAMP:20240301T000000Z\r\nDTSTART:" + start +
           "\r\nDURATION:PT30M\r\nSUMMARY:" + summary + "\r\nLOCATION:Room 4\r\nEND:VEVENT\r\n";
}

QByteArray Calendar(int version) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Sync " + QByteArray::number(version) +
           "//EN\r\n" + Event("a", "20240304T093000", "Budget review") +
           Event("b", "20240304T100000", "Standup") + Event("c", "20240304T104500", "Design") +
           Event("d", "20240304T113000", "Hiring") + "END:VCALENDAR\r\n";
}

class CalendarReplacedTest : public ::testing::Test {
protected:
    CalendarReplacedTest() {
        for (const char* sub : {"cur", "new", "tmp"})
            QDir().mkpath(Store(QStringLiteral("Inbox/") + QLatin1String(sub)));
        WriteAndRename();
        host.UpdateSettings([](SettingsRecord& s) {
            s.MeetingNotify = true;
            s.EarlyTime = EncodeTime(7, 0);
            s.LateTime = EncodeTime(22, 0);
        });
    }

    QString Store(const QString& name) const {
        return dir.filePath(QStringLiteral("store/") + name);
    }
    QString CalendarPath() const { return Store(QStringLiteral("calendar.ics")); }

    // The new copy is written in full beside the file, then renamed over it.
    void WriteAndRename() {
        const QString next = Store(QStringLiteral(".calendar.ics.sync"));
        QDir().mkpath(QFileInfo(next).absolutePath());
        QFile file(next);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(Calendar(++version));
        file.close();
        ASSERT_EQ(std::rename(QFile::encodeName(next).constData(),
                              QFile::encodeName(CalendarPath()).constData()),
                  0);
    }

    // At every wait of the engine (a cycle's wait or a retry pause) the tool has
    // moved on: it replaces the file, or on every third turn moves the old copy
    // away, so the next scan finds no file until the new one is renamed in.
    void SyncToolTurn() {
        ++turns;
        if (!QFile::exists(CalendarPath()))
            WriteAndRename();
        else if (turns % 3 == 0)
            std::rename(QFile::encodeName(CalendarPath()).constData(),
                        QFile::encodeName(Store(QStringLiteral(".calendar.ics.old"))).constData());
        else
            WriteAndRename();
    }

    QStringList Sent() const {
        QStringList subjects;
        QDirIterator it(Store(QStringLiteral("Outbox/new")), QDir::Files);
        while (it.hasNext()) {
            QFile file(it.next());
            file.open(QIODevice::ReadOnly);
            for (const QByteArray& line : file.readAll().split('\n'))
                if (line.startsWith("Subject: "))
                    subjects << QString::fromUtf8(line.mid(9).trimmed());
        }
        subjects.sort();
        return subjects;
    }

    QTemporaryDir dir;
    FakeHost host;
    int version = 0;
    int turns = 0;
};

TEST_F(CalendarReplacedTest, EngineStaysUpAndMissesNothingDue) {
    auto clock = std::make_unique<FakeClock>(EncodeDateTime(2024, 3, 4, 9, 0));
    auto wake = std::make_unique<FakeWakeEvent>(*clock);
    FakeClock& time = *clock;
    std::atomic<TOutlookProcessor*> engine{nullptr};
    QList<bool> runningAtStop;
    wake->OnWait = [&](int, int) {
        SyncToolTurn();
        if (time.Now() >= EncodeDateTime(2024, 3, 4, 12, 0) && engine.load()) {
            runningAtStop = host.EngineRunningChanges();
            engine.load()->Stop();
        }
    };
    TOutlookProcessor processor(
        &host, StoreEngineDeps(std::move(clock), std::make_unique<FakeInput>(), std::move(wake),
                               {dir.filePath(QStringLiteral("MailStore.ini")),
                                dir.filePath(QStringLiteral("store")), 0},
                               dir.path()));
    engine = &processor;
    ASSERT_TRUE(processor.wait(QDeadlineTimer(120000))) << "the engine hung";
    processor.BodyEnded();

    EXPECT_GT(turns, 700);
    EXPECT_EQ(runningAtStop, QList<bool>{true}) << "the engine ended before it was stopped";
    const QStringList status = host.StatusTexts();
    const auto retrying = std::count_if(status.begin(), status.end(), [](const QString& text) {
        return text.contains(QStringLiteral("calendar")) &&
               text.endsWith(QStringLiteral("Retrying in 5 seconds."));
    });
    EXPECT_GT(retrying, 100) << "the missing file was never met";
    EXPECT_TRUE(host.ErrorBoxes().isEmpty()) << host.ErrorBoxes().join('\n').toStdString();
    const QStringList sent = Sent();
    ASSERT_EQ(sent.size(), 4) << sent.join('\n').toStdString();
    for (const char* summary : {"Budget review", "Design", "Hiring", "Standup"})
        EXPECT_EQ(sent.filter(QLatin1String(summary)).size(), 1) << summary;
}

} // namespace
} // namespace rp::test
