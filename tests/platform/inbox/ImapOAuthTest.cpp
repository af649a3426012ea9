// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP inbox signing in with OAuth2 against a real Dovecot whose oauth2
// password database asks the stand-in identity provider about each token: the
// token from a token command, a refused token fetched again once, a command that
// fails, a server that offers no OAuth2, and no token kept anywhere.

#include "platform/inbox/ImapInbox.h"
#include "tests/platform/inbox/ImapTestServer.h"
#include "tests/platform/net/OAuthTestSupport.h"

using namespace rp;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

const QByteArray kUrgent = "From: Ops Desk <ops@example.com>\r\nSubject: Server down\r\n"
                           "Importance: high\r\n\r\nThe body.\r\n";
const QByteArray kNormal = "From: Ann <ann@example.com>\r\nSubject: Lunch\r\n\r\nNoon?\r\n";

class ImapOAuthTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFileInfo::exists(QLatin1String(kDovecot)))
            GTEST_SKIP() << "dovecot-imapd is not installed";
        ASSERT_TRUE(provider.Ready());
        ASSERT_TRUE(server.Ready());
        server.Deliver("1700000001.M1P1.test", kUrgent);
        server.Deliver("1700000002.M2P1.test", kNormal);
    }

    TSourceSettings Settings(const TTokenCommand& command) const {
        TSourceSettings settings = server.Settings();
        settings.signIn = {TAuthKind::OAuth2, command.Command(), {}};
        return settings;
    }
    std::unique_ptr<TImapInbox> Inbox(const TSourceSettings& settings) {
        return std::make_unique<TImapInbox>(settings, TLoginSource(SignInOf(settings)), CachePath(),
                                            3600);
    }
    QString CachePath() const { return cache.path() + QStringLiteral("/inbox.imap"); }
    uint32_t UnseenOnServer(const TSourceSettings& settings, const QString& token) {
        TImapSession other(settings, token, nullptr, TSecretKind::AccessToken);
        TMailboxStatus status;
        for (const TImapResponse& response : other.Command("STATUS INBOX (UNSEEN)"))
            ReadMailboxStatus(response, status);
        return status.unseen.value_or(999);
    }

    TLogCapture log;
    TIdentityProvider provider;
    TDovecot server{true, provider.IntrospectionUrl()};
    QTemporaryDir cache;
};

TEST_F(ImapOAuthTest, UnreadUrgentMailIsFoundWithTheCommandsTokenAndTheTokenIsKeptNowhere) {
    provider.Accept({{"ya29.tok-Good-1", "ann"}});
    TTokenCommand command({"ya29.tok-Good-1"});
    const TSourceSettings settings = Settings(command);
    auto inbox = Inbox(settings);
    inbox->PollNow();
    ASSERT_TRUE(inbox->StatusText().isEmpty()) << inbox->StatusText().toStdString();
    const auto contents = inbox->Contents();
    ASSERT_EQ(contents->messages.size(), 2u);
    int urgent = 0;
    for (const TMailRecord& record : contents->messages)
        urgent += record.unread && record.importance == outlook::olImportanceHigh ? 1 : 0;
    EXPECT_EQ(urgent, 1);
    EXPECT_EQ(command.Runs(), 1);
    EXPECT_EQ(UnseenOnServer(settings, "ya29.tok-Good-1"), 2u); // nothing marked read

    EXPECT_EQ(TestImapInbox(settings, TLoginSource(SignInOf(settings))),
              QStringLiteral("Signed in to 127.0.0.1:%1 as ann with OAuth2. Found 2 messages in "
                             "INBOX, 1 unread and urgent.")
                  .arg(server.imapsPort));
    ASSERT_TRUE(QFileInfo::exists(CachePath()));
    EXPECT_FALSE(AnyFileHolds(cache.path(), "tok-Good"));
    EXPECT_FALSE(TLogCapture::Text().contains("tok-Good"));
}

TEST_F(ImapOAuthTest, AnExpiredTokenIsFetchedAgainOnceAndASecondRefusalIsSaidPlainly) {
    provider.Accept({{"tok-fresh", "ann"}});
    TTokenCommand renewing({"tok-expired", "tok-fresh"});
    auto inbox = Inbox(Settings(renewing));
    inbox->PollNow();
    EXPECT_TRUE(inbox->StatusText().isEmpty()) << inbox->StatusText().toStdString();
    EXPECT_EQ(inbox->Contents()->messages.size(), 2u);
    EXPECT_EQ(renewing.Runs(), 2);

    TTokenCommand stale({"tok-expired"});
    auto refused = Inbox(Settings(stale));
    refused->PollNow();
    EXPECT_EQ(stale.Runs(), 2);
    EXPECT_EQ(refused->Status().failure, TImapFailure::Login);
    const QString said = refused->StatusText();
    EXPECT_TRUE(said.contains("refused the access token for ann")) << said.toStdString();
    EXPECT_TRUE(said.contains("Check that the token command prints a current token for ann."))
        << said.toStdString();
    EXPECT_TRUE(said.contains("reminding from the copy of")) << said.toStdString();
    EXPECT_EQ(refused->Contents()->messages.size(), 2u);

    // The next look asks the command afresh; the inbox was never given up.
    provider.Accept({{"tok-expired", "ann"}});
    refused->PollNow();
    EXPECT_TRUE(refused->StatusText().isEmpty()) << refused->StatusText().toStdString();
    EXPECT_EQ(stale.Runs(), 3);
    EXPECT_FALSE(TLogCapture::Text().contains("tok-"));
}

TEST_F(ImapOAuthTest, AFailingCommandIsReportedAndOnlyTheTestShowsWhatItSaid) {
    TTokenCommand failing("mutt_oauth2: token expired, run with --authorize", 2);
    const TSourceSettings settings = Settings(failing);
    auto inbox = Inbox(settings);
    inbox->PollNow();
    const QString said = inbox->StatusText();
    EXPECT_TRUE(said.contains("The token command failed (exit code 2).")) << said.toStdString();
    EXPECT_FALSE(said.contains("authorize"));
    EXPECT_FALSE(TLogCapture::Text().contains("authorize"));

    const QString tested = TestImapInbox(settings, TLoginSource(SignInOf(settings)));
    EXPECT_EQ(tested, "The token command failed (exit code 2). It said: mutt_oauth2: token "
                      "expired, run with --authorize");
}

TEST_F(ImapOAuthTest, AServerWithoutOAuth2AndAnUnencryptedConnectionAreNamedAsSuch) {
    TDovecot passwordOnly;
    ASSERT_TRUE(passwordOnly.Ready());
    TTokenCommand command({"tok-any"});
    TSourceSettings settings = passwordOnly.Settings();
    settings.signIn = {TAuthKind::OAuth2, command.Command(), {}};
    const QString said = TestImapInbox(settings, TLoginSource(SignInOf(settings)));
    EXPECT_TRUE(said.contains("offers no OAuth2 sign-in")) << said.toStdString();
    EXPECT_EQ(command.Runs(), 1); // not a refused token: nothing to fetch again

    settings.url = QStringLiteral("imap://127.0.0.1:%1/INBOX").arg(passwordOnly.imapPort);
    settings.startTls = false;
    const QString plain = TestImapInbox(settings, TLoginSource(SignInOf(settings)));
    EXPECT_TRUE(plain.contains("An access token goes only over an encrypted connection"))
        << plain.toStdString();
}

} // namespace
