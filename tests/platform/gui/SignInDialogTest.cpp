// SPDX-License-Identifier: GPL-3.0-or-later
// The Mail Store dialog's sign-in choice for the inbox and for sending: the
// desktop's Online Accounts listed (a list handed in here; the real goa-daemon is
// OnlineAccountsTest's), the choice saved as Auth=, TokenCommand= and Account=,
// and a failing token command's first error line shown by the send test.

#include "platform/gui/MailStoreEditor.h"
#include "tests/platform/MailStoreTestSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

class SignInDialogTest : public ::testing::Test {
protected:
    TMailStoreEditor& Editor() {
        editor = std::make_unique<TMailStoreEditor>(
            profile, store, nullptr,
            [](const QString&, const QString&, QString* why) {
                *why = "no keyring in the tests";
                return false;
            },
            [](QWidget*, const QString&) {},
            [] {
                TOnlineMailAccount google{
                    "account_1", "ann@gmail.com",
                    "Google",    true,
                    false,       TOnlineServer{"imap.gmail.com", 993, true, false, "ann@gmail.com"},
                    std::nullopt};
                TOnlineMailAccount carol{"account_2", "carol@example.org", "IMAP and SMTP", false,
                                         false,       std::nullopt,        std::nullopt};
                return std::vector<TOnlineMailAccount>{google, carol};
            });
        return *editor;
    }
    template <class Widget> Widget* Field(const char* name) {
        Widget* widget = editor->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // Turns the event loop until the label says something other than `busy`.
    QString TextAfter(QLabel* label, const QString& busy) {
        QElapsedTimer clock;
        clock.start();
        while (label->text() == busy && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return label->text();
    }
    void ChooseSmtpWithTokenCommand(const QString& command) {
        auto* transport = Field<QComboBox>("transport");
        transport->setCurrentIndex(transport->findData("smtp"));
        Field<QLineEdit>("url")->setText("smtp://smtp.office365.com:587");
        Field<QLineEdit>("user")->setText("ann@contoso.com");
        Field<QComboBox>("sendAuth")->setCurrentIndex(1);
        Field<QLineEdit>("sendTokenCommand")->setText(command);
    }

    QTemporaryDir dir;
    QString profile = dir.filePath("MailStore.ini");
    QString store = dir.filePath("store");
    std::unique_ptr<TMailStoreEditor> editor;
};

TEST_F(SignInDialogTest, OnlineAccountsAreListedAndEachSectionsChoiceIsSaved) {
    WriteText(profile, "[Inbox]\nAuth=oauth2\nAccount=goa:ann@gmail.com\n");
    Editor();
    EXPECT_EQ(Field<QComboBox>("inboxAuth")->currentIndex(), 2);
    EXPECT_EQ(TextAfter(Field<QLabel>("inboxAccounts"), "Asking GNOME Online Accounts..."),
              "Server and user name come from the account.");
    auto* account = Field<QComboBox>("inboxAccount");
    ASSERT_EQ(account->count(), 1) << "a password account cannot sign in with a token";
    EXPECT_EQ(account->currentText(), "ann@gmail.com (Google)");
    EXPECT_FALSE(Field<QLineEdit>("inboxUrl")->isEnabled());
    EXPECT_FALSE(Field<QLineEdit>("inboxPassword")->isEnabled());

    ChooseSmtpWithTokenCommand("oama access ann@contoso.com");
    EXPECT_TRUE(Field<QLineEdit>("url")->isEnabled());
    EXPECT_FALSE(Field<QLineEdit>("password")->isEnabled());
    EXPECT_FALSE(Field<QLineEdit>("passwordCommand")->isEnabled());
    ASSERT_TRUE(editor->Save());

    const TMailStoreProfile saved = LoadProfile(profile, store);
    EXPECT_EQ(saved.inboxServer.signIn,
              (TSignIn{TAuthKind::OAuth2, {}, QStringLiteral("goa:ann@gmail.com")}));
    EXPECT_EQ(saved.send.signIn,
              (TSignIn{TAuthKind::OAuth2, QStringLiteral("oama access ann@contoso.com"), {}}));
    EXPECT_EQ(saved.send.url, "smtp://smtp.office365.com:587");
}

TEST_F(SignInDialogTest, TheSendTestSaysWhatTheFailingTokenCommandSaid) {
    Editor();
    ChooseSmtpWithTokenCommand("echo 'oama: no refresh token for ann@contoso.com' >&2; exit 1");
    Field<QPushButton>("sendTest")->click();
    EXPECT_EQ(TextAfter(Field<QLabel>("testResult"), "Sending..."),
              "The test message could not be sent: The token command failed (exit code 1). It "
              "said: oama: no refresh token for ann@contoso.com");
}

} // namespace
