// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/BaseInstaller.h"

#include "wizard/BaseFrame.h"
#include "wizard/FrameAgentImage.h"
#include "wizard/InstallerMain.h"
#include "wizard/StatusLine.h"
#include "wizard/WizardPrompts.h"

#include <QFrame>
#include <QLayout>

namespace rp {

namespace {
void TakeOut(QWidget* frame) {
    if (!frame)
        return;
    frame->hide();
    frame->setParent(nullptr);
}
} // namespace

TBaseInstaller::TBaseInstaller(IWizardOwner& owner, IWizardPrompts& prompts)
    : owner(owner), prompts(prompts) {}

TBaseInstaller::~TBaseInstaller() = default;

void TBaseInstaller::CreatePages() {}

QString TBaseInstaller::GetStatus() {
    return host ? host->StatusBar()->Text() : QString();
}

void TBaseInstaller::ShowStatus(const QString& text) {
    if (!host)
        return;
    if (IsErrorStatus(text)) {
        host->StatusBar()->SetText(QString());
        prompts.ShowError(host, ErrorBoxText(text));
        return;
    }
    host->StatusBar()->SetText(text);
}

void TBaseInstaller::Closing() {}
void TBaseInstaller::Back() {}
void TBaseInstaller::Next() {}

void TBaseInstaller::Cancel() {
    if (host)
        host->close();
}

void TBaseInstaller::Finish() {
    Finished = true;
    // Posted, so that the step that finished the run completes before the
    // window goes.
    if (host)
        host->PostClose();
}

void TBaseInstaller::BeginRun() {
    Finished = false;
    CreatePages();
    host->FitPages(pages);
    PlacePage(SidePicture, host->ImagePanel());
    ShowPage(FirstPage());
}

void TBaseInstaller::ShowPage(TGenericFrame* page) {
    ShowStatus(QString());
    // The focus must not wander into the new page's buttons while the old one
    // goes; the new page's Activate decides where it lands.
    host->setFocus();
    TakeOut(CurrentPage);
    PlacePage(page, host->MainPanel());
    CurrentPage = page;
    page->Activate();
}

void TBaseInstaller::PlacePage(QWidget* frame, QWidget* panel) {
    if (!frame || !panel)
        return;
    frame->setParent(panel);
    panel->layout()->addWidget(frame);
    frame->show();
}

void TBaseInstaller::AttachHost(TMainForm* newHost) {
    host = newHost;
}

TMainForm* TBaseInstaller::Host() const {
    return host;
}

void TBaseInstaller::ReleasePages(TMainForm* from) {
    if (!from)
        return;
    for (QWidget* frame : {static_cast<QWidget*>(CurrentPage), static_cast<QWidget*>(SidePicture)})
        if (frame && from->isAncestorOf(frame))
            TakeOut(frame);
}

void TBaseInstaller::RegisterPage(TGenericFrame* page) {
    pages.push_back(page);
}

} // namespace rp
