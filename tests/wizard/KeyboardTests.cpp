// SPDX-License-Identifier: GPL-3.0-or-later
// The wizard by keyboard alone: Escape is Cancel with its question, a list page
// shows where the focus is and its arrow keys choose, the time fields take times
// as people type them, and a first run names no carrier.

#include "WizardFakes.h"

#include "wizard/TimeField.h"

namespace rp::test {
namespace {

class KeyboardTest : public WizardTest {
public:
    TRadioGroup* Carriers() { return Sequence().ProviderPage()->rdoServiceProvider; }
};

TEST_F(KeyboardTest, EscapeAsksTheCancelQuestionAndNoKeepsTheRunGoing) {
    Open();
    Key(Qt::Key_Escape);
    Settle();
    EXPECT_EQ(prompts.exitQuestions, 1);
    EXPECT_TRUE(Host()->isVisible());
    EXPECT_EQ(owner.reloadRequests, 0);

    prompts.answerYes = true;
    Key(Qt::Key_Escape);
    Settle();
    EXPECT_EQ(prompts.exitQuestions, 2);
    EXPECT_FALSE(Host()->isVisible());
    EXPECT_EQ(owner.reloadRequests, 1);
}

// The stored default carrier (Sprint, whose gateway is closed) is no choice the
// user made: a first run shows none, marks the closed gateways and waits for one.
TEST_F(KeyboardTest, AFirstRunNamesNoCarrierMarksClosedGatewaysAndArrowsChoose) {
    owner.carrierChosen = false;
    owner.gatewayWarnings = {
        {QStringLiteral("messaging.sprintpcs.com"), QStringLiteral("Sprint's gateway is closed")},
        {QStringLiteral("vtext.com"), QStringLiteral("Notices may not arrive")}};
    Open();
    Key(Qt::Key_Return);
    ASSERT_EQ(Shown(), Sequence().ProviderPage());
    EXPECT_EQ(Carriers()->ItemIndex(), -1);
    EXPECT_FALSE(Shown()->NextButton->isEnabled());
    EXPECT_EQ(Carriers()->Button(kSprint)->text(), "&Sprint PCS (closed)");
    EXPECT_EQ(Carriers()->Button(kSprint)->toolTip(), "Sprint's gateway is closed");
    EXPECT_EQ(Carriers()->Button(kVerizon)->text(), "&Verizon Wireless (unreliable)");
    EXPECT_EQ(Carriers()->Button(kAtt)->text(), "&AT&&T Wireless");
    // The focus waits on the first row, and shows there from the start.
    EXPECT_EQ(Focused(), Carriers()->Button(kAtt));
    EXPECT_TRUE(Host()->testAttribute(Qt::WA_KeyboardFocusChange));
    Key(Qt::Key_Return); // nothing chosen: Return does nothing
    EXPECT_EQ(Shown(), Sequence().ProviderPage());

    Key(Qt::Key_Down);
    EXPECT_EQ(Carriers()->ItemIndex(), kCingular);
    EXPECT_EQ(Focused(), Carriers()->Button(kCingular));
    EXPECT_TRUE(Shown()->NextButton->isEnabled());
    Key(Qt::Key_Return);
    ASSERT_EQ(Shown(), Sequence().RegionPage());
    EXPECT_EQ(owner.record.Service, kCingular);

    // The region page: the first row has the focus, Down chooses the second.
    TRadioGroup* regions = Sequence().RegionPage()->rdgrpCinglar;
    EXPECT_EQ(Focused(), regions->Button(0));
    Key(Qt::Key_Down);
    EXPECT_EQ(regions->ItemIndex(), 1);
    EXPECT_TRUE(Shown()->NextButton->isEnabled());

    // Back on the carrier page, the choice of this run stands.
    owner.carrierChosen = true; // what the window says once a carrier was chosen
    ClickBack();
    ASSERT_EQ(Shown(), Sequence().ProviderPage());
    EXPECT_EQ(Carriers()->ItemIndex(), kCingular);
}

TEST_F(KeyboardTest, TimeFieldsTakeTimesAsTypedAndTabLeavesThem) {
    for (const auto& [typed, time] :
         std::vector<std::pair<const char*, QTime>>{{"11", QTime(11, 0)},
                                                    {"1100", QTime(11, 0)},
                                                    {"11:00", QTime(11, 0)},
                                                    {"7pm", QTime(19, 0)},
                                                    {"7:30 PM", QTime(19, 30)},
                                                    {"12:01AM", QTime(0, 1)},
                                                    {"12 pm", QTime(12, 0)},
                                                    {"19.45", QTime(19, 45)},
                                                    {"730", QTime(7, 30)}}) {
        SCOPED_TRACE(typed);
        EXPECT_EQ(ParseTypedTime(QString::fromLatin1(typed)), time);
    }
    for (const char* wrong : {"", "25", "13pm", "7:60", "noon", "1:2"})
        EXPECT_FALSE(ParseTypedTime(QString::fromLatin1(wrong)).isValid()) << wrong;

    ChooseCarrier(kSprint);
    TPersonnelConfig* number = Sequence().NumberPage();
    ASSERT_EQ(Shown(), number);
    Type(QStringLiteral("5551234567"));
    Key(Qt::Key_Tab);
    ASSERT_EQ(Focused(), number->EarlyTime);
    QApplication::processEvents(); // the field selects its text on entry
    Type(QStringLiteral("11"));
    Key(Qt::Key_Tab);
    ASSERT_EQ(Focused(), number->LateTime);
    EXPECT_EQ(number->EarlyTime->time(), QTime(11, 0));
    QApplication::processEvents();
    Type(QStringLiteral("7:30pm"));
    Key(Qt::Key_Up); // a quarter of an hour later
    Key(Qt::Key_Return);
    EXPECT_DOUBLE_EQ(owner.record.EarlyTime, EncodeTime(11, 0));
    EXPECT_DOUBLE_EQ(owner.record.LateTime, EncodeTime(19, 45));
}

} // namespace
} // namespace rp::test
