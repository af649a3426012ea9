// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the mail store tests: the sample data, a process-wide time zone
// switch, and a real SMTP server (aiosmtpd) on a free loopback port.

#include "engine/OutlookModel.h"
#include "platform/calendar/IcsRecords.h"
#include "platform/delivery/TestMessage.h"
#include "platform/mailstore/MailStoreApplication.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <ctime>
#include <gtest/gtest.h>

namespace rp::mailstore::testing {

inline QString DataDir() {
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/data/mailstore");
}

// The events read as one calendar file would give them.
inline TIcsContents ParseEvents(const QByteArray& events) {
    TIcsContents contents;
    EXPECT_TRUE(ParseIcsText("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\n" + events +
                                 "END:VCALENDAR\r\n",
                             QStringLiteral("test.ics"), contents));
    return contents;
}

// A reminder as the engine words it, and the dialog's test message.
inline const QString kReminder = QStringLiteral("9:30:00 AM@loc:Room 12Budget review");
inline const QString kTestSubject = QString::fromLatin1(TestSubject);
inline const QString kTestBody = QString::fromLatin1(TestBody);
inline const QString kTestText = kTestSubject + QLatin1Char('\n') + kTestBody;

inline void WriteText(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(text);
}

inline QByteArray ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Copies a folder of sample data, keeping file names.
inline void CopyTree(const QString& from, const QString& to) {
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + QLatin1Char('/') + QDir(from).relativeFilePath(source);
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile::copy(source, target);
    }
}

// Switches the process's local time zone for one test; QDateTime follows TZ.
class TScopedTimeZone {
public:
    explicit TScopedTimeZone(const char* zone) : old(qgetenv("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~TScopedTimeZone() {
        qputenv("TZ", old);
        tzset();
    }

private:
    QByteArray old;
};

// A profile in a temporary folder and the object model opened over it.
// A message as the engine makes one.
inline std::shared_ptr<outlook::MailItem> NewMail(outlook::Application& app, const QString& to,
                                                  const QString& subject,
                                                  const QString& body = {}) {
    auto mail = outlook::ItemAs<outlook::MailItem>(app.CreateItem(outlook::olMailItem));
    mail->SetTo(to);
    mail->SetSubject(subject);
    mail->SetBody(body);
    return mail;
}

class TStoreFixture {
public:
    TStoreFixture() {
        location = {dir.path() + QStringLiteral("/MailStore.ini"),
                    dir.path() + QStringLiteral("/store"), 0};
    }

    QString Path(const QString& name) const { return dir.path() + QLatin1Char('/') + name; }
    void WriteProfile(const QByteArray& text) { WriteText(location.profilePath, text); }

    outlook::Application& App() {
        if (!app)
            app = TMailStoreFactory(location).Connect();
        return *app;
    }
    std::shared_ptr<outlook::MAPIFolder> Folder(int kind) {
        return App().GetNamespace(QStringLiteral("MAPI"))->GetDefaultFolder(kind);
    }
    template <class Kind> std::shared_ptr<Kind> Item(int folderKind, int index) {
        return outlook::ItemAs<Kind>(Folder(folderKind)->Items()->Item(index));
    }
    void Send(const QString& to, const QString& subject, const QString& body = {}) {
        NewMail(App(), to, subject, body)->Send();
    }
    // The error a send gives; fails the test when it went through.
    QString SendError(const QString& to, const QString& subject) {
        try {
            Send(to, subject);
        } catch (const outlook::EAutomationError& error) {
            return error.Message();
        }
        ADD_FAILURE() << "the send to " << to.toStdString() << " did not fail";
        return {};
    }

    QTemporaryDir dir;
    TStoreLocation location;
    std::shared_ptr<outlook::Application> app;
};

// Starts one of data/mailstore's Python servers, which says "READY <port>" once it
// listens; the port, or 0 when it never said so.
inline int StartServerScript(QProcess& process, const QString& script,
                             const QStringList& arguments) {
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral("/usr/bin/python3"),
                  QStringList{DataDir() + QLatin1Char('/') + script} + arguments);
    while (!process.canReadLine() && process.waitForReadyRead(10000)) {
    }
    const QByteArray line = process.readLine().trimmed();
    return line.startsWith("READY ") ? line.mid(6).toInt() : 0;
}

// The SMTP server of the tests: Debian's aiosmtpd run by Debian's interpreter.
class TSmtpSink {
public:
    explicit TSmtpSink(const QString& mode, const QStringList& extra = {}) {
        QDir().mkpath(out.path());
        port = StartServerScript(
            process, QStringLiteral("smtp_sink.py"),
            QStringList{QStringLiteral("--out"), out.path(), QStringLiteral("--mode"), mode} +
                extra);
    }
    ~TSmtpSink() {
        process.closeWriteChannel();
        if (!process.waitForFinished(2000)) {
            process.kill();
            process.waitForFinished(1000);
        }
    }

    QString Url(const QString& scheme = QStringLiteral("smtp")) const {
        return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(port);
    }
    QByteArray Received(int n) const { return ReadText(out.filePath(QString::number(n) + ".eml")); }
    QByteArray Recipients(int n) const {
        return ReadText(out.filePath(QString::number(n) + ".rcpt"));
    }
    // Who signed in to send message n (OAuth2 mode).
    QByteArray User(int n) const { return ReadText(out.filePath(QString::number(n) + ".user")); }

    int port = 0;

private:
    QTemporaryDir out;
    QProcess process;
};

// A self-signed certificate for 127.0.0.1, made with openssl.
inline bool MakeCertificate(const QString& folder) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), folder + QStringLiteral("/key.pem"),
                   QStringLiteral("-out"), folder + QStringLiteral("/cert.pem"),
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")});
    return openssl.waitForFinished(20000) && openssl.exitCode() == 0;
}

} // namespace rp::mailstore::testing
