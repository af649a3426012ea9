// SPDX-License-Identifier: GPL-3.0-or-later
// Calendars and task lists read from the desktop's own store: Debian's
// evolution-data-server on a private bus, changed by another program through the
// store's library while the engine runs on fake time over the real mail store.

#include "platform/calendar/DesktopSource.h"
#include "tests/platform/CalDavTestSupport.h"
#include "tests/platform/DesktopStoreTestSupport.h"
#include "tests/platform/StoreEngine.h"

#include <QElapsedTimer>
#include <QLocale>
#include <mutex>

namespace rp::test {
namespace {

using mailstore::TDesktopKind;
using mailstore::testing::Event;
using mailstore::testing::Task;
using mailstore::testing::TCalendarProgram;
using mailstore::testing::TDesktopStoreServer;
using mailstore::testing::TScopedTimeZone;

QByteArray Trash(const QByteArray& summary = "Take out the trash",
                 const QByteArray& day = "20240305") {
    return Task("trash",
                "DTSTART;VALUE=DATE:" + day + "\r\nDUE;VALUE=DATE:" + day +
                    "\r\nRRULE:FREQ=WEEKLY\r\n",
                summary);
}

// Status texts come from the engine's thread.
class TStatusLog {
public:
    mailstore::TStatusSink Sink() {
        return [this](const QString& text) {
            const std::lock_guard<std::mutex> guard(lock);
            texts << text;
        };
    }
    QStringList Texts() const {
        const std::lock_guard<std::mutex> guard(lock);
        return texts;
    }
    bool Has(const QString& part) const { return !Texts().filter(part).isEmpty(); }

private:
    mutable std::mutex lock;
    QStringList texts;
};

class DesktopStoreTest : public ::testing::Test {
protected:
    DesktopStoreTest() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    ~DesktopStoreTest() override { QLocale::setDefault(savedLocale); }
    void SetUp() override {
        if (!server.Usable())
            GTEST_SKIP() << "evolution-data-server or dbus-daemon is not installed";
    }

    TDesktopStoreServer server;
    TStatusLog status;
    QLocale savedLocale;
};

TEST_F(DesktopStoreTest, MeetingsAndTasksAreRemindedOnceAndARecurringTaskMovesOnInTheStore) {
    const TScopedTimeZone zone("Europe/Berlin");
    server.AddLocalSource(
        TDesktopKind::Calendar, QStringLiteral("ringpost-work"), QStringLiteral("Work"),
        Event("budget", ";TZID=Europe/Berlin:20240312T123000", "Budget review", "Room 4") +
            Event("standup", ";TZID=Europe/Berlin:20240312T130000", "Standup", "Room 1") +
            Event("hiring", ";TZID=Europe/Berlin:20240312T133000", "Hiring", "Room 2") +
            Event("pitch", ";TZID=Europe/Berlin:20240312T124500", "Vendor pitch", "Room 3",
                  "ORGANIZER:mailto:bob@example.org\r\n"
                  "ATTENDEE;PARTSTAT=DECLINED:mailto:anna@example.org\r\n") +
            // New York has moved its clocks, Berlin not yet: 14:00 here, not 15:00.
            Event("newyork", ";TZID=America/New_York:20240227T090000", "Sync with New York",
                  "Phone", "RRULE:FREQ=WEEKLY;BYDAY=TU\r\n"));
    server.AddLocalSource(
        TDesktopKind::Tasks, QStringLiteral("ringpost-chores"), QStringLiteral("Chores"),
        Task("report", "DUE;VALUE=DATE:20240313\r\n", "File report") +
            Task("invoice", "DUE;VALUE=DATE:20240308\r\n", "Pay invoice") + Trash());
    ASSERT_TRUE(server.Start());

    TStoreEngine e(EncodeDateTime(2024, 3, 12, 12, 0));
    e.location.status = status.Sink();
    e.host.UpdateSettings([](SettingsRecord& s) {
        s.TaskNotify = true;
        s.TaskPreNotify = true;
        s.TaskReminder = true;
        s.TaskRemindPeriod = 2;
    });
    TStoreEngine::Write(e.ProfilePath(), "[Calendar]\nSource=desktop:Work\nMe=anna@example.org\n"
                                         "[Tasks]\nSource=desktop:Chores\n");
    bool changed = false;
    e.beforeWait = [&](int) {
        if (changed || e.clock->Now() < EncodeDateTime(2024, 3, 12, 12, 20))
            return;
        changed = true;
        TCalendarProgram calendar(TDesktopKind::Calendar, QStringLiteral("ringpost-work"));
        EXPECT_TRUE(calendar.Modify(
            Event("standup", ";TZID=Europe/Berlin:20240312T140000", "Standup", "Room 1")));
        EXPECT_TRUE(calendar.Remove("hiring"));
    };
    ASSERT_TRUE(e.RunUntil(EncodeDateTime(2024, 3, 12, 15, 0)));

    const QStringList sent = e.Sent();
    const auto times = [&sent](const QString& subject) { return sent.count(subject); };
    EXPECT_EQ(times("12:30:00 PM@loc:Room 4Budget review"), 1) << sent.join('\n').toStdString();
    EXPECT_EQ(times("2:00:00 PM@loc:Room 1Standup"), 1);
    EXPECT_EQ(times("1:00:00 PM@loc:Room 1Standup"), 0);
    EXPECT_EQ(sent.filter("Hiring").size(), 0);
    EXPECT_EQ(sent.filter("Vendor pitch").size(), 0) << "declined";
    EXPECT_EQ(times("2:00:00 PM@loc:PhoneSync with New York"), 1);
    EXPECT_EQ(sent.filter("File report:").size(), 1);
    EXPECT_EQ(sent.filter("Pay invoice:").size(), 1);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(status.Texts().isEmpty()) << status.Texts().join('\n').toStdString();

    // The overdue weekly task was moved on in the store, to this week's turn.
    TCalendarProgram tasks(TDesktopKind::Tasks, QStringLiteral("ringpost-chores"));
    const QByteArray trash = tasks.Get("trash");
    EXPECT_TRUE(trash.contains("DTSTART;VALUE=DATE:20240312")) << trash.toStdString();
    EXPECT_TRUE(trash.contains("DUE;VALUE=DATE:20240312")) << trash.toStdString();

    // The last good copies are the user's alone.
    QDirIterator copies(e.location.cacheFolder, QDir::Files, QDirIterator::Subdirectories);
    int count = 0;
    for (; copies.hasNext(); ++count)
        EXPECT_FALSE(QFileInfo(copies.next()).permissions() &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther));
    EXPECT_EQ(count, 2);
}

TEST_F(DesktopStoreTest, ATaskChangedElsewhereBeforeItMovesOnKeepsThatChange) {
    server.AddLocalSource(TDesktopKind::Tasks, QStringLiteral("ringpost-chores"),
                          QStringLiteral("Chores"), Trash());
    ASSERT_TRUE(server.Start());
    QTemporaryDir cache;
    mailstore::TDesktopSource source(std::make_shared<mailstore::TDesktopStore>(),
                                     TDesktopKind::Tasks, {true, {QStringLiteral("Chores")}},
                                     QStringLiteral("task list"), cache.path(), 60, status.Sink());
    const auto read = source.Contents();
    ASSERT_EQ(read->tasks.size(), 1u);

    TCalendarProgram program(TDesktopKind::Tasks, QStringLiteral("ringpost-chores"));
    ASSERT_TRUE(program.Modify(Trash("Take out the recycling", "20240306")));
    EXPECT_FALSE(source.SkipTask(*read->tasks.front()));
    EXPECT_TRUE(status.Has("was changed in \"Chores\" meanwhile"))
        << status.Texts().join('\n').toStdString();
    EXPECT_TRUE(program.Get("trash").contains("DTSTART;VALUE=DATE:20240306"));

    // Read again, it moves on over the version that is there now.
    const auto again = source.Contents();
    ASSERT_EQ(again->tasks.size(), 1u);
    EXPECT_EQ(again->tasks.front()->subject, QStringLiteral("Take out the recycling"));
    const auto moved = source.SkipTask(*again->tasks.front());
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->subject, QStringLiteral("Take out the recycling"));
    EXPECT_TRUE(program.Get("trash").contains("DTSTART;VALUE=DATE:20240313"));
    EXPECT_EQ(source.ReadCount(), 2);
}

TEST_F(DesktopStoreTest, ACalDavCalendarInTheStoreIsReadOnceItsAccountIsSignedIn) {
    mailstore::testing::TRadicale radicale;
    if (!radicale.ready)
        GTEST_SKIP() << "Radicale or openssl is not available";
    using mailstore::testing::EventText;
    using mailstore::testing::TRadicale;
    ASSERT_TRUE(radicale.Other("PUT", "review.ics", EventText("m1", "Review")).Ok());
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.AddCalDavSource(QStringLiteral("ringpost-team"), QStringLiteral("Team"),
                                       radicale.Url(), TRadicale::kUser, radicale.CaFile()));
    QTemporaryDir cache;
    const mailstore::TDesktopSelection team{true, {QStringLiteral("Team")}};
    mailstore::TDesktopSource source(std::make_shared<mailstore::TDesktopStore>(),
                                     TDesktopKind::Calendar, team, QStringLiteral("calendar"),
                                     cache.path(), 0, status.Sink());
    const auto poll = [&source](auto done) {
        for (QDeadlineTimer limit(20000); !limit.hasExpired(); QThread::msleep(100))
            if (done(*source.Contents()))
                return true;
        return false;
    };

    // The store has no password for it yet, and the user is told where to sign in.
    EXPECT_TRUE(poll([this](const auto&) { return status.Has("signed in again"); }))
        << status.Texts().join('\n').toStdString();
    EXPECT_TRUE(source.Contents()->appointments.empty());

    ASSERT_TRUE(
        server.SignIn(QStringLiteral("ringpost-team"), TRadicale::kUser, TRadicale::kPassword));
    ASSERT_TRUE(poll([](const auto& contents) { return contents.appointments.size() == 1; }));
    EXPECT_EQ(source.Contents()->appointments.front()->subject, "Review");
    EXPECT_EQ(source.Contents()->appointments.front()->start, EncodeDateTime(2030, 3, 20, 9, 0));
    EXPECT_TRUE(status.Has("The desktop's calendar is read again."));

    // A change on the server arrives through the store's own sync.
    ASSERT_TRUE(radicale.Other("PUT", "plan.ics", EventText("m2", "Planning")).Ok());
    ASSERT_TRUE(
        TCalendarProgram(TDesktopKind::Calendar, QStringLiteral("ringpost-team")).Refresh());
    EXPECT_EQ(source.Contents()->appointments.size(), 2u);
    EXPECT_EQ(mailstore::ProbeDesktopSource(team, TDesktopKind::Calendar),
              QStringLiteral("Found 2 events: 2 in \"Team\" (CalDAV)."));
}

TEST_F(DesktopStoreTest, NoStoreAStoppedOneAndAHungOneCostABoundedWaitAndNothingIsSentTwice) {
    server.AddLocalSource(TDesktopKind::Calendar, QStringLiteral("ringpost-work"),
                          QStringLiteral("Work"),
                          Event("budget", ":20240304T123000Z", "Budget review", "Room 4") +
                              Event("standup", ":20240304T133000Z", "Standup", "Room 1"));
    TStoreEngine e;
    e.location.status = status.Sink();
    // Asked again a second after trouble, while fake time runs about a
    // minute in a second.
    e.location.pollSeconds = 1;
    e.location.desktopAnswerMs = 1000;
    TStoreEngine::Write(e.ProfilePath(), "[Calendar]\nSource=desktop\n[Tasks]\nSource=desktop\n");
    const auto at = [](int hour, int minute) { return EncodeDateTime(2024, 3, 4, hour, minute); };
    int step = 0;
    QElapsedTimer sinceWait;
    qint64 longestCycle = 0;
    e.beforeWait = [&](int) {
        if (sinceWait.isValid())
            longestCycle = std::max(longestCycle, sinceWait.elapsed());
        const TDateTime now = e.clock->Now();
        if (step == 0 && now >= at(12, 5))
            step += server.Start() ? 1 : 100;
        else if (step == 1 && now >= at(12, 40))
            step += (server.Stop(), 1);
        else if (step == 2 && now >= at(13, 20))
            step += server.Start() ? (server.Pause(), 1) : 100;
        else if (step == 3 && status.Has("did not answer"))
            step += (server.Resume(), 1);
        QThread::msleep(15);
        sinceWait.start();
    };
    ASSERT_TRUE(e.RunUntil(at(14, 0)));

    EXPECT_EQ(step, 4);
    // Before the store came, while it was away, and after it came back: each
    // meeting once, the second from the last good copy.
    EXPECT_EQ(e.Sent(),
              QStringList({"12:30:00 PM@loc:Room 4Budget review", "1:30:00 PM@loc:Room 1Standup"}));
    const QString said = status.Texts().join('\n');
    EXPECT_TRUE(status.Has("calendar store (evolution-data-server) is not running"))
        << said.toStdString();
    EXPECT_TRUE(status.Has("The last good copy of the calendar is used.")) << said.toStdString();
    EXPECT_TRUE(status.Has("did not answer within 1 seconds")) << said.toStdString();
    EXPECT_TRUE(status.Texts().endsWith("The desktop's calendar is read again."))
        << said.toStdString();
    // A store that does not answer holds a cycle up for the bound, once.
    EXPECT_LT(longestCycle, 2500);

    // A start while the store is away reads the last good copy.
    server.Stop();
    mailstore::TDesktopSource restarted(std::make_shared<mailstore::TDesktopStore>(1000),
                                        TDesktopKind::Calendar, {true, {}},
                                        QStringLiteral("calendar"), e.location.cacheFolder, 60);
    EXPECT_EQ(restarted.Contents()->appointments.size(), 2u);
}

} // namespace
} // namespace rp::test
