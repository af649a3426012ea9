// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/calendar/SourceCache.h"
#include "engine/OutlookModel.h"
#include "platform/common/Files.h"
#include "tests/platform/MailStoreTestSupport.h"
#include "tests/reliability/FileSizeLimit.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

QByteArray Event(const QByteArray& name, int size = 40) {
    return "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nSUMMARY:" + name + ' ' + QByteArray(size, 'x') +
           "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

class SourceCacheTest : public ::testing::Test {
protected:
    QString Path() const { return folder.filePath("source.cache"); }

    // A copy with three items from the source, one of them changed here since.
    void SaveThree() {
        TSourceCache cache(Path());
        cache.Put("/cal/a.ics", "\"a1\"", Event("a"));
        cache.Put("/cal/b.ics", "\"b1\"", Event("b"));
        cache.Put("/cal/c.ics", "\"c1\"", Event("c"));
        cache.ChangeHere("/cal/b.ics", Event("b moved on"));
        cache.SetState("syncToken", "http://example.org/sync/1");
        cache.Save();
    }

    QTemporaryDir folder;
};

TEST_F(SourceCacheTest, ItemsStateAndChangesMadeHereComeBackAndOnlyAChangeIsWritten) {
    SaveThree();
    TSourceCache cache(Path());
    ASSERT_TRUE(cache.WasRead());
    ASSERT_EQ(cache.Items().size(), 3u);
    EXPECT_EQ(cache.Find("/cal/a.ics")->etag, "\"a1\"");
    EXPECT_FALSE(cache.Find("/cal/a.ics")->changedHere);
    EXPECT_EQ(cache.Find("/cal/b.ics")->etag, "\"b1\"") << "the version the change was made from";
    EXPECT_TRUE(cache.Find("/cal/b.ics")->changedHere);
    EXPECT_EQ(cache.Text("/cal/b.ics"), Event("b moved on"));
    EXPECT_EQ(cache.State("syncToken"), "http://example.org/sync/1");

    const TFileStamp unchanged = StampOf(Path());
    cache.SetState("syncToken", "http://example.org/sync/1");
    cache.Save();
    EXPECT_EQ(StampOf(Path()), unchanged) << "nothing changed, nothing written";

    // One sync's worth of changes: the other texts are carried over from the file.
    const uint64_t revisionOfA = cache.Find("/cal/a.ics")->revision;
    cache.WrittenBack("/cal/b.ics", "\"b2\"");
    cache.Put("/cal/c.ics", "\"c2\"", Event("c", 5000));
    cache.Remove("/cal/d.ics");
    cache.Put("/cal/d.ics", "\"d1\"", Event("d"));
    cache.Remove("/cal/d.ics");
    cache.Save();
    EXPECT_EQ(cache.Find("/cal/a.ics")->revision, revisionOfA) << "nothing to parse again";
    TSourceCache again(Path());
    ASSERT_EQ(again.Items().size(), 3u);
    EXPECT_EQ(again.Text("/cal/a.ics"), Event("a"));
    EXPECT_EQ(again.Text("/cal/b.ics"), Event("b moved on"));
    EXPECT_EQ(again.Find("/cal/b.ics")->etag, "\"b2\"");
    EXPECT_FALSE(again.Find("/cal/b.ics")->changedHere);
    EXPECT_EQ(again.Text("/cal/c.ics"), Event("c", 5000));
    EXPECT_EQ(again.Find("/cal/c.ics")->etag, "\"c2\"");
}

TEST_F(SourceCacheTest, ADamagedCopyStartsEmptyAndIsWrittenWholeAgain) {
    SaveThree();
    const QByteArray whole = ReadText(Path());
    const QByteArray damaged[] = {
        whole.left(whole.size() / 2),                           // cut in a text
        whole.left(whole.lastIndexOf("end ")),                  // cut before its last line
        QByteArray(whole).replace("end 3", "end 4"),            // a count that does not fit
        QByteArray(whole).replace("item 10 4", "item 10 4000"), // a length past the end
        "not a copy at all\n",
        {}};
    for (const QByteArray& bytes : damaged) {
        WriteText(Path(), bytes);
        TSourceCache cache(Path());
        EXPECT_FALSE(cache.WasRead()) << bytes.left(60).toStdString();
        EXPECT_TRUE(cache.Items().empty());
        cache.Put("/cal/a.ics", "\"a1\"", Event("a"));
        cache.Save();
        TSourceCache again(Path());
        EXPECT_TRUE(again.WasRead());
        EXPECT_EQ(again.Text("/cal/a.ics"), Event("a"));
    }
}

TEST_F(SourceCacheTest, ASaveThatCannotBeWrittenKeepsTheChangesAndTheLastCopy) {
    SaveThree();
    const QByteArray before = ReadText(Path());
    TSourceCache cache(Path());
    cache.Put("/cal/a.ics", "\"a2\"", Event("a", 100000));
    {
        const rp::test::FileSizeLimit limit(before.size() + 1000);
        try {
            cache.Save();
            FAIL() << "a save past the size limit went through";
        } catch (const rp::outlook::EAutomationError& error) {
            EXPECT_EQ(error.Message(), "Cannot write \"" + Path() + "\": File too large");
        }
    }
    EXPECT_EQ(ReadText(Path()), before);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{"source.cache"});
    EXPECT_TRUE(cache.Unsaved());
    EXPECT_EQ(cache.Text("/cal/a.ics"), Event("a", 100000));
    cache.Save();
    EXPECT_EQ(TSourceCache(Path()).Text("/cal/a.ics"), Event("a", 100000));
    EXPECT_EQ(TSourceCache(Path()).Text("/cal/c.ics"), Event("c"));
}

} // namespace
