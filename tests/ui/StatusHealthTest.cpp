// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar as the user reads it: one text at a time, cut at a word with the
// whole text in the tooltip; and a source that fails stays in view (its own
// panel, the tray's tooltip and icon) until it works again.

#include "FormFixture.h"

#include "ui/Icons.h"
#include "ui/StatusPanel.h"

#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <thread>

using namespace rp;
using namespace rp::uitest;

namespace {

class StatusHealthTest : public FormTest {
protected:
    TStatusPanel* Panel(const char* name) const {
        return form->findChild<TStatusPanel*>(QLatin1String(name));
    }
    QSystemTrayIcon* Tray() const {
        return form->findChild<QSystemTrayIcon*>(QStringLiteral("TrayIcon"));
    }
    static QImage Picture(const QIcon& icon) { return icon.pixmap(32, 32).toImage(); }
    // Started with notices going to a working address, and the start's note of
    // where they go past its time, so nothing else holds the status bar.
    void StartWithWorkingRoute() {
        WriteConfiguredStore();
        Start();
        form->SetService(8);
        form->SetCustomEmail(QStringLiteral("phone@example.org"));
        form->AnnounceNoticeRoute();
        ticks.Advance(StatusNoticeMs);
        form->ShowFromTray();
    }
    // The texts drawn in the status bar now.
    QStringList Drawn() const {
        QStringList texts;
        if (!form->statusBar()->currentMessage().isEmpty())
            texts << form->statusBar()->currentMessage();
        for (QLabel* label : form->statusBar()->findChildren<QLabel*>())
            if (label->isVisible() && !label->text().isEmpty())
                texts << label->text();
        return texts;
    }
};

TEST_F(StatusHealthTest, OneTextAtATimeCutAtAWordWithTheWholeTextInTheTooltip) {
    StartWithWorkingRoute();
    const QString longText = QStringLiteral(
        "Calendar not read since 09:12: The server dav.example.org refused the user name or "
        "password (HTTP 401). The last good copy is used.");
    engine.host->SetStatusText(longText);
    RunPosted();
    TStatusPanel* panel0 = Panel("Panel0");
    ASSERT_NE(panel0, nullptr);
    EXPECT_EQ(form->StatusText(), longText);
    EXPECT_EQ(panel0->toolTip(), longText);
    const QString shown = panel0->ShownText();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("\u2026"))) << shown.toStdString();
    const QString kept = shown.chopped(1);
    EXPECT_TRUE(longText.startsWith(kept));
    EXPECT_EQ(longText.at(kept.size()), QLatin1Char(' ')) << "cut inside a word";
    EXPECT_LE(panel0->fontMetrics().horizontalAdvance(shown), panel0->contentsRect().width());
    EXPECT_LE(form->width(), 600) << "the text widened the window";

    // A notice holds panel 0; progress texts wait behind it, never beside it,
    // also across a trip to the tray.
    form->ShowStatusNotice(QStringLiteral("Ringpost Test message written to the Outbox."));
    engine.host->SetStatusText(QStringLiteral("Processor Idle."));
    RunPosted();
    form->HideToTray();
    form->ShowFromTray();
    EXPECT_EQ(Drawn(), QStringList{"Ringpost Test message written to the Outbox."});
    // What the user asks for next is shown at once: the engine's texts about it
    // do not wait behind an older notice.
    form->StartTestSend->trigger();
    EXPECT_EQ(form->StatusText(), "Processor Idle.");
    const QStringList drawn = Drawn();
    EXPECT_EQ(drawn.count("Processor Idle."), 1);
    EXPECT_EQ(drawn.size(), 2) << "panel 0 and the repetition's own panel";
    form->StartTestSend->trigger();
}

TEST_F(StatusHealthTest, AFailingSourceStaysInViewUntilItWorksAgainFromAnyThread) {
    StartWithWorkingRoute();
    TStatusPanel* health = Panel("SourceHealth");
    ASSERT_NE(health, nullptr);
    ASSERT_NE(Tray(), nullptr);
    EXPECT_FALSE(health->isVisible());
    EXPECT_EQ(Picture(Tray()->icon()), Picture(ApplicationIcon()));

    const QString refused = QStringLiteral("Calendar not read since 09:12: login refused.");
    std::thread engineThread(
        [host = engine.host, refused] { host->ReportSourceHealth("calendar", refused); });
    engineThread.join();
    QTRY_VERIFY(health->isVisible());
    EXPECT_EQ(health->FullText(), refused);
    EXPECT_TRUE(Tray()->toolTip().contains(refused));
    EXPECT_EQ(Picture(Tray()->icon()), Picture(TroubleIcon()));

    // The end of the cycle does not wipe it out.
    engine.host->SetStatusText(QStringLiteral("Processor Idle."));
    RunPosted();
    EXPECT_TRUE(health->isVisible());
    form->ReportSourceHealth("send", "The SMTP server refused the message.");
    EXPECT_EQ(health->FullText(), refused) << "the first source first";
    EXPECT_TRUE(health->toolTip().contains("The SMTP server refused the message."));

    engine.host->ReportSourceHealth("calendar", {});
    form->ReportSourceHealth("send", {});
    RunPosted();
    EXPECT_FALSE(health->isVisible());
    EXPECT_EQ(Tray()->toolTip(), ApplicationTitle(QCoreApplication::applicationFilePath()));
    EXPECT_EQ(Picture(Tray()->icon()), Picture(ApplicationIcon()));
}

// A carrier gateway that no longer delivers is not a one-time line on standard
// error: it stays in the panel while notices go there.
TEST_F(StatusHealthTest, AClosedGatewayStaysInTheSourcePanel) {
    WriteConfiguredStore(); // Sprint PCS
    Start();
    const QList<TSourceProblem> problems = form->SourceProblems();
    ASSERT_EQ(problems.size(), 1);
    EXPECT_EQ(problems[0].source, "gateway");
    EXPECT_TRUE(problems[0].problem.contains("@messaging.sprintpcs.com"));
    form->SetService(8);
    form->SetCustomEmail(QStringLiteral("ntfy-phone@ntfy.sh"));
    form->AnnounceNoticeRoute();
    EXPECT_TRUE(form->SourceProblems().isEmpty());
}

} // namespace
