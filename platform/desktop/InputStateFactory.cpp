// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/InputStateFactory.h"
#include "platform/desktop/ActivityInputState.h"
#include "platform/desktop/DBusActivityFeed.h"
#include "platform/desktop/FallbackInputState.h"
#include "platform/desktop/WaylandIdleFeed.h"
#include "platform/desktop/X11InputState.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <cstdlib>

namespace rp {

namespace {

using namespace std::chrono_literals;

// Input this recent counts as input during the engine's look; shorter would only
// wake the feeds more often.
constexpr std::chrono::milliseconds kIdleThreshold = 1000ms;
// How often a desktop that can only be asked is asked, on the feed's thread.
constexpr std::chrono::milliseconds kAskInterval = 250ms;

const char* const kIdleTimeNotice =
    "No X server to ask for the pointer and keys: the desktop's idle time tells when you are away.";
const char* const kNeverAwayNotice =
    "No X server and no desktop idle time to ask: you always count as at the desk, so no "
    "notices are sent.";
const char* const kWaylandProtocolNotice =
    "Wayland session: the compositor's idle notifications (%1) tell when you are away.";
const char* const kWaylandMutterNotice =
    "Wayland session: GNOME's idle monitor tells when you are away.";
const char* const kWaylandScreenSaverNotice =
    "Wayland session: the desktop's idle time (org.freedesktop.ScreenSaver) tells when you are "
    "away.";
const char* const kWaylandNeverAwayNotice =
    "Wayland session without idle notifications or a desktop idle time to ask: you always "
    "count as at the desk, so no notices are sent.";

// Qt's own connection, shared rather than opening a second one. The offscreen
// platform offers the interface but no connection.
xcb_connection_t* QtXcbConnection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    return connection && !xcb_connection_has_error(connection) ? connection : nullptr;
}

// The screen named by DISPLAY, the one Qt connected to.
int DisplayScreenNumber() {
    char* host = nullptr;
    int display = 0;
    int screen = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0)
        return 0;
    std::free(host);
    return screen;
}

// Under Wayland, Xwayland sees only the input over its own windows: its pointer
// stands still and no key is down while the user works in native programs.
bool IsWaylandSession() {
    const QByteArray type = qgetenv("XDG_SESSION_TYPE");
    if (type == "wayland")
        return true;
    if (type == "x11")
        return false;
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

void Tell(QString* notice, const QString& text) {
    if (notice)
        *notice = text;
}

std::unique_ptr<IInputState> Fed(std::unique_ptr<TActivityInputState> input,
                                 std::unique_ptr<IActivityFeed> feed) {
    input->Own(std::move(feed));
    return input;
}

std::unique_ptr<IInputState> DesktopInputState(bool wayland, QString* notice) {
    auto input = std::make_unique<TActivityInputState>();
    QString protocol;
    if (wayland) {
        if (auto feed = StartWaylandIdleFeed(input->State(), kIdleThreshold, &protocol)) {
            Tell(notice, QString::fromUtf8(kWaylandProtocolNotice).arg(protocol));
            return Fed(std::move(input), std::move(feed));
        }
    }
    if (auto feed = StartMutterIdleFeed(input->State(), kIdleThreshold)) {
        Tell(notice, QString::fromUtf8(wayland ? kWaylandMutterNotice : kIdleTimeNotice));
        return Fed(std::move(input), std::move(feed));
    }
    if (auto feed = StartScreenSaverIdleFeed(input->State(), kIdleThreshold, kAskInterval)) {
        Tell(notice, QString::fromUtf8(wayland ? kWaylandScreenSaverNotice : kIdleTimeNotice));
        return Fed(std::move(input), std::move(feed));
    }
    Tell(notice, QString::fromUtf8(wayland ? kWaylandNeverAwayNotice : kNeverAwayNotice));
    return std::make_unique<TNeverAwayInputState>();
}

std::unique_ptr<IInputState> InputSource(QString* notice) {
    const bool wayland = IsWaylandSession();
    if (xcb_connection_t* connection = wayland ? nullptr : QtXcbConnection()) {
        const xcb_window_t root = TX11InputState::RootWindow(connection, DisplayScreenNumber());
        return std::make_unique<TX11InputState>(connection, root);
    }
    return DesktopInputState(wayland, notice);
}

} // namespace

std::unique_ptr<IInputState> CreateInputState(QString* notice) {
    auto source = InputSource(notice);
    if (!QDBusConnection::sessionBus().isConnected())
        return source;
    auto input = std::make_unique<TLockAwareInputState>(std::move(source));
    if (auto watch = StartLockWatch(input->Lock()))
        input->Own(std::move(watch));
    return input;
}

} // namespace rp
