// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/platform/MailStoreTestSupport.h"

#include "platform/gui/MailStoreEditor.h"
#include "platform/mailstore/MailStoreApplication.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <cstring>
#include <sys/stat.h>

using namespace rp::mailstore;
using namespace rp::mailstore::testing;
namespace outlook = rp::outlook;
using rp::TSourceHealth;
using rp::TSourceProblem;

namespace {

class MailStoreDialogTest : public ::testing::Test {
protected:
    TMailStoreEditor& Editor(bool keyringWorks) {
        editor = std::make_unique<TMailStoreEditor>(
            profile, store, nullptr,
            [this, keyringWorks](const QString& account, const QString& password, QString* why) {
                keyringAccount = account;
                keyringPassword = password;
                *why = "no keyring in the tests";
                return keyringWorks;
            },
            [this](QWidget*, const QString& text) { notices << text; });
        return *editor;
    }
    void Type(const char* field, const QString& text) {
        editor->findChild<QLineEdit*>(field)->setText(text);
    }
    void ChooseTransport(const QString& name) {
        auto* transport = editor->findChild<QComboBox*>("transport");
        transport->setCurrentIndex(transport->findData(name));
    }
    QString TestResultAfterClick() {
        auto* result = editor->findChild<QLabel*>("testResult");
        editor->findChild<QPushButton*>("sendTest")->click();
        QElapsedTimer clock;
        clock.start();
        while (result->text() == "Sending..." && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return result->text();
    }
    void FillSmtp() {
        ChooseTransport("smtp");
        Type("url", "smtp://mail.example.org:587");
        Type("user", "me");
        Type("password", "s3cret, with comma");
    }

    QTemporaryDir dir;
    QString profile = dir.filePath("config/Amberfold/MailStore.ini");
    QString store = dir.filePath("store");
    std::unique_ptr<TMailStoreEditor> editor;
    QString keyringAccount, keyringPassword;
    QStringList notices;
};

TEST_F(MailStoreDialogTest, APasswordGoesToTheKeyringAndNotIntoTheProfile) {
    Editor(true);
    FillSmtp();
    ASSERT_TRUE(editor->Save());
    EXPECT_EQ(keyringAccount, "me@mail.example.org");
    EXPECT_EQ(keyringPassword, "s3cret, with comma");
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_FALSE(ReadText(profile).contains("Password="));
    const TMailStoreProfile saved = LoadProfile(profile, store);
    EXPECT_EQ(saved.send.transport, TTransportKind::Smtp);
    EXPECT_EQ(saved.send.url, "smtp://mail.example.org:587");
    EXPECT_EQ(saved.calendarPath, store + "/calendar.ics");
}

TEST_F(MailStoreDialogTest, WithoutKeyringThePasswordIsKeptInAProfileOnlyTheUserCanRead) {
    Editor(false);
    FillSmtp();
    Type("passwordCommand", "pass show \"mail, work\"");
    ASSERT_TRUE(editor->Save());
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices.first().contains(profile));
    const TMailStoreProfile saved = LoadProfile(profile, store);
    EXPECT_EQ(saved.send.password, "s3cret, with comma");
    EXPECT_EQ(saved.send.passwordCommand, "pass show \"mail, work\"");
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(profile).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// The dialog stays open with what failed: the folder in the way, or the reason the
// file could not be written.
TEST_F(MailStoreDialogTest, AProfileThatCannotBeSavedIsReportedAndTheDialogStaysOpen) {
    Editor(true);
    ASSERT_TRUE(QDir().mkpath(dir.filePath("config")));
    QFile blocker(dir.filePath("config/Amberfold"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(editor->Save());
    EXPECT_EQ(notices, QStringList{"Cannot create the folder \"" +
                                   dir.filePath("config/Amberfold") + "\"."});

    ASSERT_TRUE(blocker.remove());
    ASSERT_TRUE(QDir().mkpath(profile)); // a folder where the file goes
    notices.clear();
    EXPECT_FALSE(editor->Save());
    ASSERT_EQ(notices.size(), 1);
    EXPECT_EQ(notices.first(), "Cannot write \"" + profile + "\": " + strerror(EISDIR));
    EXPECT_FALSE(editor->result() == QDialog::Accepted);
}

TEST_F(MailStoreDialogTest, TheTestButtonReportsTheTransportsAnswer) {
    Editor(false);
    Type("outboxPath", dir.filePath("Outbox"));
    Type("testRecipient", "5551234567@txt.example.net");
    EXPECT_TRUE(TestResultAfterClick().startsWith("The message was written to the outbox"));
    EXPECT_EQ(QDir(dir.filePath("Outbox/new")).entryList(QDir::Files).size(), 1);

    ChooseTransport("smtp");
    Type("url", "smtp://127.0.0.1:1");
    EXPECT_TRUE(TestResultAfterClick().startsWith(
        "The test message could not be sent: Could not connect to the SMTP server"));
}

// ---- Fitting the screen, the embedded store, the profile's mistakes ----

TEST_F(MailStoreDialogTest, FitsASmallScreenWithATabPerPartAndOkAlwaysInView) {
    Editor(true);
    editor->SetTestRecipient("5551234567@vtext.com");
    editor->show();
    QCoreApplication::processEvents();
    EXPECT_LE(editor->width(), 1024);
    EXPECT_LE(editor->height(), 768 - 40) << "room for the title bar";
    auto* tabs = editor->Tabs();
    ASSERT_EQ(tabs->count(), 5);
    QStringList titles;
    for (int index = 0; index < tabs->count(); ++index)
        titles << tabs->tabText(index);
    EXPECT_EQ(titles, (QStringList{"&Calendar", "&Tasks", "&Inbox", "&Sending", "&Push"}));
    auto* buttons = editor->findChild<QWidget*>("buttons");
    ASSERT_NE(buttons, nullptr);
    for (int index = 0; index < tabs->count(); ++index) {
        tabs->setCurrentIndex(index);
        QCoreApplication::processEvents();
        EXPECT_TRUE(buttons->isVisible());
        EXPECT_TRUE(editor->rect().contains(buttons->geometry()));
    }
    // The test message goes to the phone, not to the sender.
    EXPECT_EQ(editor->findChild<QLineEdit*>("testRecipient")->text(), "5551234567@vtext.com");
    EXPECT_TRUE(editor->TabPage(TEditorTab::Sending)
                    ->isAncestorOf(editor->findChild<QPushButton*>("sendTest")));
}

TEST_F(MailStoreDialogTest, OkOnTheDefaultsMakesTheEmbeddedStoreAndAMissingPathIsNamed) {
    Editor(true);
    ASSERT_FALSE(QFileInfo::exists(store));
    ASSERT_TRUE(editor->Save());
    EXPECT_TRUE(QFileInfo::exists(store + "/calendar.ics"));
    EXPECT_TRUE(QFileInfo::exists(store + "/tasks.ics"));
    EXPECT_TRUE(QFileInfo::exists(store + "/Inbox/cur"));
    EXPECT_TRUE(QFileInfo::exists(store + "/Inbox/new"));
    EXPECT_TRUE(notices.isEmpty()) << notices.join('\n').toStdString();

    const QByteArray before = ReadText(profile);
    Type("calendarPath", dir.filePath("typo/calendar.ics"));
    Type("inboxPath", dir.path()); // a folder, but no Maildir
    EXPECT_FALSE(editor->Save());
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0].contains(dir.filePath("typo/calendar.ics"))) << notices[0].toStdString();
    EXPECT_TRUE(notices[0].contains("is not a Maildir")) << notices[0].toStdString();
    EXPECT_EQ(ReadText(profile), before) << "nothing saved";
}

TEST_F(MailStoreDialogTest, WhatTheProfileHoldsAmissIsNamedByLineAndTheRestStillWorks) {
    QDir().mkpath(QFileInfo(profile).path());
    WriteText(profile, "[Calendar]\nPath=/tmp/cal.ics\nColour=blue\n\n"
                       "[Send]\nTransport=stmp\nFrom=me@example.org\nStartTLS=maybe\n\n"
                       "[Extras]\nA=b\n");
    const TMailStoreProfile loaded = LoadProfile(profile, store);
    EXPECT_EQ(loaded.calendarPath, "/tmp/cal.ics");
    EXPECT_EQ(loaded.send.from, "me@example.org");
    EXPECT_EQ(loaded.send.transport, TTransportKind::Outbox);
    EXPECT_TRUE(loaded.send.startTls) << "as the line below says";
    EXPECT_EQ(
        loaded.problems,
        (QStringList{"MailStore.ini line 3 [Calendar]: the key Colour is not known and not read.",
                     "MailStore.ini line 6 [Send]: Transport=stmp is not known (outbox, smtp or "
                     "sendmail); outbox is used.",
                     "MailStore.ini line 8 [Send]: StartTLS=maybe is neither true nor false; true "
                     "is used.",
                     "MailStore.ini line 10: the section [Extras] is not known; its keys are not "
                     "read."}));
    Editor(true);
    auto* shown = editor->findChild<QLabel*>("profileProblems");
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->text().contains("Transport=stmp")) << shown->text().toStdString();
}

TEST(SourceHealthInTheStore, AProfileMistakeAMissingCalendarAndAFailedSendAreReportedUntilMended) {
    QTemporaryDir dir;
    TSourceHealth health;
    TStoreLocation location;
    location.profilePath = dir.filePath("MailStore.ini");
    location.storeFolder = dir.filePath("store");
    location.cacheFolder = dir.filePath("cache");
    location.recheckMs = 0;
    location.health = [&health](const QString& source, const QString& problem) {
        health.Report(source, problem);
    };
    WriteText(location.profilePath,
              ("[Calendar]\nPath=" + dir.filePath("cal.ics") +
               "\n[Send]\nTransport=sendmail\nCommand=/nonexistent/sendmail -t\nTransprt=x\n")
                  .toUtf8());
    auto app = TMailStoreFactory(location).Connect();
    const auto problemOf = [&health](const char* source) {
        for (const TSourceProblem& problem : health.Problems())
            if (problem.source == QLatin1String(source))
                return problem.problem;
        return QString();
    };
    EXPECT_TRUE(problemOf("profile").contains("line 6 [Send]: the key Transprt"));
    auto calendar = app->GetNamespace("MAPI")->GetDefaultFolder(outlook::olFolderCalendar);
    EXPECT_THROW(calendar->Items(), outlook::EAutomationError);
    EXPECT_TRUE(problemOf("calendar").contains("cal.ics")) << problemOf("calendar").toStdString();
    auto mail = outlook::ItemAs<outlook::MailItem>(app->CreateItem(outlook::olMailItem));
    mail->SetTo("5551234567@txt.example.net");
    mail->SetSubject("Ringpost Test message");
    EXPECT_THROW(mail->Send(), outlook::EAutomationError);
    EXPECT_FALSE(problemOf("send").isEmpty());
    // An Apprise address is push, not mail.
    auto push = outlook::ItemAs<outlook::MailItem>(app->CreateItem(outlook::olMailItem));
    push->SetTo("gotify://127.0.0.1/AbCdEfSecretTok\n");
    push->SetSubject("Ringpost Test message");
    EXPECT_THROW(push->Send(), outlook::EAutomationError);
    EXPECT_TRUE(problemOf("push").contains("\"gotify://127.0.0.1/...\" holds a line break"))
        << problemOf("push").toStdString();

    WriteText(dir.filePath("cal.ics"), "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nEND:VCALENDAR\r\n");
    calendar->Items();
    EXPECT_TRUE(problemOf("calendar").isEmpty());
    WriteText(location.profilePath,
              ("[Calendar]\nPath=" + dir.filePath("cal.ics") + "\n").toUtf8());
    app->GetNamespace("MAPI"); // the changed profile is read again
    EXPECT_TRUE(problemOf("profile").isEmpty());

    // An inbox from Online Accounts has no Url= and is still a server's: reading
    // its last look leaves what its own sync reported.
    WriteText(location.profilePath, "[Inbox]\nAuth=oauth2\nAccount=goa\n");
    auto inbox = app->GetNamespace("MAPI")->GetDefaultFolder(outlook::olFolderInbox);
    health.Report("inbox", "GNOME Online Accounts is not reached.");
    inbox->Items();
    EXPECT_FALSE(problemOf("inbox").isEmpty());
}

} // namespace
