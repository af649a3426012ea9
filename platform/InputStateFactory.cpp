#include "platform/FallbackInputState.h"
#include "platform/Platform.h"
#include "platform/X11InputState.h"

#include <QGuiApplication>
#include <cstdlib>

namespace rp {

namespace {

const char* const kIdleTimeNotice =
    "No X server to ask for the pointer and keys: the desktop's idle time tells when you are away.";
const char* const kNeverAwayNotice =
    "No X server and no desktop idle time to ask: you always count as at the desk, so no "
    "notices are sent.";

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

void Tell(QString* notice, const char* text) {
    if (notice)
        *notice = QString::fromUtf8(text);
}

} // namespace

std::unique_ptr<IInputState> CreateInputState(QString* notice) {
    if (xcb_connection_t* connection = QtXcbConnection()) {
        const xcb_window_t root = TX11InputState::RootWindow(connection, DisplayScreenNumber());
        return std::make_unique<TX11InputState>(connection, root);
    }
    if (auto idleTime = ProbeDesktopIdleTime()) {
        Tell(notice, kIdleTimeNotice);
        return std::make_unique<TIdleTimeInputState>(
            std::move(idleTime), [] { return std::chrono::steady_clock::now(); });
    }
    Tell(notice, kNeverAwayNotice);
    return std::make_unique<TNeverAwayInputState>();
}

} // namespace rp
