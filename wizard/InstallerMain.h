// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wizard's host window: side picture, page area and status line. Modeless,
// owned by the main window and kept in front of it.

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

class QFrame;
class QTimer;

namespace rp {

class TBaseInstaller;
class TGenericFrame;
class TStatusLine;

inline constexpr QSize kHostDesignSize(612, 413);
inline constexpr int kImagePanelWidth = 145;
inline constexpr int kSpacePanelWidth = 17;
inline constexpr int kStatusBarHeight = 21;
inline constexpr int kHostHelpContext = 25;
inline constexpr int kMainPanelHelpContext = 9999;

// Where the host window goes: centred on the first monitor when there are
// several; on a single screen centred on the desktop, or on its left half when
// it is much wider than high (two screens shown as one).
QPoint HostPlacement(QSize window, const QList<QRect>& monitors);

class TMainForm : public QWidget {
    Q_OBJECT
public:
    TMainForm(TBaseInstaller& installer, QWidget* owner);
    ~TMainForm() override;

    QFrame* ImagePanel() const { return imagePanel; }
    QWidget* MainPanel() const { return mainPanel; }
    TStatusLine* StatusBar() const { return statusBar; }
    QTimer* BlinkTimer() const { return timer1; }

    // Makes the page area large enough for the largest page, at least the
    // designed size, and places the window for that size.
    void FitPages(const std::vector<TGenericFrame*>& pages);
    // Closes the window once the current event has been handled.
    void PostClose();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildPanels();
    void PlaceOnScreen();
    void ShowHelp();

    TBaseInstaller& installer;
    QWidget* titlePanel = nullptr;
    QFrame* imagePanel = nullptr;
    QWidget* mainPanel = nullptr;
    QWidget* spacePanel = nullptr;
    TStatusLine* statusBar = nullptr;
    QTimer* timer1 = nullptr;
};

} // namespace rp
