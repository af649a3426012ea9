// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/platform/MailStoreTestSupport.h"

#include "platform/gui/MailStoreEditor.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>
#include <sys/stat.h>

using namespace rp::mailstore;
using namespace rp::mailstore::testing;

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

} // namespace
