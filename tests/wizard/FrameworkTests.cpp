// SPDX-License-Identifier: GPL-3.0-or-later
#include "WizardFakes.h"

#include "wizard/FrameAgentImage.h"
#include "wizard/FrameAgentInitial.h"
#include "wizard/InstallerMain.h"
#include "wizard/StatusLine.h"

#include <QAction>
#include <QPlainTextEdit>

namespace rp::test {
namespace {

// --- Placement ---------------------------------------------------------------

TEST(HostPlacement, CentresOnAnOrdinaryScreen) {
    const QPoint at = HostPlacement(QSize(612, 413), {QRect(0, 0, 1280, 1024)});
    EXPECT_EQ(at, QPoint((1280 - 612) / 2, (1024 - 413) / 2));
}

TEST(HostPlacement, UsesTheLeftHalfOfAVeryWideScreen) {
    const QPoint at = HostPlacement(QSize(612, 413), {QRect(0, 0, 2560, 1024)});
    EXPECT_EQ(at, QPoint(2560 / 4 - 612 / 2, 1024 / 2 - 413 / 2));
}

TEST(HostPlacement, CentresOnTheFirstOfSeveralMonitors) {
    const QPoint at =
        HostPlacement(QSize(613, 415), {QRect(1920, 100, 1280, 1024), QRect(0, 0, 1920, 1080)});
    EXPECT_EQ(at, QPoint(1920 + 640 - 306, 100 + 512 - 207));
}

TEST(HostPlacement, ExactlyOnePointSevenIsNotWide) {
    const QPoint at = HostPlacement(QSize(100, 100), {QRect(0, 0, 1700, 1000)});
    EXPECT_EQ(at, QPoint(800, 450));
}

// --- Status line ---------------------------------------------------------------

TEST(StatusText, ErrorReportsAreRecognisedAnywhereInTheText) {
    EXPECT_TRUE(IsErrorStatus("*** ERROR disk full"));
    EXPECT_TRUE(IsErrorStatus("step 3 *** ERROR"));
    EXPECT_FALSE(IsErrorStatus("*** ERR"));
    EXPECT_EQ(ErrorBoxText("*** ERROR disk full"), "disk full");
    EXPECT_EQ(ErrorBoxText("0123456789*** ERROR"), "*** ERROR");
}

TEST(StatusText, ShortTextsAreDrawnWholeUnlessTheyStartWithTheErrorMark) {
    EXPECT_EQ(StatusDisplayText("Scanning calendar"), "Scanning calendar");
    EXPECT_EQ(StatusDisplayText("*** ERR123rest"), "rest");
    EXPECT_EQ(StatusDisplayText(""), "");
}

TEST(StatusText, LongTextsAreCutToTheirFirstSentence) {
    const QString tail(160, QLatin1Char('x'));
    EXPECT_EQ(StatusDisplayText("First part. " + tail), "First part. ");
    // Too short a first sentence, or none at all: the text after the prefix.
    EXPECT_EQ(StatusDisplayText("Ok. " + tail), ("Ok. " + tail).mid(10));
    EXPECT_EQ(StatusDisplayText(tail), tail.mid(10));
    // A single period at the very end keeps the text whole.
    EXPECT_EQ(StatusDisplayText(tail + "."), tail + ".");
    EXPECT_EQ(StatusDisplayText("a.b" + tail + "."), ("a.b" + tail + ".").mid(10));
    // 150 characters are not yet long.
    const QString exact(150, QLatin1Char('y'));
    EXPECT_EQ(StatusDisplayText(exact), exact);
}

TEST(StatusLine, AnErrorMarkBlinksRedAndOtherTextsStayNormal) {
    TStatusLine line;
    line.SetText("Connecting");
    for (int tick = 0; tick < 4; ++tick) {
        line.Tick();
        EXPECT_FALSE(line.IsRed());
    }
    line.SetText("*** ERR lost the connection");
    line.Tick();
    EXPECT_TRUE(line.IsRed());
    line.Tick();
    EXPECT_FALSE(line.IsRed());
    line.Tick();
    EXPECT_TRUE(line.IsRed());
    EXPECT_EQ(line.toolTip(), "*** ERR lost the connection");
}

TEST_F(WizardTest, AnErrorStatusBecomesABoxAndLeavesTheLineEmpty) {
    Open();
    Sequence().ShowStatus("Checking");
    EXPECT_EQ(Sequence().GetStatus(), "Checking");
    Sequence().ShowStatus("*** ERROR The carrier list is damaged");
    EXPECT_EQ(Sequence().GetStatus(), "");
    Sequence().ShowStatus("Found *** ERROR later");
    EXPECT_EQ(prompts.errors, QStringList({"The carrier list is damaged", "ERROR later"}));
}

// --- Host window and run -------------------------------------------------------

TEST_F(WizardTest, TheHostIsAFixedDialogWithPictureAndFirstPage) {
    Open();
    ASSERT_TRUE(wizard->IsOpen());
    EXPECT_EQ(Host()->windowTitle(), "Ringpost Configuration Wizard");
    EXPECT_TRUE(Host()->windowFlags() & Qt::Dialog);
    EXPECT_GE(Host()->width(), 612);
    EXPECT_GE(Host()->height(), 413);
    EXPECT_EQ(Host()->minimumSize(), Host()->maximumSize());
    EXPECT_EQ(Shown(), Sequence().InitialPage());
    EXPECT_FALSE(Shown()->BackButton->isVisible());
    EXPECT_TRUE(Shown()->NextButton->hasFocus());
    auto* picture = Host()->findChild<TImageFrame*>();
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->Image1().size(), QSize(142, 387));
}

TEST_F(WizardTest, ASecondRequestWhileOpenRaisesTheSameWindow) {
    Open();
    QWidget* first = Host();
    ClickNext();
    wizard->Show();
    EXPECT_EQ(Host(), first);
    EXPECT_EQ(Shown(), Sequence().ProviderPage());
    EXPECT_TRUE(first->isAncestorOf(Shown()));
}

TEST_F(WizardTest, CancelAnsweredNoChangesNothing) {
    ChooseCarrier(2);
    QTest::keyClicks(Sequence().NumberPage()->findChild<QLineEdit*>(), "555");
    const SettingsRecord before = owner.record;
    Click(Shown()->CancelButton);
    Host()->close();
    EXPECT_EQ(prompts.exitQuestions, 2);
    EXPECT_TRUE(wizard->IsOpen());
    EXPECT_EQ(Shown(), Frame(Sequence().NumberPage()));
    EXPECT_EQ(Sequence().NumberPage()->findChild<QLineEdit*>()->displayText(), "(555)___-____");
    EXPECT_EQ(owner.record.Service, before.Service);
    EXPECT_EQ(owner.reloadRequests, 0);
}

TEST_F(WizardTest, LeavingEarlyWithYesClosesAndAsksForAReload) {
    for (auto leave : {+[](WizardTest& t) { t.Click(t.Shown()->CancelButton); },
                       +[](WizardTest& t) { t.Host()->close(); }}) {
        Open();
        ClickNext();
        prompts.answerYes = true;
        leave(*this);
        EXPECT_FALSE(wizard->IsOpen());
    }
    EXPECT_EQ(prompts.exitQuestions, 2);
    EXPECT_EQ(owner.reloadRequests, 2);
    EXPECT_EQ(owner.saveRequests, 0);
}

TEST_F(WizardTest, PagesOutliveTheirHostAndAreReusedByTheNextRun) {
    Open();
    TGenericFrame* intro = Shown();
    prompts.answerYes = true;
    Host()->close();
    EXPECT_EQ(intro->parentWidget(), nullptr);
    Open();
    EXPECT_EQ(Shown(), intro);
    EXPECT_TRUE(Host()->isAncestorOf(intro));
    wizard.reset(); // destroying the host first must not take the pages with it
}

// --- Button row and Enter ------------------------------------------------------

TEST_F(WizardTest, EnterFollowsTheFocus) {
    ChooseCarrier(4); // number page, number empty
    PressEnter();
    EXPECT_EQ(Shown(), Frame(Sequence().NumberPage()));
    Shown()->BackButton->setFocus();
    PressEnter();
    EXPECT_EQ(Shown(), Frame(Sequence().ProviderPage()));
    Shown()->NextButton->setFocus();
    PressEnter();
    EXPECT_EQ(Shown(), Frame(Sequence().NumberPage()));
    Shown()->CancelButton->setFocus();
    prompts.answerYes = true;
    PressEnter();
    EXPECT_EQ(prompts.exitQuestions, 1);
    EXPECT_FALSE(wizard->IsOpen());
}

TEST_F(WizardTest, TheButtonRowRunsOneStepAtATime) {
    Open();
    ClickNext();
    TGenericFrame* carrier = Shown();
    bool rowEnabledDuringStep = true;
    owner.duringSetService = [&] {
        rowEnabledDuringStep = carrier->ButtonPanel->isEnabled();
        Click(carrier->NextButton);
        carrier->acNext->trigger();
        QTest::keyClick(Host(), Qt::Key_Return);
    };
    ClickNext();
    EXPECT_FALSE(rowEnabledDuringStep);
    EXPECT_EQ(Shown(), Frame(Sequence().NumberPage()));
    EXPECT_TRUE(carrier->ButtonPanel->isEnabled());
}

TEST_F(WizardTest, AFailingStepKeepsThePageAndReportsTheError) {
    Open();
    ClickNext();
    owner.duringSetService = [] { throw std::runtime_error("Store is read-only"); };
    ClickNext();
    EXPECT_EQ(Shown(), Frame(Sequence().ProviderPage()));
    EXPECT_TRUE(Shown()->ButtonPanel->isEnabled());
    EXPECT_EQ(prompts.errors, QStringList{"Store is read-only"});
    owner.duringSetService = nullptr;
    ClickNext();
    EXPECT_EQ(Shown(), Frame(Sequence().NumberPage()));
}

TEST_F(WizardTest, HelpButtonAppearsOnlyWithAHelpContext) {
    Open();
    TGenericFrame* page = Shown();
    EXPECT_FALSE(page->HelpButton->isVisible());
    page->SetHelpContext(31);
    ASSERT_TRUE(page->HelpButton->isVisible());
    Click(page->HelpButton);
    page->HelpButton->setFocus();
    PressEnter();
    EXPECT_EQ(owner.helpTopics, std::vector<int>({31, 31}));
    EXPECT_EQ(Shown(), page);
    page->SetHelpContext(0);
}

TEST_F(WizardTest, WithoutNextTheBackButtonTakesItsPlace) {
    Open();
    ClickNext();
    TGenericFrame* page = Shown();
    const int nextLeft = page->NextButton->geometry().left();
    page->acNext->setVisible(false);
    EXPECT_EQ(page->BackButton->geometry().left(), nextLeft);
    EXPECT_FALSE(page->NextButton->isVisible());
    page->acNext->setVisible(true);
}

TEST_F(WizardTest, TheIntroductionTextNeverKeepsTheFocus) {
    Open();
    auto* intro = Sequence().InitialPage();
    EXPECT_EQ(intro->MessageMemo->toPlainText().split('\n').mid(0, 9),
              IntroductionLines().mid(0, 9));
    EXPECT_TRUE(intro->MessageMemo->isReadOnly());
    EXPECT_EQ(intro->MessageMemo->contextMenuPolicy(), Qt::NoContextMenu);
    intro->CancelButton->setFocus();
    QTest::mouseClick(intro->MessageMemo->viewport(), Qt::LeftButton);
    EXPECT_TRUE(intro->NextButton->hasFocus());
}

} // namespace
} // namespace rp::test
