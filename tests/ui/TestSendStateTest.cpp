// SPDX-License-Identifier: GPL-3.0-or-later
// While Ctrl+Alt+S repeats the test message, the status bar says so and says how
// to stop it; the progress text keeps its place beside it.

#include "FormFixture.h"

#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

using namespace rp;
using namespace rp::uitest;

namespace {

class TestSendStateTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        WriteConfiguredStore();
        Start();
        form->ShowFromTray();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    void PressCtrlAltS() {
        QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier);
        QTest::qWait(20); // let the status bar lay itself out
    }

    QLabel* State() const { return form->findChild<QLabel*>(QStringLiteral("TestSendState")); }
    bool StateShown() const { return State() && State()->isVisible(); }
};

TEST_F(TestSendStateTest, TheStatusBarShowsTheRepetitionAndHowToStopItUntilItStops) {
    EXPECT_FALSE(StateShown()) << "nothing repeats yet";
    PressCtrlAltS();
    ASSERT_TRUE(form->TestSender->isActive());
    ASSERT_TRUE(StateShown());
    EXPECT_TRUE(State()->text().contains(QLatin1String("5 s"))) << State()->text().toStdString();
    EXPECT_TRUE(State()->text().contains(QLatin1String("Ctrl+Alt+S")));

    // The engine's progress texts go on beside it; neither hides the other, and
    // the state is never cut.
    form->SetStatusText(QLatin1String(TestSubject));
    QTest::qWait(20);
    EXPECT_TRUE(StateShown());
    EXPECT_EQ(form->StatusText(), QLatin1String(TestSubject));
    EXPECT_GE(State()->width(), State()->sizeHint().width());
    EXPECT_TRUE(form->statusBar()->rect().contains(State()->geometry()));

    PressCtrlAltS();
    EXPECT_FALSE(form->TestSender->isActive());
    EXPECT_FALSE(StateShown());
    PressCtrlAltS();
    EXPECT_TRUE(StateShown()) << "a second run shows it again";
}

TEST_F(TestSendStateTest, ARefusedCloseStopsTheRepetitionAndItsStateWithIt) {
    PressCtrlAltS();
    ASSERT_TRUE(StateShown());
    boxes->confirmAnswer = false;
    form->close();
    EXPECT_FALSE(form->TestSender->isActive());
    form->ShowFromTray();
    QTest::qWait(20);
    EXPECT_FALSE(StateShown()) << "the window must not claim a repetition that has ended";
}

} // namespace
