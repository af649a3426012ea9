// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP inbox against a real Dovecot: what it finds, what it costs when nothing
// changed, and what it does when the server, the password or the certificate
// is not what it should be.

#include "platform/inbox/ImapInbox.h"
#include "tests/platform/inbox/ImapTestServer.h"

#include <QElapsedTimer>
#include <sys/stat.h>

using namespace rp;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

const QByteArray kUrgent = "From: =?UTF-8?Q?J=C3=B6rg_M=C3=BCller?= <j@example.com>\r\n"
                           "Subject: Server down\r\nImportance: high\r\n\r\nThe body.\r\n";
const QByteArray kUrgentButRead = "From: Ops Desk <ops@example.com>\r\nSubject: Disk full\r\n"
                                  "X-Priority: 1 (Highest)\r\n\r\nRead already.\r\n";
const QByteArray kNormal = "From: Ann <ann@example.com>\r\nSubject: Lunch\r\n\r\nNoon?\r\n";

class ImapInboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFileInfo::exists(QLatin1String(kDovecot)))
            GTEST_SKIP() << "dovecot-imapd is not installed";
        ASSERT_TRUE(server.Ready());
        server.Deliver("1700000001.M1P1.test", kUrgent);
        server.Deliver("1700000002.M2P1.test", kUrgentButRead, true);
        server.Deliver("1700000003.M3P1.test", kNormal);
    }

    std::unique_ptr<TImapInbox> Inbox(TSourceSettings settings) {
        return std::make_unique<TImapInbox>(
            settings, [] { return QString::fromLatin1(TDovecot::kPassword); }, CachePath(), 3600);
    }
    std::unique_ptr<TImapInbox> Inbox() { return Inbox(server.Settings()); }
    QString CachePath() const { return cache.path() + "/Amberfold/Ringpost/inbox.imap"; }

    // Another mail program at work on the same mailbox.
    std::vector<TImapResponse> Elsewhere(const QByteArray& command) {
        TImapSession other(server.Settings(), QString::fromLatin1(TDovecot::kPassword));
        other.Command("SELECT INBOX");
        return other.Command(command);
    }
    uint32_t UnseenOnServer() {
        TImapSession other(server.Settings(), QString::fromLatin1(TDovecot::kPassword));
        TMailboxStatus status;
        for (const TImapResponse& response : other.Command("STATUS INBOX (UNSEEN)"))
            ReadMailboxStatus(response, status);
        return status.unseen.value_or(999);
    }

    TDovecot server;
    QTemporaryDir cache;
};

const TMailRecord* BySubject(const TMaildirContents& contents, const QByteArray& subject) {
    for (const TMailRecord& record : contents.messages)
        if (record.subject == subject)
            return &record;
    return nullptr;
}

TEST_F(ImapInboxTest, UnreadUrgentMailIsFoundAndNothingIsMarkedRead) {
    auto inbox = Inbox();
    inbox->PollNow();
    ASSERT_TRUE(inbox->StatusText().isEmpty()) << inbox->StatusText().toStdString();
    const auto contents = inbox->Contents();
    ASSERT_EQ(contents->messages.size(), 3u);
    EXPECT_EQ(contents->unreadCount, 2);
    const TMailRecord* urgent = BySubject(*contents, "Server down");
    ASSERT_NE(urgent, nullptr);
    EXPECT_TRUE(urgent->unread);
    EXPECT_EQ(urgent->importance, outlook::olImportanceHigh);
    EXPECT_EQ(urgent->senderName, QString::fromUtf8("Jörg Müller").toUtf8());
    EXPECT_GT(urgent->receivedTime, FromQDateTime(QDateTime::currentDateTime()) - 1);
    const TMailRecord* read = BySubject(*contents, "Disk full");
    ASSERT_NE(read, nullptr);
    EXPECT_FALSE(read->unread);
    EXPECT_EQ(read->importance, outlook::olImportanceHigh);
    EXPECT_EQ(BySubject(*contents, "Lunch")->importance, outlook::olImportanceNormal);
    // Looking is not reading: the server still has both unread.
    EXPECT_EQ(UnseenOnServer(), 2u);
}

TEST_F(ImapInboxTest, ASteadyLookCostsOneCommandAndWritesNothingAndChangesAreSeen) {
    auto inbox = Inbox();
    inbox->PollNow();
    ASSERT_EQ(inbox->Contents()->messages.size(), 3u);
    EXPECT_EQ(inbox->CopiesWritten(), 1);
    const TImapTraffic first = inbox->Traffic();

    inbox->PollNow();
    const TImapTraffic steady = inbox->Traffic();
    EXPECT_EQ(steady.connections, first.connections) << "the connection is kept";
    EXPECT_EQ(steady.commands, first.commands + 1);
    EXPECT_LT(steady.bytesReceived - first.bytesReceived, 300);
    EXPECT_EQ(inbox->CopiesWritten(), 1) << "nothing changed, nothing written";

    // Read in another program: no longer unread here, and nothing to remind.
    Elsewhere("UID STORE 1 +FLAGS (\\Seen)");
    inbox->PollNow();
    EXPECT_FALSE(BySubject(*inbox->Contents(), "Server down")->unread);
    EXPECT_EQ(inbox->Contents()->unreadCount, 1);

    // A new message: only its header is fetched.
    const qint64 before = inbox->Traffic().bytesReceived;
    server.Deliver("1700000004.M4P1.test",
                   "From: Boss <b@example.com>\r\nSubject: Call me\r\nPriority: urgent\r\n\r\n" +
                       QByteArray(100000, 'x') + "\r\n");
    inbox->PollNow();
    const TMailRecord* fresh = BySubject(*inbox->Contents(), "Call me");
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fresh->unread);
    EXPECT_EQ(fresh->importance, outlook::olImportanceHigh);
    EXPECT_LT(inbox->Traffic().bytesReceived - before, 4000) << "the body is never fetched";
    EXPECT_EQ(UnseenOnServer(), 2u);

    // Expunged elsewhere: gone here too.
    Elsewhere("UID STORE 3 +FLAGS (\\Deleted)");
    Elsewhere("EXPUNGE");
    inbox->PollNow();
    EXPECT_EQ(BySubject(*inbox->Contents(), "Lunch"), nullptr);
    EXPECT_EQ(inbox->Contents()->messages.size(), 3u);
}

TEST_F(ImapInboxTest, ANewUidValidityReadsTheMailboxAfresh) {
    auto inbox = Inbox();
    inbox->PollNow();
    ASSERT_EQ(inbox->Contents()->messages.size(), 3u);
    // The server loses its UID list (a restore, a migration): every UID is new.
    server.Stop();
    for (const QString& name : QDir(server.Maildir()).entryList({"dovecot*"}, QDir::Files))
        ASSERT_TRUE(QFile::remove(server.Maildir() + "/" + name));
    QThread::msleep(1100); // the new UIDVALIDITY is taken from the clock
    server.Deliver("1700000005.M5P1.test",
                   "From: Ops Desk <ops@example.com>\r\nSubject: Restored\r\n\r\n");
    ASSERT_TRUE(server.Start());

    inbox->PollNow();
    ASSERT_TRUE(inbox->StatusText().isEmpty()) << inbox->StatusText().toStdString();
    const auto contents = inbox->Contents();
    EXPECT_EQ(contents->messages.size(), 4u);
    EXPECT_EQ(contents->unreadCount, 3);
    ASSERT_NE(BySubject(*contents, "Server down"), nullptr);
    EXPECT_TRUE(BySubject(*contents, "Server down")->unread);
    EXPECT_NE(BySubject(*contents, "Restored"), nullptr);
}

TEST_F(ImapInboxTest, AServerStoppedMidSessionKeepsTheCopyAndSaysSinceWhen) {
    auto inbox = Inbox();
    inbox->PollNow();
    ASSERT_EQ(inbox->Contents()->messages.size(), 3u);
    server.Stop();

    inbox->PollNow();
    const TImapInboxStatus status = inbox->Status();
    ASSERT_EQ(status.failure, TImapFailure::Unreachable) << status.problem.toStdString();
    EXPECT_TRUE(inbox->StatusText().startsWith("Inbox unreachable since "))
        << inbox->StatusText().toStdString();
    EXPECT_TRUE(inbox->StatusText().contains("reminding from the copy of"));
    EXPECT_EQ(inbox->Contents()->messages.size(), 3u) << "nothing known is lost";
    EXPECT_FALSE(inbox->StatusText().contains(TDovecot::kPassword));

    // Mail that arrived meanwhile is there once the server is back.
    server.Deliver(
        "1700000006.M6P1.test",
        "From: Ops Desk <ops@example.com>\r\nSubject: Back up\r\nImportance: High\r\n\r\n");
    ASSERT_TRUE(server.Start());
    inbox->PollNow();
    EXPECT_TRUE(inbox->StatusText().isEmpty()) << inbox->StatusText().toStdString();
    EXPECT_EQ(inbox->Contents()->messages.size(), 4u);
    EXPECT_NE(BySubject(*inbox->Contents(), "Back up"), nullptr);
}

TEST_F(ImapInboxTest, AStartWithoutTheServerRemindsFromThePrivateCopy) {
    {
        auto inbox = Inbox();
        inbox->PollNow();
        ASSERT_EQ(inbox->Contents()->messages.size(), 3u);
    }
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(CachePath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    server.Stop();

    auto offline = Inbox();
    const auto contents = offline->Contents(); // at once, from the copy
    ASSERT_EQ(contents->messages.size(), 3u);
    EXPECT_TRUE(BySubject(*contents, "Server down")->unread);
    EXPECT_TRUE(offline->Status().haveCopy);

    // Another account never gets this account's copy.
    TSourceSettings other = server.Settings();
    other.user = "bob";
    TImapInbox stranger(
        other, [] { return QString(); }, CachePath(), 3600);
    EXPECT_TRUE(stranger.Contents()->messages.empty());
}

TEST_F(ImapInboxTest, AWrongPasswordIsSaidPlainlyAndNeverShown) {
    TImapInbox inbox(
        server.Settings(), [] { return QStringLiteral("not-the-Pass"); }, CachePath(), 3600);
    inbox.PollNow();
    const TImapInboxStatus status = inbox.Status();
    ASSERT_EQ(status.failure, TImapFailure::Login);
    EXPECT_TRUE(status.problem.contains("refused the user name or password"))
        << status.problem.toStdString();
    EXPECT_FALSE(inbox.StatusText().contains("not-the-Pass"));
    EXPECT_TRUE(inbox.Contents()->messages.empty());
    EXPECT_FALSE(QFileInfo::exists(CachePath()));
}

TEST_F(ImapInboxTest, AWrongPasswordAfterAGoodLookIsALoginProblemAndTheCopyServes) {
    Inbox()->PollNow();
    ASSERT_TRUE(QFileInfo::exists(CachePath()));
    TImapInbox inbox(
        server.Settings(), [] { return QStringLiteral("an-old-Pass"); }, CachePath(), 3600);
    inbox.PollNow();
    EXPECT_EQ(inbox.Status().failure, TImapFailure::Login);
    const QString said = inbox.StatusText();
    EXPECT_TRUE(said.contains("refused the user name or password")) << said.toStdString();
    EXPECT_FALSE(said.contains("unreachable")) << said.toStdString();
    EXPECT_TRUE(said.contains("reminding from the copy of"));
    EXPECT_FALSE(said.contains("an-old-Pass"));
    EXPECT_EQ(inbox.Contents()->messages.size(), 3u);
}

TEST_F(ImapInboxTest, AnUntrustedCertificateIsRefusedUnlessCaFileTrustsIt) {
    TSourceSettings settings = server.Settings();
    settings.caFile.clear();
    const QString refused = TestImapInbox(settings, QString::fromLatin1(TDovecot::kPassword));
    EXPECT_TRUE(refused.contains("certificate of the IMAP server")) << refused.toStdString();
    EXPECT_TRUE(refused.contains("CAFile"));

    const QString trusted =
        TestImapInbox(server.Settings(), QString::fromLatin1(TDovecot::kPassword));
    EXPECT_EQ(trusted, "Found 3 messages in INBOX, 1 unread and urgent.");
}

TEST_F(ImapInboxTest, StartTlsOnThePlainPortUpgradesTheConnection) {
    auto inbox = Inbox(server.Settings(false));
    inbox->PollNow();
    EXPECT_TRUE(inbox->StatusText().isEmpty()) << inbox->StatusText().toStdString();
    EXPECT_EQ(inbox->Contents()->messages.size(), 3u);
}

TEST(ImapPlainServerTest, AServerWithoutStartTlsIsRefusedUnlessOnThisComputerAndAllowed) {
    if (!QFileInfo::exists(QLatin1String(kDovecot)))
        GTEST_SKIP() << "dovecot-imapd is not installed";
    TDovecot plain(false);
    ASSERT_TRUE(plain.Ready());
    plain.Deliver("1700000001.M1P1.test", kUrgent);
    TSourceSettings settings = plain.Settings(false);
    settings.caFile.clear();
    const QString refused = TestImapInbox(settings, QString::fromLatin1(TDovecot::kPassword));
    EXPECT_TRUE(refused.contains("does not offer STARTTLS")) << refused.toStdString();

    settings.startTls = false;
    EXPECT_EQ(TestImapInbox(settings, QString::fromLatin1(TDovecot::kPassword)),
              "Found 1 message in INBOX, 1 unread and urgent.");

    settings.url = "imap://mail.example.com/INBOX";
    const QString remote = TestImapInbox(settings, QString::fromLatin1(TDovecot::kPassword));
    EXPECT_TRUE(remote.contains("only for an IMAP server on this computer"))
        << remote.toStdString();
}

// No Debian package plays a server that accepts and then never speaks; a bare
// listening socket does.
TEST(ImapStalledServerTest, AServerThatNeverAnswersCostsAtMostTheTimeout) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
    TSourceSettings settings;
    settings.url = QStringLiteral("imaps://127.0.0.1:%1/INBOX").arg(ntohs(address.sin_port));
    settings.user = "ann";
    settings.timeoutSeconds = 2;
    QElapsedTimer clock;
    clock.start();
    const QString answer = TestImapInbox(settings, "pw");
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_TRUE(answer.contains("did not answer within 2 seconds")) << answer.toStdString();
    ::close(fd);
}

TEST(ImapAddressTest, OnlyImapAddressesWithAHostAreTaken) {
    TSourceSettings settings;
    for (const char* bad :
         {"", "https://mail.example.com/", "imaps:///INBOX", "mail.example.com"}) {
        settings.url = bad;
        EXPECT_THROW(ParseImapAddress(settings), EImapError) << bad;
    }
    settings.url = "imaps://mail.example.com/Work%20Mail";
    const TImapAddress address = ParseImapAddress(settings);
    EXPECT_EQ(address.port, 993);
    EXPECT_EQ(address.mailbox, "Work Mail");
    EXPECT_EQ(address.Server(), "mail.example.com:993");
    settings.url = "imap://[::1]/";
    settings.startTls = false;
    EXPECT_EQ(ParseImapAddress(settings).mailbox, "INBOX");
    EXPECT_EQ(ParseImapAddress(settings).port, 143);
}

} // namespace

namespace {

TEST_F(ImapInboxTest, TheProfilesInboxUrlServesTheInboxFolderFromItsOwnThread) {
    TStoreFixture store;
    store.location.cacheFolder = store.Path("cache");
    const TSourceSettings settings = server.Settings();
    store.WriteProfile("[Inbox]\nUrl=" + settings.url.toUtf8() +
                       "\nUser=ann\nPassword=" + TDovecot::kPassword +
                       "\nCAFile=" + settings.caFile.toUtf8() + "\nTimeoutSeconds=10\n");
    auto inbox = store.Folder(outlook::olFolderInbox);
    QElapsedTimer waited;
    waited.start();
    while (inbox->Items()->Count() < 3 && waited.elapsed() < 20000)
        QThread::msleep(50);
    ASSERT_EQ(inbox->Items()->Count(), 3);
    EXPECT_EQ(inbox->UnReadItemCount(), 2);
    int urgent = 0;
    for (int i = 1; i <= 3; ++i) {
        auto mail = outlook::ItemAs<outlook::MailItem>(inbox->Items()->Item(i));
        urgent += mail->UnRead() && mail->Importance() == outlook::olImportanceHigh ? 1 : 0;
    }
    EXPECT_EQ(urgent, 1);
    EXPECT_EQ(QDir(store.Path("cache")).entryList(QDir::Files).size(), 1);
}

} // namespace
