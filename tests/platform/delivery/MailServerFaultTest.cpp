// SPDX-License-Identifier: GPL-3.0-or-later
// Mail servers that refuse at the greeting, refuse the message, reject the login,
// answer slowly, never finish answering, break off the secure connection or hang
// up; a sendmail that fails. Each send ends within its time-out with an error that
// names what happened, and the engine goes on with its next cycle.

#include "engine/StateFiles.h"
#include "platform/delivery/MailTransport.h"
#include "platform/delivery/MessageComposer.h"
#include "tests/platform/StoreEngine.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

namespace rp::test {
namespace {

using mailstore::TSendSettings;
using mailstore::TTransportKind;

QString ServerScript() {
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
           QStringLiteral("/../data/faults/scripted_smtp.py");
}

// The misbehaving server of data/faults/scripted_smtp.py on a free loopback port.
class TScriptedSmtp {
public:
    explicit TScriptedSmtp(const QString& mode, double delay = 0.3) {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/bin/python3"),
                      {ServerScript(), QStringLiteral("--mode"), mode, QStringLiteral("--delay"),
                       QString::number(delay)});
        while (!process.canReadLine() && process.waitForReadyRead(10000)) {
        }
        const QByteArray line = process.readLine().trimmed();
        if (line.startsWith("READY "))
            port = line.mid(6).toInt();
    }
    ~TScriptedSmtp() {
        process.closeWriteChannel();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }
    QString Url() const { return QStringLiteral("smtp://127.0.0.1:%1").arg(port); }
    int port = 0;

private:
    QProcess process;
};

TSendSettings SmtpSettings(const QString& url, int timeoutSeconds) {
    TSendSettings settings;
    settings.transport = TTransportKind::Smtp;
    settings.url = url;
    settings.startTls = false;
    settings.timeoutSeconds = timeoutSeconds;
    return settings;
}

mailstore::TComposedMessage Notice() {
    return mailstore::ComposeMessage(
        {"ringpost@example.org", "5551234567@txt.example.net", "9:30:00 AM@loc:Room 12", ""});
}

struct TOutcome {
    bool sent = false;
    QString text; // the server's acceptance or the error
    qint64 ms = 0;
};

TOutcome SendThrough(const TSendSettings& settings) {
    TOutcome outcome;
    QElapsedTimer clock;
    clock.start();
    try {
        outcome.text = mailstore::CreateTransport(settings)->Send(Notice());
        outcome.sent = true;
    } catch (const outlook::EAutomationError& error) {
        outcome.text = error.Message();
    }
    outcome.ms = clock.elapsed();
    return outcome;
}

struct TFaultCase {
    const char* mode;
    const char* expectedStart;
};

void PrintTo(const TFaultCase& fault, std::ostream* out) {
    *out << fault.mode;
}

class MailServerFaultTest : public ::testing::TestWithParam<TFaultCase> {};

TEST_P(MailServerFaultTest, EndsWithinTheTimeOutAndSaysWhatTheServerDid) {
    TScriptedSmtp server(QString::fromLatin1(GetParam().mode));
    ASSERT_GT(server.port, 0);
    TSendSettings settings = SmtpSettings(server.Url(), 2);
    settings.user = QStringLiteral("anna");
    settings.password = QStringLiteral("secret");
    const TOutcome outcome = SendThrough(settings);
    EXPECT_FALSE(outcome.sent);
    EXPECT_TRUE(outcome.text.startsWith(QString::fromUtf8(GetParam().expectedStart)))
        << outcome.text.toStdString();
    EXPECT_LT(outcome.ms, 3000) << "the time-out is 2 seconds";
    EXPECT_FALSE(outcome.text.contains(QStringLiteral("secret"))) << "no password in the error";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MailServerFaultTest,
    ::testing::Values(
        TFaultCase{"greet421", "The SMTP server 127.0.0.1:"},
        TFaultCase{"data451", "SMTP server refused the message: 451 4.3.0 Temporary local problem"},
        TFaultCase{"auth535", "SMTP server rejected the user name or password: 535 5.7.8"},
        TFaultCase{"trickle", "The SMTP server 127.0.0.1:"},
        TFaultCase{"drop", "Sending through the SMTP server 127.0.0.1:"}),
    [](const ::testing::TestParamInfo<TFaultCase>& info) { return std::string(info.param.mode); });

TEST(MailServerFaultDetailTest, TheGreetingRefusalAndTheTrickleAreNamedAsSuch) {
    TScriptedSmtp refusing(QStringLiteral("greet421"));
    const TOutcome refused = SendThrough(SmtpSettings(refusing.Url(), 2));
    EXPECT_TRUE(refused.text.contains(QStringLiteral("refused the connection: 421 4.3.2")))
        << refused.text.toStdString();
    TScriptedSmtp trickling(QStringLiteral("trickle"));
    const TOutcome stalled = SendThrough(SmtpSettings(trickling.Url(), 1));
    EXPECT_TRUE(stalled.text.contains(QStringLiteral("did not answer within 1 seconds")))
        << stalled.text.toStdString();
    EXPECT_LT(stalled.ms, 2000);
}

TEST(MailServerFaultDetailTest, ASlowServerWithinTheTimeOutTakesTheMessage) {
    TScriptedSmtp server(QStringLiteral("slow"), 0.25);
    ASSERT_GT(server.port, 0);
    const TOutcome outcome = SendThrough(SmtpSettings(server.Url(), 5));
    EXPECT_TRUE(outcome.sent) << outcome.text.toStdString();
    EXPECT_TRUE(outcome.text.contains(QStringLiteral("250 2.0.0 Ok: queued as SCRIPTED")));
    EXPECT_GE(outcome.ms, 1000) << "every reply was late";
}

TEST(MailServerFaultDetailTest, AStartTlsThatBreaksOffIsASecureConnectionFailure) {
    TScriptedSmtp server(QStringLiteral("badtls"));
    ASSERT_GT(server.port, 0);
    TSendSettings settings = SmtpSettings(server.Url(), 2);
    settings.startTls = true;
    const TOutcome outcome = SendThrough(settings);
    EXPECT_FALSE(outcome.sent);
    EXPECT_TRUE(outcome.text.startsWith(QStringLiteral("The secure connection to the SMTP server")))
        << outcome.text.toStdString();
    EXPECT_FALSE(outcome.text.contains(QStringLiteral("certificate")))
        << "no certificate was ever shown: " << outcome.text.toStdString();
    EXPECT_LT(outcome.ms, 3000);
}

TEST(MailServerFaultDetailTest, ASendmailThatFailsIsReportedWithItsCodeAndComplaint) {
    TSendSettings settings;
    settings.transport = TTransportKind::Sendmail;
    settings.timeoutSeconds = 2;
    settings.command = QStringLiteral("/bin/sh -c \"echo 'sendmail: cannot reach the relay' >&2; "
                                      "exit 75\"");
    const TOutcome outcome = SendThrough(settings);
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.text, QStringLiteral("The sendmail command \"/bin/sh\" failed (exit code "
                                           "75): sendmail: cannot reach the relay"));
    settings.command = QStringLiteral("/nonexistent/sendmail -t");
    EXPECT_TRUE(SendThrough(settings).text.startsWith(
        QStringLiteral("The sendmail command \"/nonexistent/sendmail\" could not be started")));
}

// The engine over a real store whose server never answers: every due reminder
// costs one time-out and one error box, is not tried again, and the engine keeps
// its normal 15-second rhythm instead of hanging or spinning.
TEST(MailServerFaultEngineTest, AStalledServerNeitherHangsNorSpinsTheEngine) {
    TScriptedSmtp server(QStringLiteral("trickle"));
    ASSERT_GT(server.port, 0);
    TStoreEngine e;
    TStoreEngine::Write(e.ProfilePath(), "[Send]\nTransport=smtp\nUrl=" + server.Url().toUtf8() +
                                             "\nStartTLS=false\nTimeoutSeconds=1\n"
                                             "From=ringpost@example.org\n");
    QByteArray events;
    for (const char* minute : {"05", "06", "07"})
        events += QByteArray("BEGIN:VEVENT\r\nUID:m") + minute +
                  "\r\nDTSTAMP:20240301T000000Z\r\nDTSTART:20240304T12" + minute +
                  "00Z\r\nSUMMARY:Review " + minute + "\r\nEND:VEVENT\r\n";
    TStoreEngine::Write(e.StorePath("calendar.ics"),
                        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n" + events +
                            "END:VCALENDAR\r\n");
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(e.RunWaits(6, 30000)) << "the engine hung";
    EXPECT_LT(clock.elapsed(), 3 * 1000 + 10000) << "three time-outs of a second, and slack";

    EXPECT_EQ(e.host.ErrorBoxes().size(), 3) << e.host.ErrorBoxes().join('\n').toStdString();
    for (const QString& box : e.host.ErrorBoxes())
        EXPECT_TRUE(box.contains(QStringLiteral("did not answer within 1 seconds")))
            << box.toStdString();
    const QList<int> waits = e.wake->Waits();
    ASSERT_EQ(waits.size(), 6);
    EXPECT_EQ(waits.first(), 360000) << "the first wait: the user counted as active";
    for (int i = 1; i < waits.size(); ++i)
        EXPECT_EQ(waits[i], 15000) << "wait " << i;
    TSortedList<TEventItem> notified;
    LoadNotifyFile(e.Path(QStringLiteral("NOTIFY.CLD")), notified);
    ASSERT_EQ(notified.Count(), 3);
    for (int i = 0; i < notified.Count(); ++i)
        EXPECT_TRUE(notified.At(i).Notified) << "dispatched once, not retried";
    EXPECT_TRUE(e.host.EngineRunningChanges().endsWith(false)) << "ended through its shut-down";
}

} // namespace
} // namespace rp::test
