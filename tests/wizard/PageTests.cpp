// SPDX-License-Identifier: GPL-3.0-or-later
#include "WizardFakes.h"

#include "wizard/CarrierDirectory.h"
#include "wizard/TimeField.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

namespace rp::test {
namespace {

class PageTest : public WizardTest {
public:
    TServiceProvider* Carrier() { return Sequence().ProviderPage(); }
    TCinglarServiceSelect* Region() { return Sequence().RegionPage(); }
    TPersonnelConfig* Number() { return Sequence().NumberPage(); }
    TCustomService* Custom() { return Sequence().CustomPage(); }
    TMeetingNotification* Meetings() { return Sequence().MeetingPage(); }
    TTaskManagement* Tasks() { return Sequence().TaskPage(); }

    void TypeNumber(const QString& keys) { QTest::keyClicks(Number()->CellNumber, keys); }
    // From the introduction through a complete number to the meeting page.
    void ReachMeetings() {
        ChooseCarrier(kSprint);
        TypeNumber("5551234567");
        ClickNext();
    }
};

TEST_F(PageTest, AFirstRunOffersSprintAndAnEmptyNumberWithTheDefaultHours) {
    Open();
    ClickNext();
    ASSERT_EQ(Shown(), Frame(Carrier()));
    EXPECT_EQ(Carrier()->rdoServiceProvider->title(), "Service Provider");
    ASSERT_EQ(Carrier()->rdoServiceProvider->Count(), 9);
    EXPECT_EQ(Carrier()->rdoServiceProvider->ItemIndex(), kSprint);
    EXPECT_EQ(Carrier()->rdoServiceProvider->Button(kSprint)->text(), "&Sprint PCS");
    EXPECT_EQ(Carrier()->rdoServiceProvider->Button(kAtt)->text(), "&AT&&T Wireless");
    EXPECT_TRUE(Carrier()->NextButton->isEnabled());

    ClickNext();
    ASSERT_EQ(Shown(), Frame(Number()));
    EXPECT_EQ(Number()->Digits(), "");
    EXPECT_EQ(Number()->CellNumber->displayText(), "(___)___-____");
    EXPECT_FALSE(Number()->NextButton->isEnabled());
    EXPECT_TRUE(Number()->CellNumber->hasFocus());
    EXPECT_EQ(Number()->EarlyTime->time(), QTime(7, 0));
    EXPECT_EQ(Number()->LateTime->time(), QTime(19, 0));
    EXPECT_EQ(owner.record.Service, kSprint);
}

TEST_F(PageTest, TheCarrierDecidesTheWayForwardAndBack) {
    auto number = +[](PageTest& t) -> TGenericFrame* { return t.Number(); };
    auto region = +[](PageTest& t) -> TGenericFrame* { return t.Region(); };
    auto custom = +[](PageTest& t) -> TGenericFrame* { return t.Custom(); };
    const struct {
        int carrier;
        TGenericFrame* (*after)(PageTest&);
        TGenericFrame* (*beforeMeetings)(PageTest&);
    } ways[] = {{kAtt, number, number},
                {kCingular, region, number},
                {kSprint, number, number},
                {7, number, number},
                {kOther, custom, custom}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.carrier);
        ChooseCarrier(way.carrier);
        ASSERT_EQ(Shown(), way.after(*this));
        if (Shown() == Frame(Region())) {
            Click(Region()->rdgrpCinglar->Button(3));
            ClickNext();
            ASSERT_EQ(Shown(), Frame(Number()));
            ClickBack();
            EXPECT_EQ(Shown(), Frame(Region()));
            Click(Region()->rdgrpCinglar->Button(3));
            ClickNext();
        }
        if (Shown() == Frame(Number()))
            TypeNumber("5551234567");
        else
            QTest::keyClicks(Custom()->CustomEmail, "me@pager.example");
        ClickNext();
        ASSERT_EQ(Shown(), Frame(Meetings()));
        ClickBack();
        EXPECT_EQ(Shown(), way.beforeMeetings(*this));
        ClickBack();
        EXPECT_EQ(Shown(), way.carrier == kCingular ? Frame(Region()) : Frame(Carrier()));
        prompts.answerYes = true;
        Host()->close();
        prompts.answerYes = false;
    }
}

TEST_F(PageTest, AStoredCarrierPastTheListShowsTheLastRow) {
    owner.record.Service = 200;
    Open();
    ClickNext();
    EXPECT_EQ(Carrier()->rdoServiceProvider->ItemIndex(), kOther);
    EXPECT_EQ(Carrier()->rdoServiceProvider->Button(kOther)->text(),
              "&Other (including Text Pagers)");
    ClickNext();
    EXPECT_EQ(Shown(), Frame(Custom()));
    EXPECT_EQ(owner.record.Service, kOther);
}

TEST_F(PageTest, TheRegionIsChosenAfreshEachTimeAndOnlyItStoresTheDomain) {
    owner.record.CustomAddr = "old.example";
    ChooseCarrier(kCingular);
    EXPECT_EQ(Region()->rdgrpCinglar->Count(), 6);
    EXPECT_EQ(Region()->rdgrpCinglar->ItemIndex(), -1);
    EXPECT_FALSE(Region()->NextButton->isEnabled());
    Click(Region()->rdgrpCinglar->Button(5));
    EXPECT_TRUE(Region()->NextButton->isEnabled());
    ClickBack();
    EXPECT_EQ(owner.record.CustomAddr, "old.example");
    ClickNext();
    EXPECT_EQ(Region()->rdgrpCinglar->ItemIndex(), -1);
    EXPECT_FALSE(Region()->NextButton->isEnabled());
    Click(Region()->rdgrpCinglar->Button(2));
    ClickNext();
    EXPECT_EQ(owner.record.CustomAddr, QString::fromUtf8(RegionDomains[2]));
}

TEST_F(PageTest, OnlyTheTenthDigitEnablesNext) {
    ChooseCarrier(kSprint);
    TypeNumber("555123456");
    EXPECT_FALSE(Number()->NextButton->isEnabled());
    TypeNumber("7");
    EXPECT_TRUE(Number()->NextButton->isEnabled());
    EXPECT_EQ(Number()->CellNumber->displayText(), "(555)123-4567");
    QTest::keyClick(Number()->CellNumber, Qt::Key_Backspace);
    EXPECT_FALSE(Number()->NextButton->isEnabled());
    TypeNumber("8x");
    EXPECT_EQ(Number()->Digits(), "5551234568");
    EXPECT_TRUE(Number()->NextButton->isEnabled());
}

TEST_F(PageTest, TheNumberIsStoredAsDigitsWithTheHours) {
    ChooseCarrier(kSprint);
    TypeNumber("5551234567");
    Number()->EarlyTime->setTime(QTime(6, 30));
    Number()->LateTime->setTime(QTime(5, 15)); // earlier than the start: nobody checks
    QTest::keyClick(Number()->CellNumber, Qt::Key_Return);
    EXPECT_EQ(Shown(), Frame(Meetings()));
    EXPECT_EQ(owner.record.Pin, "5551234567");
    EXPECT_DOUBLE_EQ(owner.record.EarlyTime, EncodeTime(6, 30));
    EXPECT_DOUBLE_EQ(owner.record.LateTime, EncodeTime(5, 15));
    EXPECT_EQ(owner.record.CustomEmail, "");
}

TEST_F(PageTest, TheNumberPageShowsTheStoredValuesAndRefusesAnIncompleteNumber) {
    owner.record.Pin = "4045550100";
    owner.record.EarlyTime = EncodeDateTime(2003, 5, 1, 8, 45);
    ChooseCarrier(kSprint);
    EXPECT_EQ(Number()->CellNumber->displayText(), "(404)555-0100");
    EXPECT_TRUE(Number()->NextButton->isEnabled());
    EXPECT_EQ(Number()->EarlyTime->time(), QTime(8, 45));
    Number()->CellNumber->clear();
    Number()->NextStep();
    EXPECT_EQ(Shown(), Frame(Number()));
    EXPECT_TRUE(Number()->CellNumber->hasFocus());
    EXPECT_EQ(owner.record.Pin, "4045550100");
}

TEST_F(PageTest, AnAtSignAnywhereEnablesTheCustomAddress) {
    owner.record.Pin = "5550001111";
    ChooseCarrier(kOther);
    ASSERT_EQ(Shown(), Frame(Custom()));
    EXPECT_FALSE(Custom()->NextButton->isEnabled());
    QTest::keyClicks(Custom()->CustomEmail, "pager");
    EXPECT_FALSE(Custom()->NextButton->isEnabled());
    Custom()->CustomEmail->clear();
    QTest::keyClicks(Custom()->CustomEmail, "@");
    EXPECT_TRUE(Custom()->NextButton->isEnabled());
    Custom()->CustomEmail->setText(" 12@pager.example ");
    ClickNext();
    EXPECT_EQ(owner.record.CustomEmail, " 12@pager.example ");
    EXPECT_EQ(owner.record.Pin, "5550001111");
    EXPECT_DOUBLE_EQ(owner.record.LateTime, EncodeTime(19, 0));
}

// A deliberate widening of the "@" rule: an Apprise URL of a service Apprise knows
// goes on too; any other "://" text without "@" does not.
TEST_F(PageTest, AnAppriseAddressOfAKnownServiceEnablesTheCustomAddress) {
    ChooseCarrier(kOther);
    const auto enables = [this](const char* address) {
        Custom()->CustomEmail->clear();
        QTest::keyClicks(Custom()->CustomEmail, address);
        return Custom()->NextButton->isEnabled();
    };
    EXPECT_FALSE(enables("tgram:/"));
    EXPECT_TRUE(enables("tgram://123456789:AAH-token/987654"));
    EXPECT_TRUE(enables("GOTIFYS://push.example.org/AbCdEf"));
    EXPECT_FALSE(enables("foo://push.example.org/AbCdEf")) << "a scheme Apprise does not know";
    EXPECT_FALSE(enables("-gotify://push.example.org/x")) << "a leading \"-\"";
    EXPECT_FALSE(enables("gotify://a/x json://b/y")) << "two addresses";
    EXPECT_TRUE(enables("foo://user@host")) << "\"@\" still enables whatever else is there";
    Custom()->CustomEmail->setText(QStringLiteral("pover://user@token"));
    ClickNext();
    EXPECT_EQ(owner.record.CustomEmail, "pover://user@token");
}

TEST_F(PageTest, BackStoresNothingAndTheNextVisitReloads) {
    ReachMeetings();
    Meetings()->cbUrgentEmail->setChecked(true);
    ClickBack();
    EXPECT_FALSE(owner.record.UrgentEmail);
    ClickNext();
    EXPECT_FALSE(Meetings()->cbUrgentEmail->isChecked());
}

TEST_F(PageTest, TheMeetingBoxesShowAndStoreTheirFlags) {
    owner.record.MorningNotify = true;
    ReachMeetings();
    EXPECT_FALSE(Meetings()->cbMeetingNotify->isChecked());
    EXPECT_TRUE(Meetings()->cbMorningEveningNotify->isChecked());
    EXPECT_TRUE(Meetings()->NextButton->isEnabled());
    Meetings()->cbMeetingNotify->setChecked(true);
    Meetings()->cbMorningEveningNotify->setChecked(false);
    Meetings()->cbUrgentEmail->setChecked(true);
    ClickNext();
    EXPECT_TRUE(owner.record.MeetingNotify);
    EXPECT_FALSE(owner.record.MorningNotify);
    EXPECT_FALSE(owner.record.EveningNotify);
    EXPECT_TRUE(owner.record.UrgentEmail);
    EXPECT_EQ(Shown(), Frame(Tasks()));
}

TEST_F(PageTest, ThePastDueBoxStartsAtDailyAndKeepsItsRowWhenUnchecked) {
    owner.record.TaskReminder = false;
    owner.record.TaskRemindPeriod = 3;
    ReachMeetings();
    ClickNext();
    EXPECT_EQ(Tasks()->NextButton->text(), "&Done");
    EXPECT_EQ(Tasks()->cboReminderPeriod->currentIndex(), 3);
    EXPECT_FALSE(Tasks()->cboReminderPeriod->isEnabled());
    EXPECT_FALSE(Tasks()->cboReminderPeriod->isEditable());
    Click(Tasks()->TaskPastReminder);
    EXPECT_EQ(Tasks()->cboReminderPeriod->currentText(), "Daily");
    EXPECT_TRUE(Tasks()->cboReminderPeriod->isEnabled());
    EXPECT_TRUE(Tasks()->PeriodLabel->isEnabled());
    Tasks()->cboReminderPeriod->setCurrentIndex(0);
    Click(Tasks()->TaskPastReminder);
    EXPECT_FALSE(Tasks()->cboReminderPeriod->isEnabled());
    EXPECT_FALSE(Tasks()->PeriodLabel->isEnabled());
    EXPECT_EQ(Tasks()->cboReminderPeriod->currentIndex(), 0);
    ClickNext();
    EXPECT_FALSE(owner.record.TaskReminder);
    EXPECT_EQ(owner.record.TaskRemindPeriod, 0);
}

TEST_F(PageTest, AnUnknownStoredPeriodShowsNoRowAndIsStoredAsMinusOne) {
    owner.record.TaskRemindPeriod = 7;
    owner.record.TaskNotify = true;
    ReachMeetings();
    ClickNext();
    EXPECT_EQ(Tasks()->cboReminderPeriod->currentIndex(), -1);
    EXPECT_TRUE(Tasks()->TaskReminderNotify->isChecked());
    ClickNext();
    EXPECT_EQ(owner.record.TaskRemindPeriod, -1);
    EXPECT_TRUE(owner.record.TaskNotify);
}

TEST_F(PageTest, DoneStoresAsksForASaveAndClosesWithoutAQuestion) {
    ReachMeetings();
    ClickNext();
    Click(Tasks()->TaskPreReminder);
    ClickNext();
    EXPECT_TRUE(owner.record.TaskPreNotify);
    EXPECT_EQ(owner.saveRequests, 1);
    EXPECT_TRUE(Sequence().IsFinished());
    Settle();
    EXPECT_FALSE(wizard->IsOpen());
    EXPECT_EQ(prompts.exitQuestions, 0);
    EXPECT_EQ(owner.reloadRequests, 0);
    EXPECT_EQ(owner.record.Pin, "5551234567");

    // The next run starts unfinished again: leaving it early asks and reloads.
    Open();
    EXPECT_FALSE(Sequence().IsFinished());
    EXPECT_EQ(Shown(), Frame(Sequence().InitialPage()));
    prompts.answerYes = true;
    Click(Shown()->CancelButton);
    EXPECT_EQ(prompts.exitQuestions, 1);
    EXPECT_EQ(owner.reloadRequests, 1);
}

} // namespace
} // namespace rp::test
