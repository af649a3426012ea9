// SPDX-License-Identifier: GPL-3.0-or-later
// The user's own mail account with OAuth2 on both sides, as Gmail and Microsoft
// want it: the engine, running with its debug log on, finds urgent unread mail in
// an IMAP inbox (Dovecot) and sends the notice through the SMTP server (aiosmtpd),
// both signing in with tokens from token commands; the inbox's first token has
// expired. No token reaches DEBUG.LOG, the status bar, the program's log or any
// file the program writes.

#include "tests/platform/StoreEngine.h"
#include "tests/platform/inbox/ImapTestServer.h"
#include "tests/platform/net/OAuthTestSupport.h"

#include <QElapsedTimer>

namespace rp::test {
namespace {

using namespace mailstore::testing;

TEST(OAuthJourneyTest, UrgentMailIsFoundAndItsNoticeSentWithTokensThatAreKeptNowhere) {
    if (!QFileInfo::exists(QLatin1String(kDovecot)))
        GTEST_SKIP() << "dovecot-imapd is not installed";
    TLogCapture log;
    TIdentityProvider provider;
    ASSERT_TRUE(provider.Ready());
    provider.Accept({{"tok-Inbox-fresh", "ann"}, {"tok-Send-1", "ann@example.org"}});
    TDovecot imap(true, provider.IntrospectionUrl());
    ASSERT_TRUE(imap.Ready());
    imap.Deliver("1709553000.M1P1.test", "From: Ops Desk <ops@example.com>\r\nSubject: Server "
                                         "down\r\nImportance: high\r\n\r\nThe body.\r\n");
    QTemporaryDir keys;
    ASSERT_TRUE(MakeCertificate(keys.path()));
    TSmtpSink smtp("oauth2",
                   {"--cert", keys.filePath("cert.pem"), "--key", keys.filePath("key.pem"),
                    "--introspect", provider.IntrospectionUrl()});
    ASSERT_GT(smtp.port, 0);
    TTokenCommand inboxToken({"tok-Inbox-expired", "tok-Inbox-fresh"});
    TTokenCommand sendToken({"tok-Send-1"});

    // The message arrived "now" by the server's clock; the engine's fake clock
    // must see it as less than a day old.
    TStoreEngine e(FromQDateTime(QDateTime::currentDateTime()));
    e.debugging = true;
    for (const char* file : {"calendar.ics", "tasks.ics"})
        TStoreEngine::Write(e.StorePath(file),
                            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN"
                            "\r\nEND:VCALENDAR\r\n");
    const mailstore::TSourceSettings inbox = imap.Settings();
    TStoreEngine::Write(
        e.ProfilePath(),
        "[Inbox]\nUrl=" + inbox.url.toUtf8() +
            "\nUser=ann\nAuth=oauth2\n"
            "TokenCommand=" +
            inboxToken.Command().toUtf8() + "\nCAFile=" + inbox.caFile.toUtf8() +
            "\nTimeoutSeconds=10\n\n[Send]\nTransport=smtp\nUrl=" + smtp.Url().toUtf8() +
            "\nUser=ann@example.org\nAuth=oauth2\n"
            "TokenCommand=" +
            sendToken.Command().toUtf8() + "\nCAFile=" + keys.filePath("cert.pem").toUtf8() +
            "\nTimeoutSeconds=10\nFrom=ann@example.org\n");
    // The first urgent-mail scan starts the inbox's own thread; the next one,
    // five idle passes on, finds what that thread read by then.
    e.beforeWait = [&e](int wait) {
        QElapsedTimer waited;
        waited.start();
        while (wait == 2 && QDir(e.Path("cache")).isEmpty() && waited.elapsed() < 20000)
            QThread::msleep(50);
    };
    ASSERT_TRUE(e.RunWaits(8));
    e.Destroy();

    EXPECT_TRUE(smtp.Received(1).contains("Urgent Email:Server down From:Ops Desk"))
        << e.host.StatusTexts().join('\n').toStdString();
    EXPECT_EQ(smtp.User(1), "ann@example.org");
    EXPECT_TRUE(smtp.Received(2).isEmpty()) << "announced once";
    EXPECT_EQ(inboxToken.Runs(), 2) << "the expired token was fetched again once";
    EXPECT_EQ(sendToken.Runs(), 1);
    EXPECT_TRUE(e.host.ErrorBoxes().isEmpty()) << e.host.ErrorBoxes().join('\n').toStdString();

    const QByteArray debugLog = TStoreEngine::Read(e.Path("DEBUG.LOG"));
    EXPECT_TRUE(debugLog.contains("SendNewemail to")) << "the debug log was written";
    EXPECT_FALSE(debugLog.contains("tok-"));
    EXPECT_FALSE(e.host.StatusTexts().join('\n').contains("tok-"));
    EXPECT_FALSE(TLogCapture::Text().contains("tok-"));
    EXPECT_FALSE(AnyFileHolds(e.dir.path(), "tok-"));
}

} // namespace
} // namespace rp::test
