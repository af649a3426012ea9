// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/InstallerMain.h"

#include "wizard/BaseFrame.h"
#include "wizard/BaseInstaller.h"
#include "wizard/StatusLine.h"
#include "wizard/WizardOwner.h"
#include "wizard/WizardPrompts.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace rp {

namespace {
constexpr double kWideScreenRatio = 1.7;
constexpr int kFirstBlinkMs = 1000;
constexpr int kBlinkMs = 500;

QList<QRect> MonitorGeometries() {
    QList<QRect> monitors;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        monitors.append(primary->geometry());
    for (QScreen* screen : QGuiApplication::screens())
        if (screen != QGuiApplication::primaryScreen())
            monitors.append(screen->geometry());
    return monitors;
}

int PageHeightFor(TGenericFrame* page, int width) {
    const int hinted = page->hasHeightForWidth() ? page->heightForWidth(width) : -1;
    return std::max(hinted, page->minimumSizeHint().height());
}
} // namespace

QPoint HostPlacement(QSize window, const QList<QRect>& monitors) {
    if (monitors.isEmpty())
        return QPoint(0, 0);
    const QRect first = monitors.first();
    const int centredTop = first.top() + first.height() / 2 - window.height() / 2;
    if (monitors.size() > 1)
        return QPoint(first.left() + first.width() / 2 - window.width() / 2, centredTop);
    if (first.height() * kWideScreenRatio >= first.width())
        return QPoint(first.left() + (first.width() - window.width()) / 2,
                      first.top() + (first.height() - window.height()) / 2);
    return QPoint(first.left() + first.width() / 4 - window.width() / 2, centredTop);
}

TMainForm::TMainForm(TBaseInstaller& installer, QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), installer(installer) {
    setWindowTitle(QStringLiteral("Ringpost Configuration Wizard"));
    setWindowModality(Qt::NonModal);
    BuildPanels();
    setFixedSize(kHostDesignSize);
    PlaceOnScreen();

    timer1 = new QTimer(this);
    timer1->setInterval(kFirstBlinkMs);
    connect(timer1, &QTimer::timeout, this, [this] {
        timer1->setInterval(kBlinkMs);
        statusBar->Tick();
    });
    timer1->start();

    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &TMainForm::ShowHelp);
    // Escape is Cancel, question and all.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (TGenericFrame* page = this->installer.ShownPage())
            page->acCancel->trigger();
        else
            close();
    });
    installer.AttachHost(this);
}

TMainForm::~TMainForm() {
    // The pages belong to the sequence; they must not die with the window.
    installer.ReleasePages(this);
}

void TMainForm::BuildPanels() {
    titlePanel = new QWidget(this);
    titlePanel->setFixedHeight(0);

    imagePanel = new QFrame(this);
    imagePanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    imagePanel->setFixedWidth(kImagePanelWidth);
    auto* imageLayout = new QHBoxLayout(imagePanel);
    imageLayout->setContentsMargins(1, 1, 1, 1);

    mainPanel = new QWidget(this);
    spacePanel = new QWidget(mainPanel);
    spacePanel->setFixedWidth(kSpacePanelWidth);
    auto* pageLayout = new QHBoxLayout(mainPanel);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(0);
    pageLayout->addWidget(spacePanel);

    statusBar = new TStatusLine(this);
    statusBar->setFixedHeight(kStatusBarHeight);

    auto* middle = new QHBoxLayout;
    middle->setSpacing(0);
    middle->addWidget(imagePanel);
    middle->addWidget(mainPanel, 1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(titlePanel);
    outer->addLayout(middle, 1);
    outer->addWidget(statusBar);
}

void TMainForm::PlaceOnScreen() {
    move(HostPlacement(size(), MonitorGeometries()));
}

void TMainForm::FitPages(const std::vector<TGenericFrame*>& pages) {
    const QSize designPage(kHostDesignSize.width() - kImagePanelWidth - kSpacePanelWidth,
                           kHostDesignSize.height() - kStatusBarHeight);
    int width = designPage.width();
    for (TGenericFrame* page : pages)
        width = std::max(width, page->minimumSizeHint().width());
    int height = designPage.height();
    for (TGenericFrame* page : pages)
        height = std::max(height, PageHeightFor(page, width));
    setFixedSize(width + kImagePanelWidth + kSpacePanelWidth, height + kStatusBarHeight);
    PlaceOnScreen();
}

void TMainForm::PostClose() {
    QTimer::singleShot(0, this, &QWidget::close);
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The focus mark shows from the start, not only after the first Tab: the
    // wizard is used from the keyboard.
    setAttribute(Qt::WA_KeyboardFocusChange);
    if (!event->spontaneous())
        installer.BeginRun();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    const bool finished = installer.IsFinished();
    if (!finished && !installer.Prompts().ConfirmExit(this)) {
        event->ignore();
        return;
    }
    event->accept();
    timer1->stop(); // a closed host is only kept until the next run replaces it
    installer.Closing();
    installer.ReleasePages(this);
    if (!finished)
        installer.Owner().PostReloadSettings();
}

void TMainForm::ShowHelp() {
    QWidget* focused = focusWidget();
    const bool inPageArea = focused && mainPanel->isAncestorOf(focused);
    installer.Owner().ShowHelpTopic(inPageArea ? kMainPanelHelpContext : kHostHelpContext);
}

} // namespace rp
