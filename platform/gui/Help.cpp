// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/gui/Help.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

// The pages are linked into a static library; nothing else would pull them in.
static void InitHelpResources() {
    Q_INIT_RESOURCE(help);
}

namespace rp {

namespace {

const char* const ContentsPage = "index.html";

const char* PageFor(int helpContext) {
    switch (helpContext) {
    case HelpContextWizard:
    case HelpContextWizardPage:
        return "wizard.html";
    case HelpContextAbout:
        return "about.html";
    default:
        return ContentsPage;
    }
}

} // namespace

THelpWindow::THelpWindow(const QString& helpFile)
    : root(QStringLiteral(":/help/") + helpFile + QLatin1Char('/')) {
    InitHelpResources();
}

THelpWindow::~THelpWindow() {
    delete window.data();
}

QString THelpWindow::TopicPath(int helpContext) const {
    const QString page = root + QLatin1String(PageFor(helpContext));
    return QFile::exists(page) ? page : QString();
}

QWidget* THelpWindow::Window() const {
    return window.data();
}

QString THelpWindow::CurrentPage() const {
    return browser && window ? browser->source().toString() : QString();
}

void THelpWindow::ShowContents() {
    Show(TopicPath(0));
}

void THelpWindow::ShowTopic(int helpContext) {
    Show(TopicPath(helpContext));
}

void THelpWindow::CreateWindow() {
    auto* dialog = new QDialog(nullptr, Qt::Window);
    dialog->setWindowTitle(QStringLiteral("Ringpost Help"));
    dialog->resize(640, 560);
    browser = new QTextBrowser(dialog);
    // Web addresses leave the help window for the desktop's browser.
    browser->setOpenExternalLinks(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    auto* contents = buttons->addButton(QStringLiteral("&Contents"), QDialogButtonBox::ActionRole);
    QObject::connect(contents, &QPushButton::clicked, dialog, [this] { ShowContents(); });
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::hide);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(browser);
    layout->addWidget(buttons);
    window = dialog;
}

void THelpWindow::Show(const QString& page) {
    if (!window)
        CreateWindow();
    if (page.isEmpty())
        browser->setHtml(
            QStringLiteral("<p>The help file %1 is missing from this installation.</p>")
                .arg(root.section(QLatin1Char('/'), -2, -2)));
    else
        browser->setSource(QUrl(QStringLiteral("qrc") + page));
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace rp
