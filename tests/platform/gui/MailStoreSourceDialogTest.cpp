// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/gui/MailStoreEditor.h"
#include "tests/platform/CalDavTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

class MailStoreSourceDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        editor = std::make_unique<TMailStoreEditor>(
            profile, dir.filePath("store"), nullptr,
            [this](const QString& account, const QString& password, QString*) {
                keyring[account] = password;
                return true;
            },
            [this](QWidget*, const QString& text) { notices << text; });
    }
    void Type(const char* field, const QString& text) {
        auto* edit = editor->findChild<QLineEdit*>(field);
        ASSERT_NE(edit, nullptr) << field;
        edit->setText(text);
    }
    QString TestResult(const char* kind) {
        auto* result = editor->findChild<QLabel*>(QString(kind) + "TestResult");
        editor->findChild<QPushButton*>(QString(kind) + "Test")->click();
        QElapsedTimer clock;
        clock.start();
        while (result->text() == "Testing..." && clock.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return result->text();
    }

    QTemporaryDir dir;
    QString profile = dir.filePath("MailStore.ini");
    std::unique_ptr<TMailStoreEditor> editor;
    std::map<QString, QString> keyring;
    QStringList notices;
};

TEST_F(MailStoreSourceDialogTest, EachServerIsSavedWithItsPasswordInTheKeyringUnderItsHost) {
    Type("calendarUrl", "webcal://cal.example.org/feed.ics");
    Type("tasksUrl", "https://dav.example.org/me/tasks/");
    Type("tasksUser", "me");
    Type("tasksPassword", "t4sks");
    Type("tasksCaFile", "/etc/ca.pem");
    Type("inboxUrl", "imaps://mail.example.org:993/INBOX");
    ASSERT_TRUE(editor->Save());
    EXPECT_EQ(keyring["me@dav.example.org"], "t4sks");
    const TMailStoreProfile saved = LoadProfile(profile, "/data");
    EXPECT_EQ(saved.calendarServer.url, "https://cal.example.org/feed.ics");
    EXPECT_EQ(saved.tasksServer.user, "me");
    EXPECT_EQ(saved.tasksServer.caFile, "/etc/ca.pem");
    EXPECT_TRUE(saved.tasksServer.password.isEmpty()) << "the keyring holds it";
    EXPECT_EQ(saved.inboxServer.url, "imaps://mail.example.org:993/INBOX");
    EXPECT_FALSE(ReadText(profile).contains("t4sks"));
}

TEST_F(MailStoreSourceDialogTest, TestSaysWhatTheServerHoldsOrWhatIsWrong) {
    TRadicale server;
    if (!server.ready)
        GTEST_SKIP() << "Radicale or openssl is not available";
    ASSERT_TRUE(server.Other("PUT", "m.ics", EventText("m1", "Review")).Ok());
    Type("calendarUrl", server.Url());
    Type("calendarUser", TRadicale::kUser);
    Type("calendarPassword", TRadicale::kPassword);
    Type("calendarCaFile", server.CaFile());
    EXPECT_EQ(TestResult("calendar"), "Found a CalDAV collection with 1 events and 0 tasks.");
    Type("calendarPassword", "wrong");
    EXPECT_TRUE(TestResult("calendar").contains("refused the user name or password"));
    EXPECT_EQ(TestResult("tasks"), "Fill in the server address first.");

    Type("inboxUrl", "imaps://mail.example.org/INBOX");
    editor->SetSourceTester(TSourceKind::Inbox, [](const TSourceSettings& settings) {
        return "inbox " + settings.url;
    });
    EXPECT_EQ(TestResult("inbox"), "inbox imaps://mail.example.org/INBOX");
}

} // namespace
