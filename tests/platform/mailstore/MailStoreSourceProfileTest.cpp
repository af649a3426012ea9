// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/Keyring.h"
#include "tests/platform/MailStoreTestSupport.h"

using namespace rp::outlook;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

TEST(MailStoreSourceProfileTest, ServerKeysAreReadPerSectionAndWebcalMeansHttps) {
    TStoreFixture store;
    store.WriteProfile(
        "[Calendar]\nUrl=webcal://cal.example.org/secret/basic.ics\n"
        "Me=a.smith@home.example, Anna <anna@work.example>\n"
        "[Tasks]\nUrl= https://dav.example.org/u/tasks/ \nUser=anna\n"
        "PasswordCommand=pass show dav, work\nCAFile=~/ca.pem\nTimeoutSeconds=7\n"
        "[Inbox]\nUrl=imap://localhost:143/INBOX\nStartTLS=false\nPassword=\"p;w\"\n");
    const TMailStoreProfile profile = LoadProfile(store.location.profilePath, "/data");
    EXPECT_EQ(profile.calendarServer.url, "https://cal.example.org/secret/basic.ics");
    EXPECT_EQ(profile.calendarPath, "/data/calendar.ics") << "Path keeps its default";
    EXPECT_EQ(profile.calendarMe,
              QStringList({"a.smith@home.example", "Anna <anna@work.example>"}));
    EXPECT_EQ(profile.calendarServer.timeoutSeconds, 30);
    EXPECT_EQ(profile.tasksServer.url, "https://dav.example.org/u/tasks/");
    EXPECT_EQ(profile.tasksServer.user, "anna");
    EXPECT_EQ(profile.tasksServer.passwordCommand, "pass show dav, work");
    EXPECT_EQ(profile.tasksServer.caFile, QDir::homePath() + "/ca.pem");
    EXPECT_EQ(profile.tasksServer.timeoutSeconds, 7);
    EXPECT_FALSE(profile.inboxServer.startTls);
    EXPECT_TRUE(profile.tasksServer.startTls);
    EXPECT_EQ(profile.inboxServer.password, "p;w");
}

TEST(MailStoreSourceProfileTest, SavedServersReadBackTheSameAndLocalSectionsStayShort) {
    TStoreFixture store;
    TMailStoreProfile profile = LoadProfile(QString(), "/data");
    profile.calendarServer.url = "https://dav.example.org/cal/";
    profile.calendarServer.user = "anna@example.org";
    profile.calendarServer.password = "s3cret, \"quoted\" = #1";
    profile.calendarServer.caFile = "/etc/ca.pem";
    profile.calendarServer.timeoutSeconds = 12;
    profile.inboxServer.url = "imaps://mail.example.org:993/INBOX";
    profile.inboxServer.startTls = false;
    profile.calendarMe = QStringList{"a.smith@home.example", "Anna <anna@work.example>"};
    SaveProfile(profile, store.location.profilePath);

    const QByteArray text = ReadText(store.location.profilePath);
    const QByteArray tasks =
        text.mid(text.indexOf("[Tasks]"), text.indexOf("[Inbox]") - text.indexOf("[Tasks]"));
    EXPECT_EQ(tasks.trimmed(), "[Tasks]\nPath=/data/tasks.ics");
    EXPECT_FALSE(QFileInfo(store.location.profilePath).permissions() &
                 (QFile::ReadGroup | QFile::ReadOther));

    const TMailStoreProfile back = LoadProfile(store.location.profilePath, "/other");
    EXPECT_EQ(back.calendarServer, profile.calendarServer);
    EXPECT_EQ(back.tasksServer, TSourceSettings());
    EXPECT_EQ(back.inboxServer, profile.inboxServer);
    EXPECT_EQ(back.inboxPath, "/data/Inbox");
    EXPECT_EQ(back.calendarMe, profile.calendarMe);
}

TEST(MailStoreSourceProfileTest, SourceDesktopChoosesTheDesktopsStoreAllOrByName) {
    TStoreFixture store;
    store.WriteProfile("[Calendar]\nSource=desktop\nPath=/cal.ics\n"
                       "[Tasks]\nSource = Desktop: Work , Family\n"
                       "[Inbox]\nSource=desktop\n");
    TMailStoreProfile profile = LoadProfile(store.location.profilePath, "/data");
    EXPECT_EQ(profile.calendarDesktop, (TDesktopSelection{true, {}}));
    EXPECT_EQ(profile.tasksDesktop, (TDesktopSelection{true, {"Work", "Family"}}));
    EXPECT_EQ(profile.calendarPath, "/cal.ics");

    profile.calendarDesktop = {true, {"Anna, private"}};
    profile.tasksDesktop = {};
    SaveProfile(profile, store.location.profilePath);
    const QByteArray text = ReadText(store.location.profilePath);
    EXPECT_TRUE(text.contains("Source=\"desktop:Anna, private\"")) << text.toStdString();
    EXPECT_EQ(text.count("Source="), 1);
    const TMailStoreProfile back = LoadProfile(store.location.profilePath, "/data");
    // A name holding a comma cannot be told from two names; its UID can.
    EXPECT_EQ(back.calendarDesktop, (TDesktopSelection{true, {"Anna", "private"}}));
    EXPECT_FALSE(back.tasksDesktop.on);

    store.WriteProfile("[Calendar]\nSource=files\n");
    const TMailStoreProfile files = LoadProfile(store.location.profilePath, "/data");
    EXPECT_FALSE(files.calendarDesktop.on);
    EXPECT_EQ(files.problems.filter("[Calendar]").filter("is not known (desktop").size(), 1)
        << files.problems.join('\n').toStdString();
}

TEST(MailStoreSourceProfileTest, TheCacheFolderFollowsXdgCacheHome) {
    const QByteArray old = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", "/somewhere/cache");
    EXPECT_EQ(DefaultCacheFolder(), "/somewhere/cache/Amberfold/Ringpost");
    qputenv("XDG_CACHE_HOME", "relative/not/used");
    EXPECT_EQ(DefaultCacheFolder(), QDir::homePath() + "/.cache/Amberfold/Ringpost");
    qputenv("XDG_CACHE_HOME", old);
}

TEST(MailStoreSourceProfileTest, ASourcePasswordComesFromTheProfileOrItsCommand) {
    TSourceSettings source;
    source.url = "https://dav.example.org/cal/";
    source.password = "typed";
    EXPECT_EQ(ResolvePassword(source), "") << "no user, no password";
    source.user = "anna";
    EXPECT_EQ(ResolvePassword(source), "typed");
    source.password.clear();
    source.passwordCommand = "printf 'from command\\r\\nsecond line'";
    EXPECT_EQ(ResolvePassword(source), "from command");
    source.passwordCommand = "exit 3";
    EXPECT_THROW(ResolvePassword(source), EAutomationError);
    source.passwordCommand = "sleep 5";
    source.timeoutSeconds = 1;
    EXPECT_THROW(ResolvePassword(source), EAutomationError);
    EXPECT_EQ(KeyringAccount(source), "anna@dav.example.org");
}

} // namespace
