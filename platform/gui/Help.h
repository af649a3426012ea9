// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's help file: our own HTML pages, bundled with the program under the
// help file's name and shown in one help window.

#include <QPointer>
#include <QString>

class QTextBrowser;
class QWidget;

namespace rp {

inline const char* const HelpFileName = "RINGPOST.HLP";

// Help contexts with a topic of their own: the wizard window and its page area.
inline constexpr int HelpContextWizard = 25;
inline constexpr int HelpContextWizardPage = 9999;
// The program, its licence and how to upgrade it.
inline constexpr int HelpContextAbout = 100;

class IHelp {
public:
    virtual ~IHelp() = default;
    virtual void ShowContents() = 0;
    // An unknown context shows the contents.
    virtual void ShowTopic(int helpContext) = 0;
};

class THelpWindow : public IHelp {
public:
    explicit THelpWindow(const QString& helpFile = QString::fromLatin1(HelpFileName));
    ~THelpWindow() override;
    void ShowContents() override;
    void ShowTopic(int helpContext) override;

    // The page shown for a help context, as a resource path; empty when the help
    // file is not bundled.
    QString TopicPath(int helpContext) const;
    // The help window, null until help was first shown.
    QWidget* Window() const;
    // The page the window shows.
    QString CurrentPage() const;

private:
    void Show(const QString& page);
    void CreateWindow();

    QString root;
    QPointer<QWidget> window;
    QTextBrowser* browser = nullptr;
};

} // namespace rp
