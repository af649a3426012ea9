// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/CalDavXml.h"
#include "tests/platform/MailStoreTestSupport.h"

using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

QByteArray Sample(const char* name = "sync.xml") {
    return ReadText(QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                    "/../../fuzz/corpus/fuzz_dav_multistatus/" + name);
}

TEST(CalDavXmlTest, AMultistatusGivesHrefsEtagsDataDeletionsAndTheNewToken) {
    const QByteArray sample = Sample();
    ASSERT_FALSE(sample.isEmpty());
    const TMultistatus status = ParseMultistatus(sample);
    ASSERT_TRUE(status.ok) << status.error.toStdString();
    ASSERT_EQ(status.resources.size(), 3u);
    EXPECT_TRUE(status.resources[0].isCalendar);
    EXPECT_TRUE(status.resources[0].isCollection);
    EXPECT_EQ(status.resources[0].ctag, "\"x\"");
    EXPECT_EQ(status.resources[1].href, "/anna/cal/a b.ics");
    EXPECT_EQ(status.resources[1].etag, "\"e1\"");
    EXPECT_TRUE(status.resources[1].calendarData.startsWith("BEGIN:VCALENDAR\n"));
    EXPECT_EQ(status.resources[2].status, 404);
    EXPECT_EQ(status.syncToken, "http://radicale.org/ns/sync/def");
}

// As Nextcloud answers for the logged-in user: mailto addresses and the
// principal's own path, percent-decoded.
TEST(CalDavXmlTest, APrincipalGivesItselfAndTheUsersCalendarAddresses) {
    const TMultistatus status = ParseMultistatus(Sample("principal.xml"));
    ASSERT_TRUE(status.ok) << status.error.toStdString();
    ASSERT_EQ(status.resources.size(), 1u);
    EXPECT_EQ(status.resources[0].principal, "/remote.php/dav/principals/users/anna/");
    EXPECT_EQ(status.resources[0].userAddresses,
              QStringList({"mailto:Anna.Smith@example.org", "mailto:anna+cal@example.org",
                           "/remote.php/dav/principals/users/anna/"}));
    EXPECT_EQ(CalendarAddress("mailto:Anna.Smith@example.org"), "anna.smith@example.org");
    EXPECT_EQ(CalendarAddress(" Anna Smith <Anna.Smith@Example.org> "), "anna.smith@example.org");
}

TEST(CalDavXmlTest, BrokenOrForeignAnswersKeepNothing) {
    QByteArray cut = Sample();
    cut.chop(40);
    for (const QByteArray& text : {cut, QByteArray("<html><body>Login</body></html>"),
                                   QByteArray("BEGIN:VCALENDAR"), QByteArray()}) {
        const TMultistatus status = ParseMultistatus(text);
        EXPECT_FALSE(status.ok) << text.left(40).toStdString();
        EXPECT_TRUE(status.resources.empty());
        EXPECT_FALSE(status.error.isEmpty());
    }
    // A failed property (404 propstat) is not taken for a value.
    const TMultistatus partial = ParseMultistatus(
        "<d:multistatus xmlns:d=\"DAV:\"><d:response><d:href>/c/</d:href>"
        "<d:propstat><d:prop><d:getetag>\"bogus\"</d:getetag></d:prop>"
        "<d:status>HTTP/1.1 404 Not Found</d:status></d:propstat></d:response></d:multistatus>");
    ASSERT_TRUE(partial.ok);
    ASSERT_EQ(partial.resources.size(), 1u);
    EXPECT_TRUE(partial.resources[0].etag.isEmpty());
}

} // namespace
