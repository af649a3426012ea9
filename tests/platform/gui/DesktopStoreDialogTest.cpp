// SPDX-License-Identifier: GPL-3.0-or-later
// The Mail Store dialog over the desktop's own store: Debian's
// evolution-data-server on a private bus, started as the store's tests start it.

#include "platform/gui/MailStoreEditor.h"
#include "platform/mailstore/MailStoreFactory.h"
#include "tests/platform/DesktopStoreTestSupport.h"
#include "tests/platform/MailStoreTestSupport.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

using namespace rp::mailstore;
using namespace rp::mailstore::testing;

namespace {

class DesktopStoreDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!server.Usable())
            GTEST_SKIP() << "evolution-data-server or dbus-daemon is not installed";
    }
    std::unique_ptr<TMailStoreEditor> Open() {
        auto editor = std::make_unique<TMailStoreEditor>(
            profile, dir.filePath("store"), nullptr,
            [](const QString&, const QString&, QString*) { return true; },
            [this](QWidget*, const QString& text) { notices << text; });
        const auto* status = editor->findChild<QLabel*>("calendarDesktopStatus");
        for (QDeadlineTimer limit(20000);
             status->text().startsWith("Asking") && !limit.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return editor;
    }
    static QListWidgetItem* Item(TMailStoreEditor& editor, const char* kind, const QString& uid) {
        auto* list = editor.findChild<QListWidget*>(QString(kind) + "DesktopList");
        for (int row = 0; row < list->count(); ++row)
            if (list->item(row)->toolTip() == uid)
                return list->item(row);
        ADD_FAILURE() << "no line for " << uid.toStdString();
        return new QListWidgetItem(list);
    }
    static QString Tested(TMailStoreEditor& editor, const char* kind) {
        auto* result = editor.findChild<QLabel*>(QString(kind) + "DesktopTestResult");
        editor.findChild<QPushButton*>(QString(kind) + "DesktopTest")->click();
        for (QDeadlineTimer limit(20000); result->text() == "Testing..." && !limit.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return result->text();
    }

    TDesktopStoreServer server;
    QTemporaryDir dir;
    QString profile = dir.filePath("MailStore.ini");
    QStringList notices;
};

TEST_F(DesktopStoreDialogTest, ListsTheDesktopsCalendarsWithTheirAccountsTicksAndTestsThem) {
    const QByteArray meeting = Event("m1", ":20300320T090000Z", "Review", "Room 1");
    server.AddLocalSource(TDesktopKind::Calendar, "ringpost-work", "Work",
                          meeting + Event("m2", ":20300321T090000Z", "Plan", "Room 2"));
    server.AddLocalSource(TDesktopKind::Calendar, "ringpost-family", "Family", meeting);
    server.AddLocalSource(TDesktopKind::Calendar, "ringpost-family-2", "family");
    server.AddLocalSource(TDesktopKind::Calendar, "ringpost-old", "Old", meeting, false);
    server.AddLocalSource(TDesktopKind::Tasks, "ringpost-chores", "Chores",
                          Task("t1", "DUE;VALUE=DATE:20300320\r\n", "File report"));
    WriteText(profile, "[Calendar]\nSource=desktop:Work\n");

    // No store on this desktop: said in plain words, and the profile's choice is kept.
    {
        const auto editor = Open();
        EXPECT_TRUE(editor->findChild<QLabel*>("calendarDesktopStatus")
                        ->text()
                        .startsWith("There is no calendar store on this desktop"));
        EXPECT_TRUE(Tested(*editor, "calendar").startsWith("There is no calendar store"));
        ASSERT_TRUE(editor->Save());
        EXPECT_EQ(LoadProfile(profile, "/data").calendarDesktop,
                  (TDesktopSelection{true, {"Work"}}));
    }
    ASSERT_TRUE(server.Start());
    const rp::TDesktopOffer offer = rp::DesktopCalendarsOnOffer(dir.filePath("none.ini"));
    EXPECT_TRUE(offer.calendars.contains("Work") && offer.calendars.contains("Family"));
    EXPECT_FALSE(offer.calendars.contains("Old")) << "switched off";
    EXPECT_TRUE(offer.taskLists.contains("Chores"));

    const auto editor = Open();
    EXPECT_EQ(Item(*editor, "calendar", "ringpost-work")->text(), "Work \u2014 On This Computer");
    EXPECT_EQ(Item(*editor, "calendar", "ringpost-work")->checkState(), Qt::Checked);
    EXPECT_EQ(Item(*editor, "calendar", "ringpost-family")->checkState(), Qt::Unchecked);
    EXPECT_EQ(Item(*editor, "calendar", "ringpost-old")->text(),
              "Old \u2014 On This Computer (switched off)");
    EXPECT_TRUE(editor->findChild<QRadioButton*>("calendarDesktopTicked")->isChecked());
    EXPECT_FALSE(editor->findChild<QLineEdit*>("calendarUrl")->isEnabled()) << "unused now";
    EXPECT_EQ(Tested(*editor, "calendar"), "Found 2 events: 2 in \"Work\" (On This Computer).");
    Item(*editor, "calendar", "ringpost-old")->setCheckState(Qt::Checked);
    EXPECT_TRUE(Tested(*editor, "calendar")
                    .endsWith("The calendar \"Old\" is switched off in the desktop's store."));
    Item(*editor, "calendar", "ringpost-old")->setCheckState(Qt::Unchecked);
    Item(*editor, "calendar", "ringpost-family")->setCheckState(Qt::Checked);

    // The task lists, every one switched on; ticking none of them is not saved.
    editor->findChild<QGroupBox*>("tasksDesktop")->setChecked(true);
    editor->findChild<QRadioButton*>("tasksDesktopTicked")->setChecked(true);
    auto* taskLists = editor->findChild<QListWidget*>("tasksDesktopList");
    for (int row = 0; row < taskLists->count(); ++row)
        taskLists->item(row)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(editor->Save());
    EXPECT_TRUE(notices.last().startsWith("Tick at least one task list"))
        << notices.last().toStdString();
    editor->findChild<QRadioButton*>("tasksDesktopEvery")->setChecked(true);
    EXPECT_EQ(Item(*editor, "tasks", "ringpost-chores")->checkState(), Qt::Checked);
    EXPECT_TRUE(Tested(*editor, "tasks").contains("1 in \"Chores\" (On This Computer)"));
    ASSERT_TRUE(editor->Save());

    // Two calendars called Family: the one ticked is named by its UID.
    const TMailStoreProfile saved = LoadProfile(profile, "/data");
    QStringList names = saved.calendarDesktop.names;
    names.sort();
    EXPECT_EQ(names, (QStringList{"Work", "ringpost-family"}));
    EXPECT_EQ(saved.tasksDesktop, (TDesktopSelection{true, {}}));
    EXPECT_TRUE(rp::DesktopCalendarsOnOffer(profile).Empty()) << "a profile exists";
}

} // namespace
