// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/CalDavMirror.h"

#include "tests/platform/CalDavTestSupport.h"
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <sys/stat.h>

using namespace rp::outlook;
using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

class CalDavSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.ready)
            GTEST_SKIP() << "Radicale or openssl is not available";
        ASSERT_TRUE(server.Other("PUT", "meeting.ics", EventText("m1", "Review")).Ok());
        ASSERT_TRUE(server.Other("PUT", "backup.ics", TaskText("t1", "Backup")).Ok());
    }

    // The store as the engine opens it: calendar and tasks from one collection.
    std::unique_ptr<TStoreFixture> OpenStore(const QString& password = TRadicale::kPassword) {
        auto store = std::make_unique<TStoreFixture>();
        store->location.cacheFolder = cache.path();
        store->location.pollSeconds = 0;
        store->location.status = [this](const QString& text) { statusTexts << text; };
        const QByteArray source = "Url=" + server.Url().toUtf8() + "\nUser=anna\nPassword=\"" +
                                  password.toUtf8() + "\"\nCAFile=" + server.CaFile().toUtf8() +
                                  "\nTimeoutSeconds=5\n";
        store->WriteProfile("[Calendar]\n" + source + "[Tasks]\n" + source);
        return store;
    }

    std::shared_ptr<TaskItem> FirstTask(TStoreFixture& store) {
        return ItemAs<TaskItem>(store.Folder(olFolderTasks)->Items()->Item(1));
    }

    TRadicale server;
    QTemporaryDir cache;
    QStringList statusTexts;
};

TEST_F(CalDavSourceTest, EventsAndTasksComeFromOneCollectionAndChangesArriveOnTheNextPoll) {
    auto store = OpenStore();
    EXPECT_EQ(store->Folder(olFolderCalendar)->Items()->Count(), 1);
    ASSERT_EQ(store->Folder(olFolderTasks)->Items()->Count(), 1);
    EXPECT_EQ(FirstTask(*store)->Subject(), "Backup");

    ASSERT_TRUE(server.Other("PUT", "second.ics", EventText("m2", "Planning")).Ok());
    ASSERT_TRUE(server.Other("DELETE", "meeting.ics").Ok());
    auto items = store->Folder(olFolderCalendar)->Items();
    ASSERT_EQ(items->Count(), 1);
    EXPECT_EQ(ItemAs<AppointmentItem>(items->Item(1))->Subject(), "Planning");
    EXPECT_TRUE(statusTexts.isEmpty()) << statusTexts.join('\n').toStdString();

    // Every cached file is the user's alone.
    QDirIterator files(cache.path(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext())
        EXPECT_FALSE(QFileInfo(files.next()).permissions() & (QFile::ReadGroup | QFile::ReadOther))
            << files.filePath().toStdString();
}

TEST_F(CalDavSourceTest, ASteadyPollIsOneRequestAndWritesNothing) {
    TCalDavMirror mirror(server.Settings(), "calendar", cache.path(), 0);
    ASSERT_EQ(mirror.SyncNow(), "");
    const int before = mirror.RequestCount();
    const TFileStamp stamp = StampOf(mirror.Cache()->Path());
    ASSERT_EQ(mirror.SyncNow(), "");
    EXPECT_EQ(mirror.RequestCount() - before, 1);
    EXPECT_EQ(StampOf(mirror.Cache()->Path()), stamp);

    TCalDavMirror rarely(server.Settings(), "calendar", cache.path(), 300);
    rarely.SyncIfDue();
    rarely.SyncIfDue();
    EXPECT_EQ(rarely.RequestCount(), 1) << "the server is asked every few minutes only";
}

TEST_F(CalDavSourceTest, AFirstLoadIsTwoRequestsWhateverTheCollectionsSize) {
    for (int i = 0; i < 150; ++i) // more than one batch of fetches
        WriteText(server.CollectionFolder() + QStringLiteral("/bulk-%1.ics").arg(i),
                  EventText("bulk-" + QByteArray::number(i), "Bulk " + QByteArray::number(i)));
    TSourceSettings patient = server.Settings();
    patient.timeoutSeconds = 60; // Radicale reads 152 files first, slowly on a busy machine
    TCalDavMirror mirror(patient, "calendar", cache.path(), 0);
    ASSERT_EQ(mirror.SyncNow(), "");
    EXPECT_EQ(mirror.RequestCount(), 2) << "found, then listed with the data";
    EXPECT_EQ(mirror.Cache()->Items().size(), 152u);
}

// Radicale keeps no e-mail addresses: the principal's calendar user address is
// its own path. The calendar asks for them after a good sync, and only once.
TEST_F(CalDavSourceTest, TheUsersAddressesAreThePrincipalsAskedOnceAfterASync) {
    TCalDavMirror mirror(server.Settings(), "calendar", cache.path(), 0);
    EXPECT_TRUE(mirror.UserAddresses().empty());
    EXPECT_EQ(mirror.RequestCount(), 0) << "nothing is asked before a sync";
    ASSERT_EQ(mirror.SyncNow(), "");
    const int before = mirror.RequestCount();
    EXPECT_EQ(mirror.UserAddresses(), TUserAddresses{"/anna/"});
    EXPECT_EQ(mirror.UserAddresses(), TUserAddresses{"/anna/"});
    EXPECT_EQ(mirror.RequestCount() - before, 2) << "who is logged in, then their addresses";
}

// Earlier versions kept a folder of item files named by a state.json. The first
// start takes it over: a task moved on there and not yet written back still goes
// to the server, an item a crash left empty is fetched again, and a file the
// state does not name (a sync cut short) is not taken.
TEST_F(CalDavSourceTest, AnOldCacheFolderIsTakenOverWithNothingLost) {
    const QString copyPath = TCalDavMirror::CopyPathFor(server.Settings(), cache.path());
    const QString folder = copyPath.chopped(QStringLiteral(".cache").size());
    const auto hashOf = [](const QByteArray& bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
    };
    {
        TCalDavMirror mirror(server.Settings(), "calendar", cache.path(), 0);
        ASSERT_EQ(mirror.SyncNow(), "");
        const TSourceCache& copy = *mirror.Cache();
        QJsonObject items;
        for (const auto& [href, item] : copy.Items()) {
            const QByteArray text = copy.Text(href);
            QByteArray onDisk = text;
            if (href.endsWith("backup.ics")) // moved on here, not yet written back
                onDisk.replace("DUE:20240301T100000Z", "DUE:20240305T100000Z");
            else
                onDisk.clear(); // not yet flushed when the crash came
            WriteText(folder + "/items/" + hashOf(href.toUtf8()).left(24) + ".ics", onDisk);
            items.insert(href, QJsonObject{{"etag", QString::fromUtf8(item.etag)},
                                           {"hash", QString::fromUtf8(hashOf(text))}});
        }
        WriteText(folder + "/items/0123456789abcdef01234567.ics", EventText("gone", "Cancelled"));
        const QJsonObject state{{"url", server.Url()},
                                {"kind", "caldav"},
                                {"syncToken", QString::fromUtf8(copy.State("syncToken"))},
                                {"items", items}};
        WriteText(folder + "/state.json", QJsonDocument(state).toJson());
    }
    ASSERT_TRUE(QFile::remove(copyPath));

    auto store = OpenStore();
    auto events = store->Folder(olFolderCalendar)->Items();
    ASSERT_EQ(events->Count(), 1);
    EXPECT_EQ(ItemAs<AppointmentItem>(events->Item(1))->Subject(), "Review");
    EXPECT_TRUE(server.Other("GET", "backup.ics").body.contains("DUE:20240305T100000Z"))
        << "the change made before the update is written back";
    EXPECT_FALSE(QFileInfo::exists(folder));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(copyPath).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_TRUE(statusTexts.isEmpty()) << statusTexts.join('\n').toStdString();
}

TEST_F(CalDavSourceTest, MovingATaskOnWritesItBackUnlessAnotherProgramChangedItMeanwhile) {
    auto store = OpenStore();
    ASSERT_TRUE(FirstTask(*store)->SkipRecurrence());
    EXPECT_EQ(store->Folder(olFolderTasks)->Items()->Count(), 1);
    EXPECT_TRUE(server.Other("GET", "backup.ics").body.contains("DUE:20240302T100000Z"));

    // Another program renames the task after Ringpost read it; Ringpost's next
    // move is made on its older copy and must not overwrite the rename.
    auto task = FirstTask(*store);
    ASSERT_EQ(task->Subject(), "Backup");
    ASSERT_TRUE(server.Other("PUT", "backup.ics", TaskText("t1", "Backup renamed")).Ok());
    ASSERT_TRUE(task->SkipRecurrence());
    const QByteArray onServer = server.Other("GET", "backup.ics").body;
    EXPECT_TRUE(onServer.contains("SUMMARY:Backup renamed"));
    EXPECT_EQ(FirstTask(*store)->Subject(), "Backup renamed") << "the server's version is read";
    EXPECT_TRUE(statusTexts.join('\n').contains("changed in another program"))
        << statusTexts.join('\n').toStdString();
}

TEST_F(CalDavSourceTest, AStoppedServerLeavesTheLastCopyAndAStartWithoutNetworkRemindsIt) {
    {
        auto store = OpenStore();
        ASSERT_EQ(store->Folder(olFolderCalendar)->Items()->Count(), 1);
        server.Stop();
        EXPECT_EQ(store->Folder(olFolderCalendar)->Items()->Count(), 1);
        ASSERT_FALSE(statusTexts.isEmpty());
        EXPECT_TRUE(statusTexts.last().contains("unreachable since"));
        EXPECT_FALSE(statusTexts.last().contains(TRadicale::kPassword));
    }
    auto offline = OpenStore();
    EXPECT_EQ(offline->Folder(olFolderCalendar)->Items()->Count(), 1);
    EXPECT_EQ(offline->Folder(olFolderTasks)->Items()->Count(), 1);

    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.Other("PUT", "second.ics", EventText("m2", "Planning")).Ok());
    EXPECT_EQ(offline->Folder(olFolderCalendar)->Items()->Count(), 2);
    EXPECT_TRUE(statusTexts.last().contains("reachable again"));
}

TEST_F(CalDavSourceTest, AWrongPasswordIsToldAsALoginProblemAndTheCopyStillServes) {
    {
        auto store = OpenStore();
        ASSERT_EQ(store->Folder(olFolderCalendar)->Items()->Count(), 1);
    }
    // The password changed on the server; the profile still has the old one.
    auto refused = OpenStore("an old password");
    EXPECT_EQ(refused->Folder(olFolderCalendar)->Items()->Count(), 1);
    EXPECT_EQ(refused->Folder(olFolderTasks)->Items()->Count(), 1);
    ASSERT_FALSE(statusTexts.isEmpty());
    const QString said = statusTexts.last();
    EXPECT_TRUE(said.contains("refused the user name or password")) << said.toStdString();
    EXPECT_FALSE(said.contains("unreachable")) << said.toStdString();
    EXPECT_TRUE(said.contains("The last good copy is used."));
    EXPECT_FALSE(said.contains("an old password"));
}

TEST_F(CalDavSourceTest, BadSettingsAreToldInWordsAUserUnderstands) {
    TSourceSettings settings = server.Settings();
    EXPECT_EQ(ProbeCalendarSource(settings, "calendar"),
              "Found a CalDAV collection with 1 events and 1 tasks.");
    settings.password = "wrong";
    EXPECT_TRUE(ProbeCalendarSource(settings, "calendar").contains("user name or password"));
    settings = server.Settings();
    settings.caFile.clear();
    const QString untrusted = ProbeCalendarSource(settings, "calendar");
    EXPECT_TRUE(untrusted.contains("not trusted")) << untrusted.toStdString();
    settings = server.Settings();
    settings.url = server.Url() + "../nothing-here/";
    EXPECT_TRUE(ProbeCalendarSource(settings, "calendar").contains("Nothing was found"));
    settings.url = QStringLiteral("https://127.0.0.1:%1/").arg(FreeLoopbackPort());
    EXPECT_TRUE(ProbeCalendarSource(settings, "calendar").contains("could not be reached"));
}

} // namespace
