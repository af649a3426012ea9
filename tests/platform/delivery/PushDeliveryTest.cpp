// SPDX-License-Identifier: GPL-3.0-or-later
// Push delivery to an ntfy server. Debian packages no ntfy server, so the tests
// run tests/e2e/lib/ntfy_server.py: it answers publishes the way ntfy's endpoint
// does (by topic: 200, 401/403 for a protected topic, 429, 500, a stall, a
// redirect) and keeps every request it got. A real SMTP server (aiosmtpd) runs
// beside it wherever a message must not reach mail.

#include "tests/platform/MailStoreTestSupport.h"
#include "tests/platform/delivery/NtfyTestServer.h"

#include "platform/delivery/NtfyPublisher.h"
#include "platform/delivery/PushGateways.h"
#include "platform/delivery/PushRouter.h"
#include "platform/gui/MailStoreEditor.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace rp;
using namespace rp::outlook;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

// A store whose mail goes to a real SMTP server and whose push addresses go to
// the stand-in ntfy server.
class PushDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(ntfy.port, 0);
        ASSERT_GT(smtp.port, 0);
        WriteProfile();
    }
    void WriteProfile(const QByteArray& push = {}) {
        store.app.reset();
        store.WriteProfile("[Send]\nTransport=smtp\nUrl=" + smtp.Url().toUtf8() +
                           "\nStartTLS=false\nTimeoutSeconds=2\nFrom=ringpost@example.org\n"
                           "[Push]\nServer=" +
                           ntfy.Server() + "\n" + push);
    }
    void Send(const QString& to, const QString& subject, const QString& body = {}) {
        store.Send(to, subject, body);
    }
    QString SendError(const QString& to, const QString& subject = QStringLiteral("x")) {
        return store.SendError(to, subject);
    }
    bool NothingReachedSmtp() const { return smtp.Received(1).isEmpty(); }

    TNtfyServer ntfy;
    TSmtpSink smtp{QStringLiteral("accept")};
    TStoreFixture store;
};

TEST_F(PushDeliveryTest, ANoticeIsPublishedToItsTopicWithTheExactTextAndNothingGoesByMail) {
    Send(QStringLiteral("ntfy-alerts@127.0.0.1"), kReminder);
    EXPECT_EQ(LastDelivery().where, "sent to ntfy topic alerts on " + ntfy.Shown());
    Send(QStringLiteral("  NTFY-alerts@ntfy.example.org "), kTestSubject, kTestBody);

    ASSERT_EQ(ntfy.Count(), 2);
    const QJsonObject first = ntfy.Request(1);
    EXPECT_EQ(first.value("method").toString(), "POST");
    EXPECT_EQ(first.value("path").toString(), "/alerts");
    EXPECT_EQ(first.value("body").toString(), kReminder);
    EXPECT_EQ(ntfy.Header(1, "Title"), "Ringpost");
    EXPECT_TRUE(ntfy.Header(1, "Authorization").isEmpty()) << "a public topic gets no token";
    // Server= says where the server is, whatever host the address names.
    EXPECT_EQ(ntfy.Request(2).value("body").toString(), kTestSubject + '\n' + kTestBody);
    EXPECT_EQ(LastDelivery().subject, kTestSubject);
    EXPECT_TRUE(NothingReachedSmtp());
}

TEST_F(PushDeliveryTest, TheTokenComesFromTheAddressTheProfileOrItsCommandAndIsNeverShown) {
    Send(QStringLiteral("ntfy-protected+tk_right@127.0.0.1"), kReminder);
    EXPECT_EQ(ntfy.Header(1, "Authorization"), "Bearer tk_right");
    EXPECT_FALSE(LastDelivery().where.contains("tk_")) << LastDelivery().where.toStdString();

    const QString wrong = SendError(QStringLiteral("ntfy-protected+tk_wrong@127.0.0.1"));
    EXPECT_TRUE(wrong.contains("refused the access token for topic protected (401"))
        << wrong.toStdString();
    EXPECT_FALSE(wrong.contains("tk_wrong"));

    const QString missing = SendError(QStringLiteral("ntfy-protected@127.0.0.1"));
    EXPECT_TRUE(missing.contains("does not allow publishing to topic protected (403"))
        << missing.toStdString();

    WriteProfile("Token=tk_right\n");
    Send(QStringLiteral("ntfy-protected@127.0.0.1"), kReminder);
    WriteProfile("TokenCommand=printf 'tk_right\\nsecond line'\n");
    Send(QStringLiteral("ntfy-protected@127.0.0.1"), kReminder);
    const int count = ntfy.Count();
    EXPECT_EQ(ntfy.Header(count - 1, "Authorization"), "Bearer tk_right");
    EXPECT_EQ(ntfy.Header(count, "Authorization"), "Bearer tk_right");
    EXPECT_TRUE(NothingReachedSmtp());
}

TEST_F(PushDeliveryTest, EveryAnswerButSuccessIsAClearErrorWithinTheTimeOut) {
    EXPECT_TRUE(SendError(QStringLiteral("ntfy-limited@127.0.0.1"))
                    .contains("too many messages in a short time (429 rate limit: limit reached"));
    EXPECT_TRUE(SendError(QStringLiteral("ntfy-broken@127.0.0.1"))
                    .contains("failed to take the notice (HTTP 500: internal server error)"));
    QElapsedTimer clock;
    clock.start();
    const QString stalled = SendError(QStringLiteral("ntfy-stall@127.0.0.1"));
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_EQ(stalled, "The push server " + ntfy.Shown() +
                           " did not answer within 2 seconds. The notice was not sent.");
    // A notice after the failures goes out as usual.
    Send(QStringLiteral("ntfy-alerts@127.0.0.1"), kReminder);
    EXPECT_EQ(ntfy.Request(ntfy.Count()).value("body").toString(), kReminder);
    EXPECT_TRUE(NothingReachedSmtp());
}

TEST_F(PushDeliveryTest, ARedirectIsNeverFollowedAndOneToPlainHttpIsCalledUnencrypted) {
    const QString toHttp = SendError(QStringLiteral("ntfy-redirect@127.0.0.1"));
    EXPECT_TRUE(toHttp.contains("redirected the notice to an unencrypted http:// address"))
        << toHttp.toStdString();
    const QString moved = SendError(QStringLiteral("ntfy-moved@127.0.0.1"));
    EXPECT_TRUE(moved.contains("does not follow redirects")) << moved.toStdString();
    EXPECT_EQ(ntfy.Count(), 2) << "neither redirect was followed";
    EXPECT_TRUE(NothingReachedSmtp());
}

TEST_F(PushDeliveryTest, PlainHttpIsOnlyForAServerOnThisComputer) {
    store.app.reset();
    store.WriteProfile("[Push]\nServer=http://ntfy.example.org\n");
    EXPECT_TRUE(SendError(QStringLiteral("ntfy-alerts@ntfy.example.org"))
                    .contains("would get the notice unencrypted"));
    for (const char* server : {"http://localhost:1", "http://127.0.0.2:1", "http://[::1]:1"}) {
        TPushSettings push;
        push.server = QLatin1String(server);
        EXPECT_NO_THROW(PublishUrl(push, {QStringLiteral("a"), {}, QStringLiteral("h")})) << server;
    }
    TPushSettings https;
    EXPECT_EQ(PublishUrl(https, {QStringLiteral("a"), {}, QStringLiteral("ntfy.sh")}).toString(),
              "https://ntfy.sh/a");
    https.server = QStringLiteral("https://push.example.org/ntfy/");
    EXPECT_EQ(PublishUrl(https, {QStringLiteral("a"), {}, QStringLiteral("ntfy.sh")}).toString(),
              "https://push.example.org/ntfy/a");
    https.server = QStringLiteral("https://push.example.org/?topic=");
    EXPECT_THROW(PublishUrl(https, {QStringLiteral("a"), {}, QStringLiteral("h")}),
                 EAutomationError);
}

TEST_F(PushDeliveryTest, AHostileRecipientIsRefusedAndNothingIsSentAnywhere) {
    const QString longTopic =
        QStringLiteral("ntfy-") + QString(300, QLatin1Char('a')) + QStringLiteral("@127.0.0.1");
    const std::vector<std::pair<QString, const char*>> hostile{
        {QStringLiteral("ntfy-alerts@127.0.0.1\r\nBcc: victim@example.org"), "line break"},
        {QStringLiteral("5551234567@txt.example.net\r\nvictim@example.org"), "line break"},
        {QStringLiteral("ntfy-a/b@127.0.0.1"), "cannot be used"},
        {QStringLiteral("ntfy-a?b=1@127.0.0.1"), "cannot be used"},
        {QStringLiteral("ntfy-a#b@127.0.0.1"), "cannot be used"},
        {QStringLiteral("ntfy-..@127.0.0.1"), "cannot be used"},
        {QStringLiteral("ntfy-@127.0.0.1"), "cannot be used"},
        {longTopic, "cannot be used"},
        {QStringLiteral("ntfy-alerts@127.0.0.1, victim@example.org"), "not of the form"},
        {QStringLiteral("ntfy-alerts@127.0.0.1/../admin"), "valid server name"},
        {QStringLiteral("ntfy-alerts+tk_x\"\r\nX: y@127.0.0.1"), "line break"},
        {QStringLiteral("ntfy-alerts+tk x@127.0.0.1"), "access token"},
        {QStringLiteral("ntfy-alerts@127.0.0.1\t"), "control character"},
    };
    for (const auto& [to, reason] : hostile) {
        const QString error = SendError(to);
        EXPECT_TRUE(error.contains(QLatin1String(reason))) << error.toStdString();
        EXPECT_TRUE(error.endsWith("The notice was not sent.")) << error.toStdString();
        EXPECT_LT(error.size(), 200) << "a long topic is shortened in the text";
        EXPECT_FALSE(error.contains("\r") || error.contains("\n"));
    }
    EXPECT_EQ(ntfy.Count(), 0);
    EXPECT_TRUE(NothingReachedSmtp());
}

TEST_F(PushDeliveryTest, WithDirectOffAPushAddressGoesByMailLikeAnyOther) {
    WriteProfile("Direct=false\n");
    Send(QStringLiteral("ntfy-alerts@ntfy.example.org"), kReminder);
    EXPECT_EQ(smtp.Recipients(1), "ntfy-alerts@ntfy.example.org");
    EXPECT_EQ(ntfy.Count(), 0);
    EXPECT_EQ(LastDelivery().where, "handed to 127.0.0.1:" + QString::number(smtp.port));
}

// The way most users publish: HTTPS, with the server's certificate checked.
TEST(PushHttpsTest, AnHttpsServerIsUsedWhenItsCertificateIsTrustedAndRefusedOtherwise) {
    QTemporaryDir certificates;
    ASSERT_TRUE(MakeCertificate(certificates.path()));
    TNtfyServer ntfy({QStringLiteral("--cert"), certificates.filePath(QStringLiteral("cert.pem")),
                      QStringLiteral("--key"), certificates.filePath(QStringLiteral("key.pem"))});
    ASSERT_GT(ntfy.port, 0);
    TPushSettings push;
    push.server = QStringLiteral("https://127.0.0.1:%1").arg(ntfy.port);
    const TPushAddress address = ParsePushAddress(QStringLiteral("ntfy-alerts@127.0.0.1"));
    TNtfyPublisher trusting(push, 5, certificates.filePath(QStringLiteral("cert.pem")));
    EXPECT_EQ(trusting.Publish(address, kReminder, {}),
              "sent to ntfy topic alerts on " + ntfy.Shown());
    EXPECT_EQ(ntfy.Request(1).value("body").toString(), kReminder);
    TNtfyPublisher doubting(push, 5);
    try {
        doubting.Publish(address, kReminder, {});
        ADD_FAILURE() << "an unknown certificate was accepted";
    } catch (const EAutomationError& error) {
        EXPECT_TRUE(error.Message().contains("certificate could not be verified"))
            << error.Message().toStdString();
    }
    EXPECT_EQ(ntfy.Count(), 1);
}

TEST(PushRouteTest, TheRouteSaysWhereANoticeGoesForEachKindOfProfile) {
    TMailStoreProfile profile;
    EXPECT_TRUE(DescribeRoute(profile, QStringLiteral("5551234567@txt.example.net"))
                    .startsWith("written to the local Outbox: no mail server is set up "
                                "(Settings > Mail Store..."));
    EXPECT_EQ(DescribeRoute(profile, QStringLiteral("ntfy-phone+tk_secret@ntfy.sh")),
              "sent to ntfy topic phone on ntfy.sh");
    profile.push.server = QStringLiteral("http://ntfy.example.org");
    EXPECT_TRUE(DescribeRoute(profile, QStringLiteral("ntfy-phone@ntfy.sh"))
                    .startsWith("refused: The push server ntfy.example.org would get"));
    EXPECT_TRUE(DescribeRoute(profile, QStringLiteral("ntfy-a/b@ntfy.sh")).startsWith("refused: "));
    profile.push.direct = false;
    profile.send.transport = TTransportKind::Smtp;
    profile.send.url = QStringLiteral("smtps://smtp.example.org");
    EXPECT_EQ(DescribeRoute(profile, QStringLiteral("ntfy-phone@ntfy.sh")),
              "handed to smtp.example.org");
    profile.send.transport = TTransportKind::Sendmail;
    EXPECT_EQ(DescribeRoute(profile, QStringLiteral("a@b.example")),
              "handed to the sendmail command /usr/sbin/sendmail");
    EXPECT_EQ(ShownAddress(QStringLiteral("ntfy-phone+tk_secret@ntfy.sh")),
              "ntfy-phone+...@ntfy.sh");
}

TEST(PushRouteTest, ClosedGatewaysAreNamedAndOthersAreNot) {
    const QString att = ClosedGatewayWarning(QStringLiteral("5551234567@TXT.att.net"));
    EXPECT_TRUE(att.startsWith("Notices to @txt.att.net will not arrive: AT&T closed"))
        << att.toStdString();
    EXPECT_TRUE(att.contains("June 2025") && att.contains("ntfy-TOPIC@ntfy.sh"));
    EXPECT_TRUE(ClosedGatewayWarning(QStringLiteral("5551234567@tmomail.net")).contains("2024"));
    EXPECT_TRUE(ClosedGatewayWarning(QStringLiteral("5551234567@pcs.rogers.com")).contains("2023"));
    EXPECT_TRUE(ClosedGatewayWarning(QStringLiteral("5551234567@messaging.sprintpcs.com"))
                    .contains("no mail server"));
    EXPECT_TRUE(
        ClosedGatewayWarning(QStringLiteral("5551234567@vtext.com")).contains("may not arrive"));
    for (const char* fine :
         {"ntfy-phone@ntfy.sh", "me@example.org", "", "@", "vtext.com", "5551234567@notvtext.com"})
        EXPECT_TRUE(ClosedGatewayWarning(QLatin1String(fine)).isEmpty()) << fine;
}

TEST(PushProfileTest, ThePushSectionIsReadAndWrittenBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("MailStore.ini"));
    WriteText(path, "[Send]\nTransport=outbox\n");
    TMailStoreProfile profile = LoadProfile(path, dir.path());
    EXPECT_TRUE(profile.push.direct) << "push is on without a [Push] section";
    EXPECT_TRUE(profile.push.apprise);
    EXPECT_TRUE(profile.push.server.isEmpty());

    profile.push = {QStringLiteral("https://ntfy.example.org"), QStringLiteral("tk_abc"),
                    QStringLiteral("pass show ntfy, token"), false, false};
    SaveProfile(profile, path);
    const QByteArray text = ReadText(path);
    EXPECT_TRUE(text.contains("[Push]\nServer=https://ntfy.example.org\nToken=tk_abc\n"))
        << text.constData();
    const TMailStoreProfile loaded = LoadProfile(path, dir.path());
    EXPECT_TRUE(loaded.problems.isEmpty()) << loaded.problems.join(' ').toStdString();
    const TPushSettings back = loaded.push;
    EXPECT_EQ(back.server, profile.push.server);
    EXPECT_EQ(back.token, profile.push.token);
    EXPECT_EQ(back.tokenCommand, profile.push.tokenCommand);
    EXPECT_FALSE(back.direct);
    EXPECT_FALSE(back.apprise);
}

TEST(PushDialogTest, ThePushSettingsAreShownTheTestButtonPublishesAndATypedTokenIsKept) {
    TNtfyServer ntfy;
    ASSERT_GT(ntfy.port, 0);
    QTemporaryDir dir;
    const QString profile = dir.filePath(QStringLiteral("MailStore.ini"));
    WriteText(profile, "[Push]\nServer=" + ntfy.Server() + "\nTokenCommand=echo tk_right\n");
    QString account, token;
    TMailStoreEditor editor(
        profile, dir.filePath(QStringLiteral("store")), nullptr,
        [&](const QString& name, const QString& secret, QString*) {
            account = name;
            token = secret;
            return true;
        },
        [](QWidget*, const QString&) {});
    EXPECT_EQ(editor.findChild<QLineEdit*>("pushServer")->text(), QString(ntfy.Server()));
    EXPECT_EQ(editor.findChild<QLineEdit*>("pushTokenCommand")->text(), "echo tk_right");
    EXPECT_TRUE(editor.findChild<QCheckBox*>("pushDirect")->isChecked());
    EXPECT_TRUE(editor.findChild<QCheckBox*>("pushApprise")->isChecked());

    editor.findChild<QLineEdit*>("testRecipient")->setText("ntfy-protected@127.0.0.1");
    auto* result = editor.findChild<QLabel*>("testResult");
    editor.findChild<QPushButton*>("sendTest")->click();
    QElapsedTimer clock;
    clock.start();
    while (result->text() == "Sending..." && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(result->text(), "The push server took the message: sent to ntfy topic protected "
                              "on " +
                                  ntfy.Shown());
    EXPECT_EQ(ntfy.Header(1, "Authorization"), "Bearer tk_right");
    EXPECT_EQ(ntfy.Request(1).value("body").toString(), kTestSubject + '\n' + kTestBody);

    editor.findChild<QLineEdit*>("pushToken")->setText("tk_typed");
    editor.findChild<QCheckBox*>("pushApprise")->setChecked(false);
    ASSERT_TRUE(editor.Save());
    EXPECT_TRUE(ReadText(profile).contains("Apprise=false\n"));
    EXPECT_EQ(account, "ntfy@" + ntfy.Shown());
    EXPECT_EQ(token, "tk_typed");
    EXPECT_FALSE(ReadText(profile).contains("tk_typed")) << "the keyring has it";
}

} // namespace
