// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The display is checked before the GUI toolkit starts: on a display that does
// not answer, Qt aborts with a hint about reinstalling, which helps nobody.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>

namespace rp {

// Reads one environment variable; empty when it is not set.
using TEnvironment = std::function<QByteArray(const char* name)>;
TEnvironment ProcessEnvironment();

// The platform plugin Qt will try first, by Qt's own rule: the -platform
// argument, else QT_QPA_PLATFORM, else Wayland in a Wayland session and X11
// where DISPLAY is set. Lower case, without the plugin's arguments.
QString FirstPlatform(const QStringList& arguments, const TEnvironment& environment);

// The X display the xcb platform will open: the -display argument, else DISPLAY.
QByteArray XDisplayName(const QStringList& arguments, const TEnvironment& environment);

// Empty when an X server answers on `display` within `limit`; otherwise one
// line for the user that names the display and says what to do.
inline constexpr std::chrono::milliseconds XDisplayAnswerLimit{15000};
QString XDisplayProblem(const QByteArray& display,
                        std::chrono::milliseconds limit = XDisplayAnswerLimit);

// The same for the platform this start will use; only X11 is checked, so the
// offscreen platform and a Wayland session start as before.
QString StartupDisplayProblem(const QStringList& arguments, const TEnvironment& environment);

} // namespace rp
