// SPDX-License-Identifier: GPL-3.0-or-later
// The bundled help file: every topic is there and no link inside it is broken.

#include "platform/gui/Help.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QWidget>
#include <gtest/gtest.h>

using namespace rp;

namespace {

QString Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(HelpWindow, ContentsAndWizardTopicsAreBundled) {
    THelpWindow help;
    EXPECT_TRUE(help.TopicPath(0).endsWith(QLatin1String("/index.html")));
    EXPECT_TRUE(help.TopicPath(HelpContextWizard).endsWith(QLatin1String("/wizard.html")));
    EXPECT_EQ(help.TopicPath(HelpContextWizardPage), help.TopicPath(HelpContextWizard));
    EXPECT_EQ(help.TopicPath(12345), help.TopicPath(0)); // unknown: the contents
    EXPECT_TRUE(help.TopicPath(0).contains(QLatin1String("RINGPOST.HLP")));
}

TEST(HelpWindow, TheAboutPageTellsHowToUpgradeEitherWayAndNamesNoWebSite) {
    THelpWindow help;
    const QString path = help.TopicPath(HelpContextAbout);
    ASSERT_TRUE(path.endsWith(QLatin1String("/about.html")));
    const QString text = Read(path);
    for (const char* needed : {"scripts/package", "apt install", "git pull", "scripts/run",
                               "GNU General Public License", "version 3"})
        EXPECT_TRUE(text.contains(QLatin1String(needed))) << needed;
    EXPECT_FALSE(text.contains(QLatin1String("http")));
    EXPECT_FALSE(text.contains(QLatin1String("example.")));
}

TEST(HelpWindow, EveryLocalLinkLeadsToABundledPage) {
    THelpWindow help;
    const QString root = help.TopicPath(0).section(QLatin1Char('/'), 0, -2) + QLatin1Char('/');
    const QRegularExpression link(QStringLiteral("href=\"([^\"#:]+)\""));
    QStringList pages{QStringLiteral("index.html")};
    for (int i = 0; i < pages.size(); ++i) {
        const QString text = Read(root + pages[i]);
        ASSERT_FALSE(text.isEmpty()) << pages[i].toStdString();
        for (const auto& match : link.globalMatch(text)) {
            const QString target = match.captured(1);
            EXPECT_TRUE(QFile::exists(root + target))
                << pages[i].toStdString() << " -> " << target.toStdString();
            if (QFile::exists(root + target) && !pages.contains(target))
                pages << target;
        }
    }
    EXPECT_GE(pages.size(), 9); // every topic is reachable from the contents
}

TEST(HelpWindow, ShowsTheRequestedTopicInOneWindow) {
    THelpWindow help;
    help.ShowContents();
    QWidget* window = help.Window();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(help.CurrentPage().endsWith(QLatin1String("index.html")));
    help.ShowTopic(HelpContextWizard);
    EXPECT_EQ(help.Window(), window);
    EXPECT_TRUE(help.CurrentPage().endsWith(QLatin1String("wizard.html")));
}

TEST(HelpWindow, AHelpFileThatIsNotBundledSaysSo) {
    THelpWindow help(QStringLiteral("OTHER.HLP"));
    EXPECT_TRUE(help.TopicPath(0).isEmpty());
    help.ShowContents();
    auto* browser = help.Window()->findChild<QTextBrowser*>();
    ASSERT_TRUE(browser);
    EXPECT_TRUE(browser->toPlainText().contains(QLatin1String("OTHER.HLP")));
}

} // namespace
