// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page base: the Back / Next / Cancel / Help row, the Enter key, and the
// hooks through which a page loads and stores its values.

#include <QWidget>

class QAction;
class QCheckBox;
class QGridLayout;
class QLabel;
class QPushButton;

namespace rp {

class TBaseInstaller;

class TGenericFrame : public QWidget {
    Q_OBJECT
public:
    explicit TGenericFrame(TBaseInstaller& installer);

    virtual void BackStep();
    virtual void NextStep();
    virtual void CancelStep();
    // Runs each time the page is shown; pages load their values here.
    virtual void Activate();

    void SetHelpContext(int context);
    int HelpContext() const { return helpContext; }
    bool StepRunning() const { return stepRunning; }

    QWidget* ButtonPanel = nullptr;
    QPushButton* HelpButton = nullptr;
    QWidget* Panel1 = nullptr;
    QPushButton* BackButton = nullptr;
    QPushButton* NextButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QAction* acBack = nullptr;
    QAction* acNext = nullptr;
    QAction* acCancel = nullptr;
    QAction* Enter = nullptr;

protected:
    // The area above the button row, where a page puts its controls.
    QWidget* Body() const { return body; }
    TBaseInstaller& Installer() const { return installer; }
    // Moves the focus to NextButton when it can take it.
    void FocusNext();
    // Where a page's Activate leaves the focus once its values are loaded: on
    // NextButton when it is enabled, else on the page's own field. Loading may have
    // disabled the focused NextButton on the way, which sends the focus on to Cancel.
    void SettleFocus(QWidget* field);

private:
    void BuildButtonRow();
    void BuildActions();
    void BindButton(QPushButton* button, QAction* action);
    void PlaceButtons();
    void RunStep(void (TGenericFrame::*step)());
    void PressEnter();
    void OpenHelp();

    TBaseInstaller& installer;
    QWidget* body = nullptr;
    int helpContext = 0;
    bool stepRunning = false;
};

// Page-building helpers shared by the pages.
QLabel* WrappedText(const QString& text, QWidget* parent);
QLabel* BoldText(const QString& text, QWidget* parent);
// A check box without caption and its word-wrapped text beside it, on one row of
// a two-column grid.
QCheckBox* AddCheckRow(QGridLayout* grid, int row, const QString& text, QWidget* parent);

} // namespace rp
