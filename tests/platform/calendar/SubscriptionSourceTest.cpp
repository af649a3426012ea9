// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/CalDavMirror.h"
#include "tests/platform/CalDavTestSupport.h"

using namespace rp::outlook;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

// A plain .ics address (what "secret address in iCal format" gives), served by
// a small HTTP server of the tests: no Debian package serves a lone file with
// ETags more plainly.
class SubscriptionSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteText(Feed(), EventText("s1", "Standup") + "");
        QByteArray tasks = TaskText("t1", "Water plants");
        WriteText(Feed(), EventText("s1", "Standup").replace("END:VCALENDAR\r\n", "") +
                              tasks.mid(tasks.indexOf("BEGIN:VTODO")));
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start("/usr/bin/python3", {DataDir() + "/ics_server.py", Feed(), Log()});
        while (!server.canReadLine() && server.waitForReadyRead(10000)) {
        }
        const QByteArray line = server.readLine().trimmed();
        ASSERT_TRUE(line.startsWith("READY ")) << line.toStdString();
        port = line.mid(6).toInt();
    }
    void TearDown() override {
        server.kill();
        server.waitForFinished(2000);
    }

    QString Feed() const { return dir.filePath("feed.ics"); }
    QString Log() const { return dir.filePath("requests.log"); }
    QStringList Requests() const {
        return QString::fromUtf8(ReadText(Log())).split('\n', Qt::SkipEmptyParts);
    }
    TSourceSettings Settings() const {
        TSourceSettings settings;
        settings.url = QStringLiteral("webcal://127.0.0.1:%1/feed.ics").arg(port);
        settings.url = NormalizedSourceUrl(settings.url).replace("https://", "http://");
        settings.timeoutSeconds = 5;
        return settings;
    }

    QTemporaryDir dir;
    QTemporaryDir cache;
    QProcess server;
    int port = 0;
};

TEST_F(SubscriptionSourceTest, ItIsFetchedAgainOnlyWhenItChangedAndItsTasksAreNeverWritten) {
    TStoreFixture store;
    store.location.cacheFolder = cache.path();
    store.location.pollSeconds = 0;
    const QByteArray source = "Url=" + Settings().url.toUtf8() + "\n";
    store.WriteProfile("[Calendar]\n" + source + "[Tasks]\n" + source);
    EXPECT_EQ(store.Folder(olFolderCalendar)->Items()->Count(), 1);
    auto task = ItemAs<TaskItem>(store.Folder(olFolderTasks)->Items()->Item(1));
    EXPECT_TRUE(task->IsRecurring());
    const QByteArray before = ReadText(Feed());
    EXPECT_FALSE(task->SkipRecurrence()) << "a subscription is read only";
    EXPECT_EQ(ReadText(Feed()), before);

    const int seen = static_cast<int>(Requests().size());
    EXPECT_EQ(store.Folder(olFolderCalendar)->Items()->Count(), 1);
    ASSERT_GT(Requests().size(), seen);
    EXPECT_TRUE(Requests().last().startsWith("GET 304")) << Requests().join(';').toStdString();

    WriteText(Feed(), EventText("s2", "Retro"));
    auto items = store.Folder(olFolderCalendar)->Items();
    ASSERT_EQ(items->Count(), 1);
    EXPECT_EQ(ItemAs<AppointmentItem>(items->Item(1))->Subject(), "Retro");
    EXPECT_EQ(store.Folder(olFolderTasks)->Items()->Count(), 0);
}

TEST_F(SubscriptionSourceTest, TheTestButtonNamesASubscriptionAndAPageThatIsNoCalendar) {
    EXPECT_EQ(ProbeCalendarSource(Settings(), "calendar"),
              "Found a calendar subscription (read only) with 1 events and 1 tasks.");
    WriteText(Feed(), "<html>Sign in</html>");
    TSourceSettings other = Settings();
    other.url += "?again";
    EXPECT_TRUE(ProbeCalendarSource(other, "calendar").contains("no calendar data"));
}

} // namespace
