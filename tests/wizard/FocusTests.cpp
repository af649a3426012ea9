// SPDX-License-Identifier: GPL-3.0-or-later
// Where the keyboard focus lands when a page is shown, first and again: Return must
// go on where it can, and typing must reach the page's field.

#include "WizardFakes.h"

namespace rp::test {
namespace {

class FocusTest : public WizardTest {
public:
    TServiceProvider* Carrier() { return Sequence().ProviderPage(); }
    TCinglarServiceSelect* Region() { return Sequence().RegionPage(); }
    TPersonnelConfig* Number() { return Sequence().NumberPage(); }
    TCustomService* Custom() { return Sequence().CustomPage(); }

    // Leaves the run as a confirmed Cancel does; the pages stay for the next run.
    void Abandon() {
        prompts.answerYes = true;
        Host()->close();
        Settle();
        prompts.answerYes = false;
    }
};

TEST_F(FocusTest, TheCarrierPageShownAgainKeepsNextFocusedSoReturnGoesOn) {
    ChooseCarrier(kSprint);
    ASSERT_EQ(Shown(), Frame(Number()));
    ClickBack();
    ASSERT_EQ(Shown(), Frame(Carrier()));
    EXPECT_TRUE(Carrier()->NextButton->hasFocus());
    Key(Qt::Key_Return);
    EXPECT_EQ(Shown(), Frame(Number()));

    // A later run (F5) reaches the same page object once more.
    Abandon();
    Open();
    Key(Qt::Key_Return);
    ASSERT_EQ(Shown(), Frame(Carrier()));
    EXPECT_TRUE(Carrier()->NextButton->hasFocus());
    Key(Qt::Key_Return);
    EXPECT_EQ(Shown(), Frame(Number()));
    EXPECT_EQ(prompts.exitQuestions, 1); // only the Abandon's own question
}

TEST_F(FocusTest, TheRegionPageShownAgainNeverLeavesTheFocusOnCancel) {
    ChooseCarrier(kCingular);
    ASSERT_EQ(Shown(), Frame(Region()));
    Click(Region()->rdgrpCinglar->Button(3));
    ClickNext();
    ASSERT_EQ(Shown(), Frame(Number()));
    ClickBack();
    ASSERT_EQ(Shown(), Frame(Region()));
    ASSERT_FALSE(Region()->NextButton->isEnabled());
    EXPECT_FALSE(Region()->CancelButton->hasFocus());
    EXPECT_TRUE(Region()->rdgrpCinglar->isAncestorOf(Focused()));

    Key(Qt::Key_Return); // no region yet: nothing happens, and nobody asks to exit
    EXPECT_EQ(Shown(), Frame(Region()));
    EXPECT_EQ(prompts.exitQuestions, 0);
    Click(Region()->rdgrpCinglar->Button(2));
    Key(Qt::Key_Return);
    EXPECT_EQ(Shown(), Frame(Number()));
    EXPECT_EQ(prompts.exitQuestions, 0);

    // In a later run the page is shown afresh the same way.
    Abandon();
    ChooseCarrier(kCingular);
    EXPECT_FALSE(Region()->CancelButton->hasFocus());
    EXPECT_TRUE(Region()->rdgrpCinglar->isAncestorOf(Focused()));
}

TEST_F(FocusTest, TheCustomPageTakesTypingOnItsFirstVisitAndNextOnTheFollowingOnes) {
    ChooseCarrier(kOther);
    ASSERT_EQ(Shown(), Frame(Custom()));
    EXPECT_TRUE(Custom()->CustomEmail->hasFocus());
    Type("12@pager.example");
    EXPECT_EQ(Custom()->CustomEmail->text(), "12@pager.example");
    Key(Qt::Key_Return);
    ASSERT_NE(Shown(), Frame(Custom()));
    EXPECT_EQ(owner.record.CustomEmail, "12@pager.example");

    ClickBack();
    ASSERT_EQ(Shown(), Frame(Custom()));
    EXPECT_TRUE(Custom()->NextButton->hasFocus());
    // An address that lost its "@" sends the focus back to the field, not to Cancel.
    owner.record.CustomEmail = "pager";
    ClickBack();
    ClickNext();
    ASSERT_EQ(Shown(), Frame(Custom()));
    EXPECT_TRUE(Custom()->CustomEmail->hasFocus());
}

} // namespace
} // namespace rp::test
