// SPDX-License-Identifier: GPL-3.0-or-later
// Where notices go, as the window tells it: after the wizard, after a test
// message, and once per start for a carrier gateway that no longer delivers.

#include "FormFixture.h"

#include "platform/mailstore/MailStoreApplication.h"

#include <QStatusBar>
#include <QTest>

using namespace rp;
using namespace rp::uitest;

namespace {

const QString kOutbox = QStringLiteral("written to the local Outbox: no mail server is set up "
                                       "(Settings > Mail Store... sets one up)");

class NoticeRouteTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        // The mail store profile is looked for here; there is none, so mail
        // goes to the Outbox.
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
            saved.emplace_back(name, qgetenv(name));
            qputenv(name, dir.filePath(QLatin1String(name)).toUtf8());
        }
    }
    void TearDown() override {
        form.reset();
        for (const auto& [name, value] : saved)
            qputenv(name, value);
    }
    QString Notice() const { return form->StatusText(); }

    std::vector<std::pair<const char*, QByteArray>> saved;
};

TEST_F(NoticeRouteTest, AfterTheWizardTheStatusBarSaysWhereNoticesGo) {
    Start();
    form->SetService(8);
    form->SetCustomEmail(QStringLiteral("ntfy-phone+tk_secret@ntfy.sh"));
    form->AnnounceNoticeRoute();
    EXPECT_EQ(Notice(), "Notices will be sent to ntfy topic phone on ntfy.sh.");

    form->SetCustomEmail(QStringLiteral("ntfy-a/b@ntfy.sh"));
    form->AnnounceNoticeRoute();
    EXPECT_TRUE(Notice().startsWith("Notices cannot be sent: The ntfy topic \"a/b\""))
        << Notice().toStdString();

    form->SetService(5);
    form->SetPin(QStringLiteral("5551234567"));
    form->AnnounceNoticeRoute();
    EXPECT_EQ(Notice(), "Notices will be " + kOutbox +
                            ". Notices to @vtext.com may not arrive: Verizon's gateway is "
                            "unreliable and announced to close. Use a push address such as "
                            "ntfy-TOPIC@ntfy.sh instead (Help: Choosing a carrier).");
    // The gateway warning comes once per start.
    form->AnnounceNoticeRoute();
    EXPECT_EQ(Notice(), "Notices will be " + kOutbox + '.');
    EXPECT_TRUE(boxes->calls.size() == 1) << "no box beyond the welcome box";
}

TEST_F(NoticeRouteTest, AFirstRunHearsOnceAfterTheWizardOfTheCalendarsTheDesktopKeeps) {
    desktopOffer = {{"Work", "Family"}, {"Chores"}};
    Start();
    const QString hint = "This desktop keeps 2 calendars and 1 task list (GNOME, Evolution, "
                         "Online Accounts): Settings > Mail Store... can read them.";
    // Looked for off the GUI thread; the wizard's last page reads it from here.
    QTRY_COMPARE(form->DesktopCalendarsHint(), hint);
    EXPECT_NE(Notice(), hint) << "not before the wizard is done";

    // Done: where notices go, then the desktop's calendars, each whole.
    form->AnnounceNoticeRoute();
    EXPECT_TRUE(Notice().startsWith("Notices will be " + kOutbox)) << Notice().toStdString();
    ticks.Advance(StatusNoticeMs);
    EXPECT_EQ(Notice(), hint);
    ticks.Advance(StatusNoticeMs);
    form->AnnounceNoticeRoute();
    ticks.Advance(StatusNoticeMs);
    EXPECT_NE(Notice(), hint) << "once";

    // A start with settings stored is no first run: the store is not asked.
    form.reset();
    WriteConfiguredStore();
    registry = std::make_unique<TRegistryFile>(SettingsPath());
    Start();
    QTest::qWait(50);
    EXPECT_EQ(desktopLooks, 1);
    EXPECT_TRUE(form->DesktopCalendarsHint().isEmpty());
}

TEST_F(NoticeRouteTest, AnAppriseAddressShowsNoTokenAndAMissingAppriseNamesItsPackage) {
    Start();
    form->SetService(8);
    form->SetCustomEmail(QStringLiteral("tgram://123456789:AAHsecret/987654"));
    form->AnnounceNoticeRoute();
    EXPECT_EQ(Notice(), "Notices will be sent through Apprise to Telegram.");
    form->SetCustomEmail(QStringLiteral("gotify://push.example.org/AbCdEfSecretTok"));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", dir.path().toUtf8()); // no apprise there
    form->AnnounceNoticeRoute();
    qputenv("PATH", path);
    EXPECT_EQ(Notice(), "Notices cannot be sent: Gotify addresses are sent through Apprise, which "
                        "is not installed: install the package apprise (sudo apt install "
                        "apprise).");
}

TEST_F(NoticeRouteTest, AfterATestMessageTheStatusSaysWhereTheStoreSentIt) {
    Start();
    form->actSettings->trigger();
    ASSERT_EQ(engine.messages.size(), 1);
    // What the engine does with the queued message: the store sends it.
    mailstore::TStoreLocation location{dir.filePath(QStringLiteral("none.ini")),
                                       dir.filePath(QStringLiteral("store")), 0};
    auto app = mailstore::TMailStoreFactory(location).Connect();
    auto mail = outlook::ItemAs<outlook::MailItem>(app->CreateItem(outlook::olMailItem));
    mail->SetTo(QStringLiteral("5551234567@txt.example.net"));
    mail->SetSubject(QLatin1String(TestSubject));
    mail->Send();
    ticks.Advance(250); // the window looks for the report four times a second
    EXPECT_FALSE(Notice().isEmpty());
    EXPECT_EQ(Notice(), "Ringpost Test message " + kOutbox + '.');
}

TEST_F(NoticeRouteTest, AConfiguredStartOnAClosedGatewaySaysSoOnce) {
    WriteConfiguredStore(); // Sprint PCS
    Start();
    EXPECT_TRUE(Notice().startsWith("Notices to @messaging.sprintpcs.com will not arrive: "
                                    "Sprint's gateway has no mail server any more."))
        << Notice().toStdString();
    form->statusBar()->clearMessage();
    form->AnnounceNoticeRoute();
    EXPECT_FALSE(Notice().contains("sprintpcs")) << Notice().toStdString();
}

} // namespace
