// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile values from the user's files and settings, followed through the engine
// to the messages that leave and to the state files: line breaks, NUL, broken
// UTF-8, 100 000 characters, encoded-word bombs, rules without end, a 50 MB
// message, addresses with header-breaking characters. Nothing crashes, hangs or
// injects a header, and every tracked key fits its 255 bytes and survives a
// save and a load.

#include "engine/StateFiles.h"
#include "engine/TrackedRecords.h"
#include "platform/delivery/MessageComposer.h"
#include "platform/inbox/MessageHeaders.h"
#include "tests/platform/StoreEngine.h"

#include <QDirIterator>
#include <QElapsedTimer>

namespace rp::test {
namespace {

const char* const kKnownHeaders[] = {
    "From:",       "To:",           "Subject:",      "Date:",
    "Message-Id:", "MIME-Version:", "Content-Type:", "Content-Transfer-Encoding:"};

QByteArray HeaderBlock(const QByteArray& message) {
    const qsizetype end = message.indexOf("\n\n");
    return end < 0 ? message : message.left(end + 1);
}

// Every header line is one the composer writes or a folded continuation: no
// value could start a header of its own.
void ExpectOnlyComposedHeaders(const QByteArray& message, const std::string& what) {
    const QByteArray block = HeaderBlock(QByteArray(message).replace("\r\n", "\n"));
    int subjects = 0;
    for (const QByteArray& line : block.split('\n')) {
        if (line.isEmpty() || line.startsWith(' ') || line.startsWith('\t'))
            continue;
        subjects += line.startsWith("Subject:");
        const bool known = std::any_of(std::begin(kKnownHeaders), std::end(kKnownHeaders),
                                       [&line](const char* name) { return line.startsWith(name); });
        EXPECT_TRUE(known) << what << ": injected header line: " << line.left(120).constData();
    }
    EXPECT_EQ(subjects, 1) << what;
    EXPECT_FALSE(block.contains('\0')) << what;
}

QStringList OutboxMessages(const TStoreEngine& e) {
    QStringList files;
    QDirIterator it(e.StorePath(QStringLiteral("Outbox/new")), QDir::Files);
    while (it.hasNext())
        files << it.next();
    return files;
}

// The records as the engine stored them for its next start. Each key fits its
// field and was cut at a whole character before it was tracked, so the next
// start matches it to the same item.
template <class Record, class Loader>
TSortedList<Record> StoredRecords(const QString& file, Loader load) {
    TSortedList<Record> loaded;
    load(file, loaded);
    for (int i = 0; i < loaded.Count(); ++i) {
        const QString& key = loaded.Key(i);
        EXPECT_LE(key.toUtf8().size(), kMaxKeyBytes);
        EXPECT_FALSE(key.contains(QChar::ReplacementCharacter)) << "a key cut inside a character";
        EXPECT_EQ(KeyBytes(key), key.toUtf8());
    }
    return loaded;
}

QByteArray Folded(const QByteArray& name, const QByteArray& value) {
    QByteArray out = name + ": ";
    for (qsizetype i = 0; i < value.size(); i += 70)
        out += (i ? "\n " : "") + value.mid(i, 70);
    return out + "\n";
}

QByteArray UrgentMessage(const QByteArray& subjectLine, const QByteArray& fromLine) {
    return subjectLine + fromLine +
           "To: anna@example.org\nDate: Mon, 04 Mar 2024 11:00:00 +0000\nImportance: "
           "high\n\nBody\n";
}

QByteArray Base64Word(const QByteArray& text) {
    return "=?UTF-8?B?" + text.toBase64() + "?=";
}

void WriteHostileInbox(const TStoreEngine& e) {
    const QString inbox = e.StorePath(QStringLiteral("Inbox/new/"));
    QByteArray bomb;
    for (int i = 0; i < 20000; ++i)
        bomb += "=?UTF-8?B?QQ==?= ";
    const QList<std::pair<const char*, QByteArray>> messages = {
        {"1709550000.crlf.host",
         UrgentMessage("Subject: " + Base64Word("Lunch\r\nBcc: victim@evil.com\r\n\r\nbody") + "\n",
                       "From: =?UTF-8?Q?Eve=0D=0AX-Evil:_1?= <eve@example.com>\n")},
        {"1709550001.nul.host", UrgentMessage("Subject: =?UTF-8?Q?Null=00Bcc:_victim@evil.com?=\n",
                                              "From: =?UTF-8?Q?Nul=00l?= <nul@example.com>\n")},
        {"1709550002.badutf8.host", UrgentMessage("Subject: Caf\xe9 \xff\xfe\xc3( au lait\n",
                                                  "From: \xc3\x28\xa0 <bad@example.com>\n")},
        {"1709550003.long.host",
         UrgentMessage(Folded("Subject", QByteArray(100000, 'L')),
                       Folded("From", QByteArray(100000, 'N') + " <long@example.com>"))},
        {"1709550004.bomb.host",
         UrgentMessage(Folded("Subject", bomb), "From: " + Base64Word(Base64Word(Base64Word("x"))) +
                                                    " =?x-unknown?Q?abc?= =?UTF-8?B?!!!?= "
                                                    "=?UTF-8?Q?=ZZ?= <bomb@example.com>\n")},
    };
    for (const auto& [name, content] : messages)
        TStoreEngine::Write(inbox + QLatin1String(name), content);
}

// 50 MB each: one with a short header and a huge body, one that is all header.
void WriteHugeMessages(const TStoreEngine& e) {
    const QString inbox = e.StorePath(QStringLiteral("Inbox/new/"));
    QByteArray body(50 * 1024 * 1024, 'b');
    for (qsizetype i = 999; i < body.size(); i += 1000)
        body[i] = '\n';
    TStoreEngine::Write(inbox + "1709550005.hugebody.host",
                        UrgentMessage("Subject: Huge body\n", "From: Big <big@example.com>\n") +
                            body);
    QByteArray header(50 * 1024 * 1024, 'h');
    header.replace(0, 8, "X-Junk: ");
    TStoreEngine::Write(inbox + "1709550006.hugeheader.host",
                        "Importance: high\nSubject: Huge header\n" + header);
}

TEST(HostileInputTest, HostileMessagesInTheInboxAreAnnouncedSafely) {
    TStoreEngine e;
    WriteHostileInbox(e);
    WriteHugeMessages(e);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(e.RunWaits(3, 60000)) << "the engine hung";
    EXPECT_LT(clock.elapsed(), 30000);

    const auto emails =
        StoredRecords<TEmailItem>(e.Path(QStringLiteral("EMAIL.CLD")), LoadEmailFile);
    EXPECT_EQ(emails.Count(), 7) << "every urgent message counts once";
    const QStringList sent = OutboxMessages(e);
    EXPECT_EQ(sent.size(), emails.Count());
    for (const QString& file : sent) {
        const QByteArray text = TStoreEngine::Read(file);
        ExpectOnlyComposedHeaders(text, file.toStdString());
        const auto headers = mailstore::ParseHeaders(HeaderBlock(text));
        ASSERT_TRUE(headers);
        EXPECT_TRUE(headers->subject.startsWith(QStringLiteral("Urgent Email:")));
    }
    EXPECT_TRUE(e.host.ErrorBoxes().isEmpty()) << e.host.ErrorBoxes().join('\n').toStdString();
}

QByteArray Calendar(const QByteArray& events) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + events +
           "END:VCALENDAR\r\n";
}

QByteArray Event(const QByteArray& uid, const QByteArray& start, const QByteArray& more) {
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20240101T000000Z\r\nDTSTART:" + start +
           "\r\n" + more + "END:VEVENT\r\n";
}

// iCalendar folding: lines of at most 75 octets, continued after CR LF and a space.
QByteArray IcsFolded(const QByteArray& line) {
    QByteArray out;
    for (qsizetype i = 0; i < line.size(); i += 74)
        out += (i ? "\r\n " : "") + line.mid(i, 74);
    return out + "\r\n";
}

TEST(HostileInputTest, HostileMeetingsAndEndlessRulesAreRemindedSafelyAndQuickly) {
    TStoreEngine e;
    QByteArray tasks;
    tasks += "BEGIN:VTODO\r\nUID:t1\r\nDTSTAMP:20240101T000000Z\r\nDTSTART:19000101T090000Z\r\n"
             "DUE:19000101T100000Z\r\nRRULE:FREQ=DAILY\r\n" +
             IcsFolded("SUMMARY:" + QByteArray(100000, 'T')) + "END:VTODO\r\n";
    TStoreEngine::Write(e.StorePath(QStringLiteral("tasks.ics")), Calendar(tasks));
    TStoreEngine::Write(
        e.StorePath(QStringLiteral("calendar.ics")),
        Calendar(Event("crlf", "20240304T121000Z",
                       "SUMMARY:Lunch\\r\\nBcc: victim@evil.com\\nX-Evil: 1\r\n"
                       "LOCATION:Room 1\\nTo: victim@evil.com\r\n") +
                 Event("long", "20240304T121100Z",
                       IcsFolded("SUMMARY:" + QByteArray(100000, 'S')) +
                           IcsFolded("LOCATION:" + QByteArray(100000, 'R'))) +
                 Event("million", "20240101T121200Z",
                       "SUMMARY:Daily\r\nRRULE:FREQ=DAILY;COUNT=1000000\r\n") +
                 Event("endless", "19000101T121300Z", "SUMMARY:Forever\r\nRRULE:FREQ=DAILY\r\n") +
                 Event("secondly", "19000101T121400Z",
                       "SUMMARY:Every second\r\nRRULE:FREQ=SECONDLY\r\n") +
                 Event("minutely", "20240304T121500Z",
                       "SUMMARY:Every minute\r\nRRULE:FREQ=MINUTELY;COUNT=1000000\r\n")));
    e.host.UpdateSettings([](SettingsRecord& s) {
        s.TaskNotify = true;
        s.TaskReminder = true;
    });
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(e.RunWaits(4, 60000)) << "the engine hung";
    EXPECT_LT(clock.elapsed(), 20000) << "bounded work for rules with a million or no end";

    const auto appointments =
        StoredRecords<TEventItem>(e.Path(QStringLiteral("NOTIFY.CLD")), LoadNotifyFile);
    EXPECT_GE(appointments.Count(), 4);
    StoredRecords<TTaskEvent>(e.Path(QStringLiteral("TASK.CLD")), LoadTaskFile);
    const QStringList sent = OutboxMessages(e);
    EXPECT_GE(sent.size(), 2);
    for (const QString& file : sent)
        ExpectOnlyComposedHeaders(TStoreEngine::Read(file), file.toStdString());
    // One key per line in the dump, whatever the keys hold.
    const QByteArray dump = TStoreEngine::Read(e.Path(QStringLiteral("Test-Note.NST")));
    EXPECT_EQ(dump.count("\r\n"), appointments.Count());
    EXPECT_EQ(dump.count('\n'), appointments.Count());
}

// Phone numbers and custom addresses as a hand-edited settings file may hold them.
TEST(HostileInputTest, RecipientsWithHeaderBreakingCharactersInjectNothing) {
    const QStringList recipients = {
        "5551234567\r\nBcc: victim@evil.com@txt.example.net",
        "555 123 4567@txt.example.net",
        "5551234567,victim@evil.com@txt.example.net",
        "<victim@evil.com>5551234567@txt.example.net",
        "\"x\r\n.\r\nRCPT TO:<v@evil.com>\"@txt.example.net",
        "5551234567@txt.example.net>\r\nDATA",
        QString(100000, u'5') + "@txt.example.net",
    };
    for (const QString& to : recipients) {
        const std::string what = to.left(60).toStdString();
        mailstore::TComposedMessage message;
        try {
            message = mailstore::ComposeMessage({"ringpost@example.org", to, "Reminder", ""});
        } catch (const outlook::EAutomationError&) {
            continue; // refused outright is safe too
        }
        ExpectOnlyComposedHeaders(message.text, what);
        // Each envelope address is one line of its own SMTP command.
        for (const QByteArray& address : message.recipients)
            EXPECT_FALSE(address.contains('\r') || address.contains('\n')) << what;
    }
}

TEST(HostileInputTest, AHostileRecipientThroughTheEngineReachesOnlyTheOutboxHeaderItBelongsIn) {
    TStoreEngine e;
    e.host.SetRecipient(QStringLiteral("5551234567\r\nBcc: victim@evil.com@txt.example.net"));
    TStoreEngine::Write(e.StorePath(QStringLiteral("calendar.ics")),
                        Calendar(Event("a", "20240304T121000Z", "SUMMARY:Budget\r\n")));
    ASSERT_TRUE(e.RunWaits(3, 60000));
    for (const QString& file : OutboxMessages(e))
        ExpectOnlyComposedHeaders(TStoreEngine::Read(file), file.toStdString());
}

} // namespace
} // namespace rp::test
