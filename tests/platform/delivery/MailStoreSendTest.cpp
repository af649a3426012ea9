// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/platform/MailStoreTestSupport.h"

#include "platform/delivery/MailTransport.h"
#include "platform/delivery/MessageComposer.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
// GLib names a struct member "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <gmime/gmime.h>
#pragma pop_macro("signals")

using namespace rp;
using namespace rp::outlook;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

QByteArray HeaderBlock(const QByteArray& message) {
    const qsizetype end = message.indexOf("\r\n\r\n");
    return end < 0 ? message : message.left(end + 2);
}

QByteArray BodyOf(const QByteArray& message) {
    const qsizetype end = message.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : message.mid(end + 4);
}

// The Subject as a mail reader decodes it from the whole message.
QString DecodedSubject(const QByteArray& message) {
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(message.constData(), message.size());
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* parsed = g_mime_parser_construct_message(parser, nullptr);
    const char* subject = parsed ? g_mime_message_get_subject(parsed) : nullptr;
    const QString result = subject ? QString::fromUtf8(subject) : QStringLiteral("<none>");
    if (parsed)
        g_object_unref(parsed);
    g_object_unref(parser);
    g_object_unref(stream);
    return result;
}

// A loopback port nobody listens on.
int ClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TEST(MailStoreComposeTest, AMessageHasEveryHeaderAndNoLineBreakCanStartANewOne) {
    const TComposedMessage message =
        ComposeMessage({"ringpost@example.org", "5551234567@txt.example.net",
                        "Hello\r\nBcc: victim@example.com\nX-Evil: 1", ""});
    const QByteArray headers = HeaderBlock(message.text);
    for (const char* name : {"From: ", "To: ", "Subject: ", "Date: ", "Message-Id: ",
                             "MIME-Version: 1.0", "Content-Type: text/plain; charset=utf-8"})
        EXPECT_TRUE(headers.contains(QByteArray("\r\n") + name) || headers.startsWith(name))
            << name << "\n"
            << headers.constData();
    EXPECT_FALSE(headers.contains("\nBcc:"));
    EXPECT_FALSE(headers.contains("\nX-Evil:"));
    EXPECT_EQ(message.recipients, QList<QByteArray>{"5551234567@txt.example.net"});
    EXPECT_EQ(message.envelopeFrom, "ringpost@example.org");
}

TEST(MailStoreComposeTest, NonAsciiSubjectsAreEncodedAndBadAddressesRefused) {
    const TComposedMessage message =
        ComposeMessage({"ringpost@example.org", "a@example.net", QString::fromUtf8("Büro 3"), ""});
    EXPECT_TRUE(HeaderBlock(message.text).contains("Subject: =?UTF-8?"))
        << message.text.constData();
    EXPECT_THROW(ComposeMessage({"ringpost@example.org", "", "x", ""}), EAutomationError);
    EXPECT_THROW(ComposeMessage({"ringpost@example.org", " \r\n", "x", ""}), EAutomationError);
    EXPECT_THROW(ComposeMessage({"ringpost@example.org", "5551234567@", "x", ""}),
                 EAutomationError);
    EXPECT_THROW(ComposeMessage({"not an address", "a@example.net", "x", ""}), EAutomationError);
}

TEST(MailStoreComposeTest, TheSubjectIsDecodedBackExactly) {
    const QString cafe = QString::fromUtf8("Café ");
    for (const QString& subject :
         {QStringLiteral(" 9:30:00 AM@loc:Room 12Budget review "), QStringLiteral("\tTabs\t"),
          QString::fromUtf8("Büro 3 "), QStringLiteral(" ") + cafe.repeated(30),
          QStringLiteral("=?UTF-8?B?QQ==?= is text, not an encoded word"), kReminder}) {
        const TComposedMessage message =
            ComposeMessage({"ringpost@example.org", "a@example.net", subject, ""});
        EXPECT_EQ(DecodedSubject(message.text), subject) << message.text.constData();
        for (const QByteArray& line : HeaderBlock(message.text).split('\n'))
            EXPECT_LE(line.size(), 998) << "no header line beyond the RFC 5322 limit";
    }
    const TComposedMessage injected = ComposeMessage(
        {"ringpost@example.org", "a@example.net", " \r\nBcc: victim@example.com ", ""});
    EXPECT_EQ(DecodedSubject(injected.text), "  Bcc: victim@example.com ");
    EXPECT_FALSE(HeaderBlock(injected.text).contains("\nBcc:"));
}

TEST(MailStoreOutboxTest, WithoutProfileTheDefaultStoreIsMadeAndMailGoesToItsOutbox) {
    TStoreFixture store;
    auto mail = NewMail(store.App(), "5551234567@txt.example.net", kReminder);
    mail->Send();
    EXPECT_THROW(mail->Send(), EAutomationError) << "a message goes out once";
    const QString root = store.location.storeFolder;
    for (const char* path : {"calendar.ics", "tasks.ics", "Inbox/cur", "Inbox/new", "Inbox/tmp"})
        EXPECT_TRUE(QFileInfo::exists(root + "/" + path)) << path;
    const QStringList sent = QDir(root + "/Outbox/new").entryList(QDir::Files);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_TRUE(QDir(root + "/Outbox/tmp").entryList(QDir::Files | QDir::Hidden).isEmpty());
    const QString file = root + "/Outbox/new/" + sent.first();
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const QByteArray text = ReadText(file);
    EXPECT_TRUE(text.contains("\nSubject: " + kReminder.toUtf8() + "\n"));
    EXPECT_FALSE(text.contains('\r'));
    EXPECT_EQ(store.Folder(olFolderCalendar)->Items()->Count(), 0);
    EXPECT_EQ(store.Folder(olFolderInbox)->UnReadItemCount(), 0);
}

class MailStoreSmtpTest : public ::testing::Test {
protected:
    static TSendSettings Settings(const QString& url) {
        TSendSettings settings;
        settings.transport = TTransportKind::Smtp;
        settings.url = url;
        settings.startTls = false;
        settings.timeoutSeconds = 2;
        return settings;
    }
    // The error a send gives, and that it came within the time-out.
    static QString SendError(const TSendSettings& settings) {
        QElapsedTimer clock;
        clock.start();
        try {
            CreateSmtpTransport(settings)->Send(
                ComposeMessage({"ringpost@example.org", "5551234567@txt.example.net", "x", ""}));
        } catch (const EAutomationError& error) {
            EXPECT_LT(clock.elapsed(), (settings.timeoutSeconds + 1) * 1000);
            return error.Message();
        }
        ADD_FAILURE() << "the send did not fail";
        return {};
    }
};

TEST_F(MailStoreSmtpTest, AMeetingReminderArrivesWithItsExactSubjectAndAnEmptyBody) {
    TSmtpSink server("accept");
    ASSERT_GT(server.port, 0);
    TStoreFixture store;
    store.WriteProfile("[Send]\nTransport=smtp\nUrl=" + server.Url().toUtf8() +
                       "\nStartTLS=false\nFrom=Ringpost <ringpost@example.org>\n");
    NewMail(store.App(), "5551234567@txt.example.net", kReminder)->Send();
    NewMail(store.App(), "5551234567@txt.example.net", "Urgent\r\nBcc: victim@example.com")->Send();

    const QByteArray first = server.Received(1);
    EXPECT_TRUE(first.contains("\r\nSubject: " + kReminder.toUtf8() + "\r\n")) << first.constData();
    EXPECT_TRUE(BodyOf(first).trimmed().isEmpty());
    EXPECT_EQ(server.Recipients(1), "5551234567@txt.example.net");
    const QByteArray second = server.Received(2);
    EXPECT_FALSE(HeaderBlock(second).contains("\nBcc:"));
    EXPECT_EQ(server.Recipients(2), "5551234567@txt.example.net") << "no injected recipient";
}

TEST_F(MailStoreSmtpTest, ARefusedRecipientIsReportedWithTheServersAnswer) {
    TSmtpSink server("reject-recipient");
    ASSERT_GT(server.port, 0);
    const QString error = SendError(Settings(server.Url()));
    EXPECT_TRUE(error.startsWith("SMTP server refused the recipient: 550 5.1.1"))
        << error.toStdString();
}

TEST_F(MailStoreSmtpTest, ARefusedConnectionAndAStalledServerFailWithinTheTimeOut) {
    EXPECT_TRUE(SendError(Settings(QStringLiteral("smtp://127.0.0.1:%1").arg(ClosedPort())))
                    .startsWith("Could not connect to the SMTP server 127.0.0.1:"));
    TSmtpSink stalled("stall");
    ASSERT_GT(stalled.port, 0);
    TSendSettings settings = Settings(stalled.Url());
    settings.timeoutSeconds = 1;
    EXPECT_TRUE(SendError(settings).contains("did not answer within 1 seconds"));
}

TEST_F(MailStoreSmtpTest, StartTlsWithLoginWorksAndEachFaultIsNamed) {
    QTemporaryDir keys;
    ASSERT_TRUE(MakeCertificate(keys.path()));
    TSmtpSink server("tls-auth",
                     {"--cert", keys.filePath("cert.pem"), "--key", keys.filePath("key.pem")});
    ASSERT_GT(server.port, 0);
    TSendSettings settings = Settings(server.Url());
    settings.startTls = true;
    settings.caFile = keys.filePath("cert.pem");
    settings.user = "user";
    settings.passwordCommand = "printf 'secret\\nsecond line'";
    const QString answer = CreateSmtpTransport(settings)->Send(
        ComposeMessage({"ringpost@example.org", "a@example.net", "Ringpost Test message",
                        "If you got this message Ringpost Notification is working."}));
    EXPECT_TRUE(answer.contains("250 2.0.0 Ok: queued as RP1")) << answer.toStdString();
    EXPECT_TRUE(BodyOf(server.Received(1)).contains("Ringpost Notification is working."));

    settings.passwordCommand.clear();
    settings.password = "wrong";
    EXPECT_TRUE(
        SendError(settings).startsWith("SMTP server rejected the user name or password: 535"));

    settings.caFile.clear(); // the self-made certificate is trusted by nobody else
    settings.password = "secret";
    EXPECT_TRUE(SendError(settings).contains("certificate could not be verified"));
}

TEST(MailStoreSendmailTest, TheCommandGetsTheMessageAndItsFailuresAreReported) {
    QTemporaryDir dir;
    TSendSettings settings;
    settings.transport = TTransportKind::Sendmail;
    settings.command = "/usr/bin/tee " + dir.filePath("piped.eml");
    settings.timeoutSeconds = 1;
    const TComposedMessage message =
        ComposeMessage({"ringpost@example.org", "a@example.net", kReminder, ""});
    CreateTransport(settings)->Send(message);
    EXPECT_EQ(ReadText(dir.filePath("piped.eml")), WithUnixLineEnds(message.text));

    settings.command = "/bin/false";
    EXPECT_THROW(CreateTransport(settings)->Send(message), EAutomationError);
    settings.command = "/bin/sleep 5";
    QElapsedTimer clock;
    clock.start();
    EXPECT_THROW(CreateTransport(settings)->Send(message), EAutomationError);
    EXPECT_LT(clock.elapsed(), 3000);
}

} // namespace
