// SPDX-License-Identifier: GPL-3.0-or-later
#include "WizardFakes.h"

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>

namespace rp::test {
namespace {

struct PageShot {
    const char* file;
    TGenericFrame* (*page)(TNewAgentInstaller&);
};

const PageShot kPages[] = {
    {"wizard-1-introduction.png",
     [](TNewAgentInstaller& s) -> TGenericFrame* { return s.InitialPage(); }},
    {"wizard-2-carrier.png",
     [](TNewAgentInstaller& s) -> TGenericFrame* { return s.ProviderPage(); }},
    {"wizard-3-region.png", [](TNewAgentInstaller& s) -> TGenericFrame* { return s.RegionPage(); }},
    {"wizard-4-number.png", [](TNewAgentInstaller& s) -> TGenericFrame* { return s.NumberPage(); }},
    {"wizard-5-custom.png", [](TNewAgentInstaller& s) -> TGenericFrame* { return s.CustomPage(); }},
    {"wizard-6-meetings.png",
     [](TNewAgentInstaller& s) -> TGenericFrame* { return s.MeetingPage(); }},
    {"wizard-7-tasks.png", [](TNewAgentInstaller& s) -> TGenericFrame* { return s.TaskPage(); }},
};

// A text that needs more room than its widget has is cut off on screen.
void ExpectNothingClipped(TGenericFrame* page) {
    for (QLabel* label : page->findChildren<QLabel*>()) {
        if (!label->isVisible())
            continue;
        SCOPED_TRACE(label->text().toStdString());
        if (label->wordWrap())
            EXPECT_GE(label->height(), label->heightForWidth(label->width()));
        else
            EXPECT_GE(label->width(), label->sizeHint().width());
    }
    for (QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
        if (!button->isVisible() || button->text().isEmpty())
            continue;
        SCOPED_TRACE(button->text().toStdString());
        EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()));
        EXPECT_TRUE(
            page->rect().contains(QRect(button->mapTo(page, QPoint(0, 0)), button->size())));
    }
}

void ExpectMemoLinesUnwrapped(TAgentInitialFrame* intro) {
    const QPlainTextEdit* memo = intro->MessageMemo;
    EXPECT_EQ(memo->document()->lineCount(), memo->document()->blockCount());
}

TEST_F(WizardTest, EveryPageFitsItsTextsAndCanBeSavedAsAPicture) {
    owner.record.Pin = "5551234567";
    owner.record.CustomEmail = "5551234567@pager.example";
    owner.record.MeetingNotify = true;
    owner.record.TaskReminder = true;
    owner.record.TaskRemindPeriod = 2;
    // The longest line the window gives the last page on a first run.
    owner.desktopHint = "This desktop keeps 12 calendars and 10 task lists (GNOME, Evolution, "
                        "Online Accounts): Settings > Mail Store... can read them.";
    Open();
    // RINGPOST_WIZARD_SHOTS names a folder that receives a picture of each page.
    const QString shots = qEnvironmentVariable("RINGPOST_WIZARD_SHOTS");
    for (const PageShot& shot : kPages) {
        SCOPED_TRACE(shot.file);
        TGenericFrame* page = shot.page(Sequence());
        Sequence().ShowPage(page);
        QApplication::processEvents();
        ExpectNothingClipped(page);
        if (!shots.isEmpty()) {
            EXPECT_TRUE(Host()->grab().save(QDir(shots).filePath(shot.file)));
        }
    }
    ExpectMemoLinesUnwrapped(Sequence().InitialPage());
    EXPECT_TRUE(Sequence().TaskPage()->DesktopHint->isVisible());
}

} // namespace
} // namespace rp::test
