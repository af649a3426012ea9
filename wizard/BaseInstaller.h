// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page sequence: shows one page at a time in the host window's page area. A
// concrete sequence creates the pages and decides which one comes next.

#include <QPointer>
#include <QString>
#include <vector>

class QWidget;

namespace rp {

class IWizardOwner;
class IWizardPrompts;
class TGenericFrame;
class TImageFrame;
class TMainForm;

class TBaseInstaller {
public:
    TBaseInstaller(IWizardOwner& owner, IWizardPrompts& prompts);
    virtual ~TBaseInstaller();
    TBaseInstaller(const TBaseInstaller&) = delete;
    TBaseInstaller& operator=(const TBaseInstaller&) = delete;

    virtual void CreatePages();
    // A page lookup for sequences that need one; nothing asks for it yet.
    virtual TGenericFrame* PageQuery() = 0;
    virtual TGenericFrame* FirstPage() = 0;
    virtual QString GetStatus();
    virtual void ShowStatus(const QString& text);
    virtual void Closing();
    virtual void Back();
    virtual void Next();
    virtual void Cancel();
    virtual void Finish();

    void BeginRun();
    void ShowPage(TGenericFrame* page);
    static void PlacePage(QWidget* frame, QWidget* panel);

    // The host window of the current run; each new host window announces itself.
    void AttachHost(TMainForm* host);
    TMainForm* Host() const;
    // Takes the pages and the side picture out of a host window that goes away,
    // so that they outlive it.
    void ReleasePages(TMainForm* from);

    // Every page registers itself, so the host can make room for the largest.
    void RegisterPage(TGenericFrame* page);
    const std::vector<TGenericFrame*>& Pages() const { return pages; }

    bool IsFinished() const { return Finished; }
    TGenericFrame* ShownPage() const { return CurrentPage; }
    IWizardOwner& Owner() const { return owner; }
    IWizardPrompts& Prompts() const { return prompts; }

protected:
    TGenericFrame* CurrentPage = nullptr;
    TImageFrame* SidePicture = nullptr;
    bool Finished = false;

private:
    IWizardOwner& owner;
    IWizardPrompts& prompts;
    QPointer<TMainForm> host;
    std::vector<TGenericFrame*> pages;
};

} // namespace rp
