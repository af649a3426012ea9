// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/StartupDisplay.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <xcb/xcb.h>

namespace rp {

namespace {

// The value after `option` on the command line ("-platform xcb"), or none.
QString OptionValue(const QStringList& arguments, const QString& option) {
    const qsizetype at = arguments.indexOf(option);
    if (at < 0 || at + 1 >= arguments.size())
        return {};
    return arguments.at(at + 1);
}

// "wayland;xcb" tries wayland first; "xcb:arg" is the plugin xcb.
QString FirstOfList(const QString& platforms) {
    return platforms.section(QLatin1Char(';'), 0, 0).section(QLatin1Char(':'), 0, 0).toLower();
}

constexpr int kNoAnswer = -1;

// xcb_connect waits for the server's greeting without a limit, so a stopped
// server would hang the start; the attempt runs aside and is given up on.
int ConnectionError(const QByteArray& display, std::chrono::milliseconds limit) {
    struct TAttempt {
        std::mutex mutex;
        std::condition_variable finished;
        std::optional<int> error;
    };
    auto attempt = std::make_shared<TAttempt>();
    std::thread([attempt, display] {
        xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
        const int error = xcb_connection_has_error(connection);
        xcb_disconnect(connection);
        const std::lock_guard lock(attempt->mutex);
        attempt->error = error;
        attempt->finished.notify_all();
    }).detach();
    std::unique_lock lock(attempt->mutex);
    if (!attempt->finished.wait_for(lock, limit, [&attempt] { return attempt->error.has_value(); }))
        return kNoAnswer;
    return *attempt->error;
}

QString ConnectionProblem(int error) {
    switch (error) {
    case kNoAnswer:
        return QStringLiteral("the X server there does not answer");
    case XCB_CONN_CLOSED_PARSE_ERR:
        return QStringLiteral("that is not a display name");
    case XCB_CONN_CLOSED_INVALID_SCREEN:
        return QStringLiteral("it has no such screen");
    default:
        return QStringLiteral("no X server answers there, or it refused the connection");
    }
}

} // namespace

TEnvironment ProcessEnvironment() {
    return [](const char* name) { return qgetenv(name); };
}

QString FirstPlatform(const QStringList& arguments, const TEnvironment& environment) {
    const QString fromArgument = OptionValue(arguments, QStringLiteral("-platform"));
    if (!fromArgument.isEmpty())
        return FirstOfList(fromArgument);
    const QByteArray fromEnvironment = environment("QT_QPA_PLATFORM");
    if (!fromEnvironment.isEmpty())
        return FirstOfList(QString::fromLocal8Bit(fromEnvironment));
    if (!environment("WAYLAND_DISPLAY").isEmpty() || environment("XDG_SESSION_TYPE") == "wayland")
        return QStringLiteral("wayland");
    return QStringLiteral("xcb");
}

QByteArray XDisplayName(const QStringList& arguments, const TEnvironment& environment) {
    const QString fromArgument = OptionValue(arguments, QStringLiteral("-display"));
    if (!fromArgument.isEmpty())
        return fromArgument.toLocal8Bit();
    return environment("DISPLAY");
}

QString XDisplayProblem(const QByteArray& display, std::chrono::milliseconds limit) {
    const QString advice =
        QStringLiteral("start Ringpost from your desktop session or give it a virtual display: "
                       "xvfb-run -a ringpost");
    if (display.isEmpty())
        return QStringLiteral("Ringpost cannot open an X display: DISPLAY is not set; %1.")
            .arg(advice);
    const int error = ConnectionError(display, limit);
    if (error == 0)
        return {};
    return QStringLiteral("Ringpost cannot open the X display \"%1\" (%2); check DISPLAY, %3.")
        .arg(QString::fromLocal8Bit(display), ConnectionProblem(error), advice);
}

QString StartupDisplayProblem(const QStringList& arguments, const TEnvironment& environment) {
    if (FirstPlatform(arguments, environment) != QLatin1String("xcb"))
        return {};
    return XDisplayProblem(XDisplayName(arguments, environment));
}

} // namespace rp
