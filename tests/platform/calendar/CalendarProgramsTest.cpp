// SPDX-License-Identifier: GPL-3.0-or-later
// A Tuesday morning of one user's calendar as four programs write it (a Google
// export, Thunderbird, Outlook with Windows zone names, Apple with X-WR-TIMEZONE
// and date-time alarms), read by the real mail store from the profile's folder
// and run through the engine: meetings the user declined, all-day events, and
// subjects cut inside emoji.

#include "engine/StateFiles.h"
#include "platform/inbox/MessageHeaders.h"
#include "tests/platform/MailStoreTestSupport.h"
#include "tests/platform/StoreEngine.h"

#include <QLocale>

namespace rp::test {
namespace {

using mailstore::testing::TScopedTimeZone;

TDateTime Tuesday(int hour, int minute) {
    return EncodeDateTime(2024, 3, 5, hour, minute);
}

class CalendarProgramsTest : public ::testing::Test {
protected:
    CalendarProgramsTest() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    ~CalendarProgramsTest() override { QLocale::setDefault(saved); }

    // The user is known by the inbox login, the Online Accounts account that
    // sends, the From= address and one more address of their own.
    void RunFrom(TDateTime start, TDateTime end) {
        e = std::make_unique<TStoreEngine>(start);
        mailstore::testing::CopyTree(mailstore::testing::DataDir() + QStringLiteral("/programs"),
                                     e->StorePath(QStringLiteral("calendar")));
        TStoreEngine::Write(
            e->ProfilePath(),
            "[Calendar]\nPath=" + e->StorePath(QStringLiteral("calendar")).toUtf8() +
                "\nMe=a.smith@home.example\n"
                "[Inbox]\nUser=anna@example.org\n"
                "[Send]\nAuth=oauth2\nAccount=goa:asmith@mail.example\n"
                "From=Anna Smith <anna.smith@work.example>\n");
        e->host.UpdateSettings([](SettingsRecord& s) {
            s.MorningNotify = true;
            s.EarlyTime = EncodeTime(7, 0);
        });
        if (!seeded.isEmpty()) {
            TSortedList<TEventItem> list;
            for (const TEventItem& record : seeded)
                list.Add(record.Key, std::make_unique<TEventItem>(record));
            SaveNotifyFile(e->Path(QStringLiteral("NOTIFY.CLD")), list);
        }
        // The first look comes 6 minutes after the start, then one every 15 seconds.
        const int waits = 1 + static_cast<int>((end - start - 6 * kOneMinute) * 1440 * 4);
        ASSERT_TRUE(e->RunWaits(waits));
    }

    QStringList Sent() const {
        QStringList subjects;
        QDirIterator outbox(e->StorePath(QStringLiteral("Outbox/new")), QDir::Files);
        while (outbox.hasNext()) {
            const auto block = mailstore::ReadHeaderBlock(outbox.next());
            const auto headers = block ? mailstore::ParseHeaders(*block) : std::nullopt;
            subjects << (headers ? headers->subject : QStringLiteral("(unreadable)"));
        }
        subjects.sort();
        return subjects;
    }
    TSortedList<TEventItem> Tracked() const {
        TSortedList<TEventItem> list;
        LoadNotifyFile(e->Path(QStringLiteral("NOTIFY.CLD")), list);
        return list;
    }
    QStringList TrackedKeys() const {
        const TSortedList<TEventItem> list = Tracked();
        QStringList keys;
        for (int i = 0; i < list.Count(); ++i)
            keys << list.Key(i);
        return keys;
    }
    TDateTime ReminderOf(const QString& key) const {
        const TSortedList<TEventItem> list = Tracked();
        const int index = list.Find(key);
        return index < 0 ? 0 : list.At(index).ReminderTime;
    }

    TScopedTimeZone berlin{"Europe/Berlin"};
    QLocale saved;
    QList<TEventItem> seeded;
    std::unique_ptr<TStoreEngine> e;
};

TEST_F(CalendarProgramsTest, DeclinedMeetingsAreNeitherRemindedNorNamedFirst) {
    RunFrom(Tuesday(7, 0), Tuesday(8, 5));

    // Declined by the inbox login (Google, also one occurrence of a weekly
    // meeting), by Me= and the sending account (Thunderbird) and by From= (Outlook);
    // each would have come before the first meeting named here.
    const QStringList sent = Sent();
    const QStringList tracked = TrackedKeys();
    for (const char* declined :
         {"Vendor pitch", "Weekly 1:1", "Dentist", "Car service", "Board call"}) {
        EXPECT_TRUE(sent.filter(QLatin1String(declined)).isEmpty()) << declined;
        EXPECT_TRUE(tracked.filter(QLatin1String(declined)).isEmpty()) << declined;
    }
    // Not yet answered, and shown as free time: still the user's meeting. An
    // accepted one keeps its reminder.
    EXPECT_TRUE(sent.contains(QStringLiteral("First:8:00:00 AM@loc:Room 4Budget review")));
    EXPECT_TRUE(sent.contains(QStringLiteral("8:10:00 AM@loc:MeetTeam sync")));
}

TEST_F(CalendarProgramsTest, AllDayEventsRemindAtTheirAlarmAndNeverStartTheDay) {
    RunFrom(Tuesday(7, 0), Tuesday(8, 50));

    const QStringList sent = Sent();
    EXPECT_TRUE(sent.filter(QStringLiteral("First:12:00:00 AM")).isEmpty());
    EXPECT_TRUE(sent.filter(QStringLiteral("Bin collection")).isEmpty()) << "it has no alarm";
    // Apple's alarm at a date-time, Google's the evening before and on the day,
    // Thunderbird's on each day of a weekly event.
    const QMap<QString, TDateTime> reminders{
        {QStringLiteral("12:00:00 AM@loc:Messe NordConference day"), Tuesday(7, 30)},
        {QStringLiteral("12:00:00 AM@loc:Mum's birthday"), Tuesday(8, 0)},
        {QStringLiteral("12:00:00 AM@loc:Gym class"), Tuesday(8, 30)},
        {QStringLiteral("12:00:00 AM@loc:SchoolParents' evening"), Tuesday(8, 45)}};
    for (auto it = reminders.begin(); it != reminders.end(); ++it) {
        EXPECT_TRUE(sent.contains(it.key())) << it.key().toStdString();
        EXPECT_NEAR(ReminderOf(it.key()), it.value(), 1e-6) << it.key().toStdString();
    }
}

TEST_F(CalendarProgramsTest, TodaysAllDayAlertStillComesWhenTheComputerStartsInTheMorning) {
    RunFrom(Tuesday(8, 20), Tuesday(8, 50));

    const QStringList sent = Sent();
    EXPECT_TRUE(sent.contains(QStringLiteral("12:00:00 AM@loc:Gym class")));
    EXPECT_TRUE(sent.contains(QStringLiteral("12:00:00 AM@loc:SchoolParents' evening")));
}

TEST_F(CalendarProgramsTest, SubjectsKeepThirtyWholeCharactersAndOlderKeysStillMatch) {
    // Announced before the upgrade, under the key cut after 30 UTF-16 units.
    TEventItem announced;
    announced.Key = QStringLiteral("8:15:00 AM@loc:KitchenRelease party with the crew \U0001F389");
    announced.StartTime = Tuesday(8, 15);
    announced.ReminderTime = Tuesday(8, 0);
    announced.Notified = true;
    seeded << announced;
    RunFrom(Tuesday(7, 0), Tuesday(8, 10));

    const QStringList sent = Sent();
    EXPECT_TRUE(sent.contains(
        QStringLiteral("8:20:00 AM@loc:Room 2Planning round with the team \U0001F680")));
    EXPECT_TRUE(sent.filter(QStringLiteral("Release party")).isEmpty()) << "sent twice";
    const TSortedList<TEventItem> tracked = Tracked();
    const int party = tracked.Find(
        QStringLiteral("8:15:00 AM@loc:KitchenRelease party with the crew \U0001F389\U0001F389"));
    ASSERT_GE(party, 0);
    EXPECT_TRUE(tracked.At(party).Notified);
}

} // namespace
} // namespace rp::test
