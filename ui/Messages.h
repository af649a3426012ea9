// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's private requests. They keep their old window-message numbers
// (all above QEvent::User) and are always posted, so they run in the order posted.

#include <QEvent>

namespace rp {

inline constexpr QEvent::Type WM_SHOWWIZARD = QEvent::Type(0x414);
inline constexpr QEvent::Type WM_RELOADSETTINGS = QEvent::Type(0x415);
inline constexpr QEvent::Type WM_SAVESETTINGS = QEvent::Type(0x416);
inline constexpr QEvent::Type WM_STARTENGINE = QEvent::Type(0x417);
inline constexpr QEvent::Type WM_TRAYNOTIFY = QEvent::Type(0x418);

// The mouse messages a tray click carries.
inline constexpr int WM_LBUTTONDOWN = 0x201;
inline constexpr int WM_LBUTTONDBLCLK = 0x203;
inline constexpr int WM_RBUTTONDOWN = 0x204;
inline constexpr int WM_MBUTTONDOWN = 0x207;

// WM_TRAYNOTIFY with the mouse message in its lParam.
class TTrayNotifyEvent : public QEvent {
public:
    explicit TTrayNotifyEvent(int mouseMessage) : QEvent(WM_TRAYNOTIFY), lParam(mouseMessage) {}
    const int lParam;
};

} // namespace rp
