// SPDX-License-Identifier: GPL-3.0-or-later
// Sending through an SMTP server (aiosmtpd) that takes only XOAUTH2, as
// Microsoft's do, each token checked at the stand-in identity provider: a
// refused token is fetched again once, a second refusal is an error that says
// so, and a server without OAuth2 is named as such.

#include "platform/delivery/MailTransport.h"
#include "tests/platform/net/OAuthTestSupport.h"

using namespace rp;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

const TOutgoingMessage kNotice{"ann@example.org", "5551234567@vtext.example",
                               "Urgent Email:Server down From:Ops Desk", ""};

class SmtpOAuthTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(MakeCertificate(keys.path()));
        ASSERT_TRUE(provider.Ready());
    }
    TSendSettings Settings(const TSmtpSink& server, const TTokenCommand& command) const {
        TSendSettings settings;
        settings.transport = TTransportKind::Smtp;
        settings.url = server.Url();
        settings.caFile = keys.filePath("cert.pem");
        settings.user = "ann";
        settings.timeoutSeconds = 10;
        settings.signIn = {TAuthKind::OAuth2, command.Command(), {}};
        return settings;
    }
    QStringList TlsKeys() const {
        return {"--cert", keys.filePath("cert.pem"), "--key", keys.filePath("key.pem")};
    }
    QString SendError(const TSendSettings& settings) {
        try {
            CreateSmtpTransport(settings)->SendMessage(kNotice);
        } catch (const outlook::EAutomationError& error) {
            return error.Message();
        }
        return {};
    }

    QTemporaryDir keys;
    TIdentityProvider provider;
};

TEST_F(SmtpOAuthTest, AnExpiredTokenIsRenewedOnceAndTheMessageGoesOutOnce) {
    TSmtpSink server("oauth2",
                     TlsKeys() + QStringList{"--introspect", provider.IntrospectionUrl()});
    ASSERT_GT(server.port, 0);
    provider.Accept({{"tok-fresh", "ann"}});
    TTokenCommand command({"tok-expired", "tok-fresh"});
    const QString answer = CreateSmtpTransport(Settings(server, command))->SendMessage(kNotice);
    EXPECT_TRUE(answer.contains("250 2.0.0 Ok: queued as RP1")) << answer.toStdString();
    EXPECT_EQ(server.User(1), "ann");
    EXPECT_TRUE(server.Received(1).contains("Urgent Email:Server down From:Ops Desk"));
    EXPECT_TRUE(server.Received(2).isEmpty());
    EXPECT_EQ(command.Runs(), 2);
    EXPECT_EQ(provider.Asked(), 2);

    TTokenCommand stale({"tok-expired"});
    const QString refused = SendError(Settings(server, stale));
    EXPECT_EQ(refused.toStdString(),
              "SMTP server rejected the access token for ann: 535 5.7.3 Authentication "
              "unsuccessful. Check that the token command prints a current token for ann.");
    EXPECT_EQ(stale.Runs(), 2);
    EXPECT_TRUE(server.Received(2).isEmpty());
}

TEST_F(SmtpOAuthTest, AServerWithoutOAuth2OrAnUnencryptedOneGetsNoToken) {
    TSmtpSink server("tls-auth", TlsKeys());
    ASSERT_GT(server.port, 0);
    TTokenCommand command({"tok-any"});
    TSendSettings settings = Settings(server, command);
    EXPECT_EQ(SendError(settings),
              QStringLiteral("The SMTP server 127.0.0.1:%1 offers no OAuth2 sign-in (XOAUTH2 or "
                             "OAUTHBEARER); send with a password there (Auth=password).")
                  .arg(server.port));
    EXPECT_EQ(command.Runs(), 1);

    settings.startTls = false;
    EXPECT_TRUE(SendError(settings).startsWith("An access token goes only over an encrypted"));
}

} // namespace
