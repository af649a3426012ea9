// SPDX-License-Identifier: GPL-3.0-or-later
// The notification-area icon, hiding to it and showing again.

#include "ui/Icons.h"
#include "ui/Messages.h"
#include "ui/RingpostForm.h"

#include <QApplication>
#include <QHideEvent>
#include <QSystemTrayIcon>

namespace rp {

namespace {

int MouseMessageFor(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return WM_LBUTTONDOWN;
    case QSystemTrayIcon::Context:
        return WM_RBUTTONDOWN;
    case QSystemTrayIcon::DoubleClick:
        return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::MiddleClick:
        return WM_MBUTTONDOWN;
    default:
        return 0;
    }
}

} // namespace

void TRingpostForm::AddTrayIcon() {
    trayIcon = new QSystemTrayIcon(ApplicationIcon(), this);
    trayIcon->setObjectName(QStringLiteral("TrayIcon"));
    connect(trayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                QCoreApplication::postEvent(this, new TTrayNotifyEvent(MouseMessageFor(reason)));
            });
    ShowSourceHealth();
    trayIcon->show();
}

// The title alone while everything works; else the problems under it, and the
// icon marked.
void TRingpostForm::ShowTrayHealth(const QStringList& problems) {
    if (!trayIcon)
        return;
    const QString title = ApplicationTitle(QCoreApplication::applicationFilePath()).left(63);
    trayIcon->setIcon(problems.isEmpty() ? ApplicationIcon() : TroubleIcon());
    trayIcon->setToolTip(
        problems.isEmpty() ? title : title + QLatin1Char('\n') + problems.join(QLatin1Char('\n')));
}

void TRingpostForm::RemoveTrayIcon() {
    if (trayIcon)
        trayIcon->hide();
}

void TRingpostForm::OnTrayNotify(int mouseMessage) {
    if (mouseMessage == WM_LBUTTONDOWN || mouseMessage == WM_RBUTTONDOWN)
        ShowFromTray();
}

bool TRingpostForm::TrayAvailable() const {
    return deps.TrayAvailable();
}

// Without a notification area a hidden window could never be reached again, so
// it goes to the task bar instead.
void TRingpostForm::HideToTray() {
    if (TrayAvailable())
        hide(); // the hide event saves the settings
    else
        showMinimized(); // the state change saves the settings
}

void TRingpostForm::ShowFromTray() {
    if (!isVisible() || isMinimized()) {
        show();
        // Only once shown: a hidden window whose state is cleared is mapped behind
        // Qt's back and left as an empty frame.
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    raise();
    activateWindow();
}

void TRingpostForm::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    // The window manager's own hides (minimising, a desktop switch) are not ours;
    // closing the program saves nothing either.
    if (!event->spontaneous() && !closing)
        SaveSettings();
}

void TRingpostForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !closing)
        OnMinimized();
}

// The minimise button hides to the tray instead of minimising.
void TRingpostForm::OnMinimized() {
    if (!TrayAvailable()) {
        SaveSettings();
        return;
    }
    // Not from inside the state change the window system is still delivering. The
    // state stays minimised while hidden: clearing it now would map the window
    // again under window managers such as openbox, as a black frame.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (isMinimized())
                hide();
        },
        Qt::QueuedConnection);
}

} // namespace rp
