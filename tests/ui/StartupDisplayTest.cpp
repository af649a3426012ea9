// SPDX-License-Identifier: GPL-3.0-or-later
// Which display a start will open, and the one line a user gets when no X server
// answers there instead of Qt's abort.

#include "ui/StartupDisplay.h"

#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace rp {
namespace {

TEnvironment Environment(const QMap<QByteArray, QByteArray>& values) {
    return [values](const char* name) { return values.value(QByteArray(name)); };
}

const QStringList kPlain = {QStringLiteral("ringpost")};

TEST(StartupDisplayTest, ThePlatformIsChosenAsQtChoosesIt) {
    EXPECT_EQ(FirstPlatform(kPlain, Environment({{"DISPLAY", ":0"}})), "xcb");
    EXPECT_EQ(FirstPlatform(kPlain, Environment({})), "xcb") << "Qt's default";
    EXPECT_EQ(FirstPlatform(kPlain, Environment({{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "w-0"}})),
              "wayland");
    EXPECT_EQ(
        FirstPlatform(kPlain, Environment({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}})),
        "wayland");
    EXPECT_EQ(FirstPlatform(kPlain, Environment({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}})),
              "xcb");

    const auto offscreen = Environment({{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(FirstPlatform(kPlain, offscreen), "offscreen");
    EXPECT_EQ(FirstPlatform(kPlain, Environment({{"QT_QPA_PLATFORM", "wayland;xcb"}})), "wayland");
    EXPECT_EQ(FirstPlatform(kPlain, Environment({{"QT_QPA_PLATFORM", "XCB:nograb"}})), "xcb");

    const QStringList onTheCommandLine = {"ringpost", "-platform", "xcb", "debug"};
    EXPECT_EQ(FirstPlatform(onTheCommandLine, offscreen), "xcb") << "the argument wins";
    EXPECT_EQ(FirstPlatform({"ringpost", "-platform"}, offscreen), "offscreen");
}

TEST(StartupDisplayTest, TheDisplayArgumentWinsOverTheEnvironment) {
    const auto environment = Environment({{"DISPLAY", ":0"}});
    EXPECT_EQ(XDisplayName(kPlain, environment), ":0");
    EXPECT_EQ(XDisplayName({"ringpost", "-display", ":7"}, environment), ":7");
}

// A display number no server uses here: neither its socket file nor the
// abstract socket that libxcb tries first exists.
int FreeDisplayNumber() {
    for (int number = 4711; number < 4811; ++number) {
        const QString file = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (::access(QFile::encodeName(file).constData(), F_OK) != 0)
            return number;
    }
    return -1;
}

// Listens on the display's abstract socket and never answers the greeting, as a
// stopped X server does.
class TSilentDisplay {
public:
    explicit TSilentDisplay(int number) {
        fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QByteArrayLiteral("/tmp/.X11-unix/X") + QByteArray::number(number);
        std::memcpy(address.sun_path + 1, name.constData(), name.size());
        const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
        listening =
            ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd, 4) == 0;
    }
    ~TSilentDisplay() { ::close(fd); }
    bool listening = false;

private:
    int fd = -1;
};

TEST(StartupDisplayTest, ADisplayThatDoesNotAnswerIsNamedInOneLineWithWhatToDo) {
    const int number = FreeDisplayNumber();
    ASSERT_GT(number, 0);
    const QByteArray display = ":" + QByteArray::number(number);
    const QString dead = XDisplayProblem(display);
    EXPECT_TRUE(dead.contains(QStringLiteral("\"%1\"").arg(QLatin1String(display))))
        << dead.toStdString();
    EXPECT_TRUE(dead.contains(QLatin1String("DISPLAY")));
    EXPECT_TRUE(dead.contains(QLatin1String("xvfb-run -a ringpost")));
    EXPECT_FALSE(dead.contains(QLatin1Char('\n')));

    TSilentDisplay silent(number);
    if (!silent.listening)
        GTEST_SKIP() << "the display's abstract socket is taken";
    QElapsedTimer clock;
    clock.start();
    const QString stopped = XDisplayProblem(display, std::chrono::milliseconds(300));
    EXPECT_LT(clock.elapsed(), 3000) << "a silent server must not hang the start";
    EXPECT_TRUE(stopped.contains(QLatin1String("does not answer"))) << stopped.toStdString();
    EXPECT_TRUE(stopped.contains(QLatin1String(display)));

    EXPECT_TRUE(XDisplayProblem("nonsense").contains(QLatin1String("\"nonsense\"")));
    EXPECT_TRUE(XDisplayProblem("").contains(QLatin1String("DISPLAY is not set")));
}

TEST(StartupDisplayTest, OnlyAnX11StartIsChecked) {
    const int number = FreeDisplayNumber();
    ASSERT_GT(number, 0);
    const QByteArray dead = ":" + QByteArray::number(number);
    EXPECT_FALSE(StartupDisplayProblem(kPlain, Environment({{"DISPLAY", dead}})).isEmpty());
    EXPECT_TRUE(StartupDisplayProblem(
                    kPlain, Environment({{"DISPLAY", dead}, {"QT_QPA_PLATFORM", "offscreen"}}))
                    .isEmpty());
    EXPECT_TRUE(StartupDisplayProblem(
                    kPlain, Environment({{"DISPLAY", dead}, {"WAYLAND_DISPLAY", "wayland-0"}}))
                    .isEmpty());
    EXPECT_TRUE(StartupDisplayProblem({"ringpost", "-platform", "offscreen"},
                                      Environment({{"DISPLAY", dead}}))
                    .isEmpty());
}

} // namespace
} // namespace rp
