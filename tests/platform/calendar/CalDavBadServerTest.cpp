// SPDX-License-Identifier: GPL-3.0-or-later
// A calendar source against servers Radicale cannot imitate: what the "Test"
// button and the status bar say, and that the last good copy is never harmed.

#include "platform/calendar/CalDavMirror.h"
#include "tests/platform/BadCalendarServer.h"

using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

class CalDavBadServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.Ready())
            GTEST_SKIP() << "python3 or openssl is not available";
    }

    TSourceSettings Settings(const QUrl& url) const {
        TSourceSettings settings;
        settings.url = url.toString();
        settings.user = QStringLiteral("anna");
        settings.password = QStringLiteral("never-shown");
        settings.caFile = server.Authority();
        settings.timeoutSeconds = 1;
        return settings;
    }

    TBadCalendarServer server;
    QTemporaryDir cache;
};

TEST_F(CalDavBadServerTest, TheTestButtonNamesWhatIsWrongWithTheServer) {
    const auto probe = [this](const QUrl& url) {
        return ProbeCalendarSource(Settings(url), QStringLiteral("calendar"));
    };
    const QString cut = probe(server.Good("/bad-xml/"));
    EXPECT_TRUE(cut.startsWith("Not working: ")) << cut.toStdString();
    EXPECT_TRUE(cut.contains("malformed answer")) << cut.toStdString();
    const QString notXml = probe(server.Good("/not-xml/"));
    EXPECT_TRUE(notXml.contains("not WebDAV")) << notXml.toStdString();
    EXPECT_TRUE(probe(server.Good("/missing/")).contains("Nothing was found"));
    EXPECT_TRUE(probe(server.Good("/huge")).contains("more than 64 MB"));
    EXPECT_TRUE(probe(server.Expired("/bad-xml/")).contains("has expired"));
    EXPECT_TRUE(probe(server.Good("/redirect/9")).contains("redirected too many times"));
    // Redirects within the limit still find a plain .ics address.
    EXPECT_TRUE(probe(server.Good("/redirect/0")).startsWith("Found a calendar subscription"));
}

TEST_F(CalDavBadServerTest, ACutOrWrongAnswerKeepsTheLastCopyAndIsToldAsWhatItIs) {
    QStringList told;
    TCalDavMirror mirror(Settings(server.Plain("/flaky")), QStringLiteral("calendar"), cache.path(),
                         0, [&told](const QString& text) { told << text; });
    ASSERT_EQ(mirror.SyncNow(), "");
    const TSourceCache& copy = *mirror.Cache();
    ASSERT_EQ(copy.Items().size(), 1u);
    const QByteArray whole = copy.Text("subscription");
    ASSERT_TRUE(whole.contains("END:VCALENDAR"));

    // Half the calendar, then the connection closes.
    EXPECT_TRUE(mirror.SyncNow().contains("broke off"));
    EXPECT_EQ(copy.Text("subscription"), whole);
    ASSERT_FALSE(told.isEmpty());
    EXPECT_TRUE(told.last().startsWith("Calendar server unreachable since "))
        << told.last().toStdString();

    // A log-in page instead of the calendar: the server answers, so it is not unreachable.
    EXPECT_TRUE(mirror.SyncNow().contains("gives no calendar data"));
    EXPECT_EQ(copy.Text("subscription"), whole);
    EXPECT_EQ(mirror.Trouble(), TSyncTrouble::Other);
    EXPECT_TRUE(told.last().startsWith("Calendar not read since ")) << told.last().toStdString();
    EXPECT_TRUE(told.last().contains("The last good copy is used."));
    EXPECT_FALSE(told.join('\n').contains("never-shown"));
}

TEST_F(CalDavBadServerTest, ACollectionTooBigForOneAnswerComesInBatches) {
    TCalDavMirror mirror(Settings(server.Good("/batched/")), QStringLiteral("calendar"),
                         cache.path(), 0);
    ASSERT_EQ(mirror.SyncNow(), "");
    // Found, listed with the data (too big), listed without it, fetched.
    EXPECT_EQ(mirror.RequestCount(), 4);
    const TSourceCache& copy = *mirror.Cache();
    ASSERT_EQ(copy.Items().size(), 1u);
    EXPECT_TRUE(copy.Text(copy.Items().begin()->first).contains("SUMMARY:fetched in a batch"));
}

} // namespace
