// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's GNOME Online Accounts, for real: goa-daemon and the keyring it
// keeps its sign-ins in (gnome-keyring) run offline on a private session bus of
// the test's own, with accounts of its own. What needs Google itself (a token it
// issued, its IMAP server) is played by the stand-in identity provider and
// Dovecot: the keyring holds a token the stand-in accepts, and the Google
// account's IMAP address is pointed at Dovecot for the last step.

#include "platform/net/OnlineAccounts.h"
#include "platform/inbox/ImapInbox.h"
#include "tests/platform/inbox/ImapTestServer.h"
#include "tests/platform/net/OAuthTestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QStandardPaths>

using namespace rp;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

const char* const kGoaDaemon = "/usr/libexec/goa-daemon";
const char* const kKeyring = "/usr/bin/gnome-keyring-daemon";

const QByteArray kAccounts = R"([Account account_1700000000_0]
Provider=google
Identity=ann@gmail.com
PresentationIdentity=ann@gmail.com
MailEnabled=true

[Account account_1700000001_0]
Provider=windows_live
Identity=bob@outlook.com
PresentationIdentity=bob@outlook.com
MailEnabled=true

[Account account_1700000002_0]
Provider=imap_smtp
Identity=carol@example.org
PresentationIdentity=carol@example.org
Enabled=true
EmailAddress=carol@example.org
Name=Carol
ImapHost=mail.example.org:1993
ImapUserName=carol
ImapUseSsl=true
ImapUseTls=false
ImapAcceptSslErrors=false
SmtpHost=mail.example.org
SmtpUseAuth=true
SmtpUserName=carol
SmtpAuthLogin=false
SmtpAuthPlain=true
SmtpUseSsl=false
SmtpUseTls=true
SmtpAcceptSslErrors=false
MailEnabled=true
)";

// A bus that starts nothing by itself: every service on it is the test's.
const QByteArray kBusConfig = R"(<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// Puts GOA's record of a signed-in Google account into the keyring, as GOA
// itself writes it: a token valid for an hour and a refresh token.
const char* const kStoreCredentials = R"(
import dbus, sys, time
bus = dbus.SessionBus()
service = dbus.Interface(bus.get_object("org.freedesktop.secrets", "/org/freedesktop/secrets"),
                         "org.freedesktop.Secret.Service")
_, session = service.OpenSession("plain", dbus.String("", variant_level=1))
collection = dbus.Interface(bus.get_object("org.freedesktop.secrets",
                                           "/org/freedesktop/secrets/collection/session"),
                            "org.freedesktop.Secret.Collection")
expires = (int(time.time()) + 3600) * 1000000
secret = "{'access_token': <'%s'>, 'access_token_expires_at': <int64 %d>, " \
         "'refresh_token': <'refresh-unusable'>}" % (sys.argv[2], expires)
attributes = dbus.Dictionary({"goa-identity": sys.argv[1],
                              "xdg:schema": "org.gnome.OnlineAccounts"}, signature="ss")
collection.CreateItem({"org.freedesktop.Secret.Item.Label": "GOA google credentials",
                       "org.freedesktop.Secret.Item.Attributes": attributes},
                      (session, dbus.ByteArray(b""), dbus.ByteArray(secret.encode()),
                       "text/plain"), True)
)";

class TOnlineAccountsDesktop {
public:
    TOnlineAccountsDesktop() {
        WriteText(dir.path() + "/config/goa-1.0/accounts.conf", kAccounts);
        WriteText(dir.path() + "/bus.conf", kBusConfig);
        QDir().mkpath(dir.path() + "/runtime");
        QFile::setPermissions(dir.path() + "/runtime", QFileDevice::ReadOwner |
                                                           QFileDevice::WriteOwner |
                                                           QFileDevice::ExeOwner);
        bus.start("dbus-daemon", {"--config-file=" + dir.path() + "/bus.conf", "--nofork",
                                  "--nopidfile", "--print-address"});
        if (!bus.waitForReadyRead(10000))
            return;
        address = QString::fromUtf8(bus.readLine()).trimmed();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
            environment.insert(name, dir.path() + "/" + QString(name).toLower());
        environment.insert("XDG_CONFIG_HOME", dir.path() + "/config");
        environment.insert("XDG_RUNTIME_DIR", dir.path() + "/runtime");
        keyring.setProcessEnvironment(environment);
        goa.setProcessEnvironment(environment);
        keyring.start(kKeyring, {"--foreground", "--components=secrets"});
        ready = Owned("org.freedesktop.secrets");
        if (!ready)
            return;
        QProcess store;
        store.setProcessEnvironment(environment);
        store.start("/usr/bin/python3", {"-c", kStoreCredentials,
                                         "google:gen11:account_1700000000_0", "ya29.goa-token"});
        ready = store.waitForFinished(10000) && store.exitCode() == 0;
        goa.setProcessChannelMode(QProcess::MergedChannels);
        goa.start(kGoaDaemon, {"--replace"});
        ready = ready && Owned("org.gnome.OnlineAccounts");
        previousAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    }
    ~TOnlineAccountsDesktop() {
        qputenv("DBUS_SESSION_BUS_ADDRESS", previousAddress);
        for (QProcess* process : {&goa, &keyring, &bus}) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(1000);
            }
        }
    }
    bool Ready() const { return ready; }

private:
    bool Owned(const QString& name) const {
        QDBusConnection connection = QDBusConnection::connectToBus(address, "goa-test-watch");
        bool owned = false;
        for (int i = 0; i < 200 && !owned; ++i, QThread::msleep(50))
            owned = connection.interface()->isServiceRegistered(name);
        QDBusConnection::disconnectFromBus("goa-test-watch");
        return owned;
    }

    QTemporaryDir dir;
    QProcess bus, keyring, goa;
    QString address;
    QByteArray previousAddress;
    bool ready = false;
};

class OnlineAccountsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {kGoaDaemon, kKeyring})
            if (!QFileInfo::exists(program))
                GTEST_SKIP() << program << " is not installed";
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        desktop = std::make_unique<TOnlineAccountsDesktop>();
        ASSERT_TRUE(desktop->Ready());
    }
    static TSignInSource SignIn(const QString& account, TMailService service) {
        return TSignInSource({{}, {}, {}, {}, 10}, {TAuthKind::OAuth2, {}, account}, service);
    }
    static QString SignInError(const QString& account) {
        try {
            SignIn(account, TMailService::Imap).Login();
        } catch (const ESignInError& error) {
            return error.Message();
        }
        return {};
    }

    std::unique_ptr<TOnlineAccountsDesktop> desktop;
};

TEST_F(OnlineAccountsTest, TheMailAccountsAreReadWithTheirServersAndOneIsPickedByAddress) {
    const std::vector<TOnlineMailAccount> accounts = ConnectOnlineAccounts(10)->MailAccounts();
    QStringList read;
    for (const TOnlineMailAccount& account : accounts)
        read << account.address;
    ASSERT_EQ(accounts.size(), 3u) << read.join(", ").toStdString();
    const auto byAddress = [&accounts](const char* address) {
        return PickMailAccount(accounts, QStringLiteral("goa:") + address);
    };
    const TOnlineMailAccount google = byAddress("ann@gmail.com");
    EXPECT_EQ(google.provider, "Google");
    EXPECT_TRUE(google.oauth2);
    ASSERT_TRUE(google.imap && google.smtp);
    EXPECT_EQ(google.imap->host, "imap.gmail.com");
    EXPECT_EQ(google.imap->port, 993);
    EXPECT_TRUE(google.imap->implicitTls);
    EXPECT_EQ(google.smtp->port, 465);
    const TOnlineMailAccount microsoft = byAddress("BOB@outlook.com");
    EXPECT_TRUE(microsoft.oauth2);
    ASSERT_TRUE(microsoft.smtp);
    EXPECT_EQ(microsoft.smtp->host, "smtp-mail.outlook.com");
    EXPECT_EQ(microsoft.smtp->port, 587);
    EXPECT_TRUE(microsoft.smtp->startTls);
    const TOnlineMailAccount carol = byAddress("carol@example.org");
    EXPECT_FALSE(carol.oauth2);
    ASSERT_TRUE(carol.imap);
    EXPECT_EQ(carol.imap->port, 1993);
    EXPECT_EQ(carol.imap->user, "carol");

    EXPECT_EQ(SignInError("goa"), "GNOME Online Accounts has several mail accounts "
                                  "(ann@gmail.com, bob@outlook.com): name one, as in "
                                  "Account=goa:ann@gmail.com.");
    EXPECT_TRUE(SignInError("goa:carol@example.org").contains("signs in with a password"));
    EXPECT_TRUE(SignInError("goa:dave@example.org")
                    .startsWith("GNOME Online Accounts has no mail "
                                "account dave@example.org (it has"));
    // Never signed in on this desktop: nothing in the keyring for it.
    EXPECT_TRUE(SignInError("goa:bob@outlook.com")
                    .startsWith("GNOME Online Accounts has no valid sign-in for bob@outlook.com"));
}

TEST_F(OnlineAccountsTest, TheAccountsTokenReadsTheInboxAndARefusalAsksToSignInAgain) {
    if (!QFileInfo::exists(QLatin1String(kDovecot)))
        GTEST_SKIP() << "dovecot-imapd is not installed";
    const TServerLogin send = SignIn("goa:ann@gmail.com", TMailService::Smtp).Login();
    EXPECT_EQ(send.url, "smtps://smtp.gmail.com:465");
    const TSignInSource source = SignIn("goa:ann@gmail.com", TMailService::Imap);
    const TServerLogin login = source.Login();
    EXPECT_EQ(login.url, "imaps://imap.gmail.com:993/INBOX");
    EXPECT_EQ(login.user, "ann@gmail.com");
    EXPECT_EQ(login.secret, "ya29.goa-token");
    EXPECT_TRUE(login.bearer);

    TIdentityProvider provider;
    ASSERT_TRUE(provider.Ready());
    provider.Accept({{"ya29.goa-token", "ann@gmail.com"}});
    TDovecot gmail(true, provider.IntrospectionUrl());
    ASSERT_TRUE(gmail.Ready());
    gmail.Deliver("1700000001.M1P1.test",
                  "From: Ops Desk <ops@example.com>\r\nSubject: Server down\r\n"
                  "Importance: high\r\n\r\nThe body.\r\n");
    TSourceSettings settings = gmail.Settings();
    settings.signIn = {TAuthKind::OAuth2, {}, QStringLiteral("goa:ann@gmail.com")};
    const QString dovecot = settings.url;
    QTemporaryDir cache;
    const auto inbox = [&] {
        return std::make_unique<TImapInbox>(
            settings,
            [&source, &dovecot](bool renew) {
                TServerLogin now = source.Login(renew);
                now.url = dovecot; // Google's server cannot be reached here
                return now;
            },
            cache.path() + "/inbox.imap", 3600);
    };
    auto reading = inbox();
    reading->PollNow();
    EXPECT_TRUE(reading->StatusText().isEmpty()) << reading->StatusText().toStdString();
    ASSERT_EQ(reading->Contents()->messages.size(), 1u);
    EXPECT_TRUE(reading->Contents()->messages.front().unread);

    // The token is refused: the account's sign-in is checked with Google, which
    // cannot be reached either, so the user is told to sign in again.
    provider.Accept({});
    auto refused = inbox();
    refused->PollNow();
    const QString said = refused->StatusText();
    EXPECT_TRUE(said.contains("GNOME Online Accounts")) << said.toStdString();
    EXPECT_TRUE(said.contains("Sign in again in Settings, Online Accounts.")) << said.toStdString();
    EXPECT_FALSE(said.contains("goa-token"));
    EXPECT_EQ(refused->Contents()->messages.size(), 1u) << "the copy serves";
}

} // namespace
