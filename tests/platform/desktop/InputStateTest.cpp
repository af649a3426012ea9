// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/ActivityInputState.h"
#include "platform/desktop/FallbackInputState.h"
#include "platform/desktop/InputStateFactory.h"
#include "platform/desktop/X11InputState.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace rp;
using namespace std::chrono_literals;

namespace {

bool AnyKeyDown(IInputState& input) {
    KeyStates states{};
    input.ReadKeyStates(states);
    return std::any_of(states.begin(), states.end(), [](uint8_t s) { return s & 0x80; });
}

// An Xvfb server of the test's own on a display number it picks itself.
class TXvfbServer {
public:
    TXvfbServer() {
        int fds[2];
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() || ::pipe(fds) != 0)
            return;
        const std::string fd = std::to_string(fds[1]);
        pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset",
                     "-screen", "0", "1024x768x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        display = ReadDisplayNumber(fds[0]);
        ::close(fds[0]);
    }
    ~TXvfbServer() { Stop(); }
    void Stop() {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    bool Running() const { return pid > 0 && !display.isEmpty(); }
    const QString& Display() const { return display; }

    // Runs xdotool against this server; false when it failed.
    bool XdoTool(const QStringList& arguments) const {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("xdotool"), arguments);
        return process.waitForFinished(10000) && process.exitCode() == 0;
    }

private:
    static QString ReadDisplayNumber(int fd) {
        QString number;
        char c = 0;
        pollfd wait{fd, POLLIN, 0};
        while (::poll(&wait, 1, 10000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n')
            number += QLatin1Char(c);
        return number.isEmpty() ? QString() : u':' + number;
    }
    pid_t pid = -1;
    QString display;
};

class X11InputStateTest : public ::testing::Test {
protected:
    TXvfbServer server;
    xcb_connection_t* connection = nullptr;

    void SetUp() override {
        if (!server.Running())
            GTEST_SKIP() << "Xvfb is not available";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not available";
        int screen = 0;
        connection = xcb_connect(server.Display().toLatin1().constData(), &screen);
        ASSERT_EQ(xcb_connection_has_error(connection), 0);
        input = std::make_unique<TX11InputState>(connection,
                                                 TX11InputState::RootWindow(connection, screen));
    }
    void TearDown() override {
        input.reset();
        if (connection)
            xcb_disconnect(connection);
    }
    std::unique_ptr<TX11InputState> input;
};

TEST_F(X11InputStateTest, SeesThePointerMove) {
    ASSERT_TRUE(server.XdoTool({"mousemove", "123", "45"}));
    EXPECT_EQ(input->CursorPos(), QPoint(123, 45));
    EXPECT_EQ(input->CursorPos(), QPoint(123, 45));
    ASSERT_TRUE(server.XdoTool({"mousemove", "700", "500"}));
    EXPECT_EQ(input->CursorPos(), QPoint(700, 500));
}

TEST_F(X11InputStateTest, SeesAKeyHeldDown) {
    EXPECT_FALSE(AnyKeyDown(*input));
    ASSERT_TRUE(server.XdoTool({"keydown", "shift"}));
    input->CursorPos(); // the usual pair of reads shares one round trip
    EXPECT_TRUE(AnyKeyDown(*input));
    ASSERT_TRUE(server.XdoTool({"keyup", "shift"}));
    EXPECT_FALSE(AnyKeyDown(*input));
}

TEST_F(X11InputStateTest, AnAnswerKeptFromAnEarlierReadIsNotUsedLater) {
    input->CursorPos(); // leaves the key map answer of this moment behind
    ASSERT_TRUE(server.XdoTool({"keydown", "a"}));
    QThread::msleep(20);
    EXPECT_TRUE(AnyKeyDown(*input));
    ASSERT_TRUE(server.XdoTool({"keyup", "a"}));
    AnyKeyDown(*input);
    ASSERT_TRUE(server.XdoTool({"mousemove", "10", "20"}));
    QThread::msleep(20);
    EXPECT_EQ(input->CursorPos(), QPoint(10, 20));
}

TEST_F(X11InputStateTest, ALostServerNeverLooksLikeAnAbsentUser) {
    input->CursorPos();
    server.Stop();
    const QPoint first = input->CursorPos();
    EXPECT_NE(input->CursorPos(), first);
    EXPECT_TRUE(AnyKeyDown(*input));
}

// The program's own path: Qt on X11, its connection shared. Runs this test binary
// again on the xcb platform against a server of the test's own.
TEST(X11InputStateUnderQt, UsesQtsOwnConnection) {
    if (qEnvironmentVariableIsSet("RINGPOST_INPUT_CHILD")) {
        QString notice;
        auto created = CreateInputState(&notice);
        // With a session bus the reading is wrapped to follow the screen locker.
        auto* aware = dynamic_cast<TLockAwareInputState*>(created.get());
        IInputState* input = aware ? &aware->Inner() : created.get();
        EXPECT_NE(dynamic_cast<TX11InputState*>(input), nullptr);
        EXPECT_TRUE(notice.isEmpty()) << notice.toStdString();
        EXPECT_EQ(input->CursorPos(), QPoint(321, 123));
        return;
    }
    TXvfbServer server;
    if (!server.Running() || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "Xvfb or xdotool is not available";
    ASSERT_TRUE(server.XdoTool({"mousemove", "321", "123"}));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), server.Display());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("RINGPOST_INPUT_CHILD"), QStringLiteral("1"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("x11"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=X11InputStateUnderQt.UsesQtsOwnConnection")});
    ASSERT_TRUE(child.waitForFinished(30000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
}

TEST(InputStateFactory, OffscreenUsesAFallbackAndSaysSo) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    QString notice;
    auto input = CreateInputState(&notice);
    EXPECT_EQ(dynamic_cast<TX11InputState*>(input.get()), nullptr);
    EXPECT_TRUE(notice.contains(QStringLiteral("No X server"))) << notice.toStdString();
    EXPECT_FALSE(notice.contains(u'\n'));
    if (dynamic_cast<TNeverAwayInputState*>(input.get())) {
        EXPECT_TRUE(notice.contains(QStringLiteral("no notices are sent")));
        EXPECT_NE(input->CursorPos(), input->CursorPos());
    }
}

TEST(NeverAwayInputState, EveryReadIsAMoveAndNoKeyIsDown) {
    TNeverAwayInputState input;
    QPoint last = input.CursorPos();
    for (int i = 0; i < 1000; ++i) {
        const QPoint next = input.CursorPos();
        ASSERT_NE(next, last);
        last = next;
    }
    EXPECT_FALSE(AnyKeyDown(input));
}

// Engine-style looks at an input state: the position before and after a wait.
bool LooksAway(IInputState& input, QPoint before) {
    return input.CursorPos() == before && !AnyKeyDown(input);
}

TEST(ActivityInputState, InputWithinTheThresholdIsAMoveAndIdleStandsStill) {
    TActivityInputState input;
    // Until the feed has said anything the user is at the desk.
    EXPECT_FALSE(LooksAway(input, input.CursorPos()));
    input.State().Idled();
    const QPoint idle = input.CursorPos();
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(LooksAway(input, idle));
    // Input that ended and was followed by a new idle stretch during the wait.
    input.State().Resumed();
    input.State().Idled();
    EXPECT_FALSE(LooksAway(input, idle));
    const QPoint later = input.CursorPos();
    input.State().Resumed();
    EXPECT_FALSE(LooksAway(input, later));
    EXPECT_NE(input.CursorPos(), input.CursorPos());
}

TEST(ActivityInputState, ALostFeedNeverLooksLikeAnAbsentUser) {
    TActivityInputState input;
    input.State().Idled();
    const QPoint idle = input.CursorPos();
    input.State().SetLost(true);
    EXPECT_FALSE(LooksAway(input, idle));
    EXPECT_NE(input.CursorPos(), input.CursorPos());
}

// The feeds' threads write while the engine reads; both sides stay consistent.
TEST(ActivityInputState, ReadsWhileTheFeedWrites) {
    TActivityInputState input;
    std::atomic<bool> done{false};
    std::thread feed([&] {
        for (int i = 0; i < 20000; ++i) {
            input.State().Idled();
            input.State().Resumed();
        }
        input.State().Idled();
        done = true;
    });
    while (!done)
        input.CursorPos();
    feed.join();
    const QPoint idle = input.CursorPos();
    EXPECT_EQ(idle, QPoint(20000, 2));
    EXPECT_TRUE(LooksAway(input, idle));
}

class IdleTimeFollowerTest : public ::testing::Test {
protected:
    TActivityState state;
    TIdleTimeFollower follower{state, 1000ms};
    std::chrono::steady_clock::time_point now{};

    void SampleAfter(std::chrono::milliseconds elapsed,
                     std::optional<std::chrono::milliseconds> idle) {
        now += elapsed;
        follower.Sample(idle, now);
    }
};

TEST_F(IdleTimeFollowerTest, BecomesIdleAtTheThresholdAndResumesOnInput) {
    SampleAfter(0ms, 200ms);
    EXPECT_FALSE(state.Idle());
    SampleAfter(250ms, 450ms);
    SampleAfter(600ms, 1050ms);
    EXPECT_TRUE(state.Idle());
    SampleAfter(15000ms, 16050ms);
    EXPECT_TRUE(state.Idle());
    EXPECT_EQ(state.Resumes(), 0u);
    SampleAfter(250ms, 100ms);
    EXPECT_FALSE(state.Idle());
    EXPECT_EQ(state.Resumes(), 1u);
}

TEST_F(IdleTimeFollowerTest, InputBetweenSamplesSpacedWiderThanTheThresholdIsSeen) {
    SampleAfter(0ms, 5000ms);
    ASSERT_TRUE(state.Idle());
    // A stalled feed: 4 s between samples, input 2.5 s ago, idle again since.
    SampleAfter(4000ms, 2500ms);
    EXPECT_EQ(state.Resumes(), 1u);
    EXPECT_FALSE(state.Idle());
    SampleAfter(250ms, 2750ms);
    EXPECT_TRUE(state.Idle());
}

TEST_F(IdleTimeFollowerTest, AFailedAskIsLostUntilTheDesktopAnswersAgain) {
    SampleAfter(0ms, 5000ms);
    SampleAfter(250ms, std::nullopt);
    EXPECT_TRUE(state.Lost());
    SampleAfter(250ms, 5500ms);
    EXPECT_FALSE(state.Lost());
    EXPECT_TRUE(state.Idle());
}

TEST(LockAwareInputState, ALockedSessionIsAwayWhateverTheLockScreenGets) {
    auto* inner = new TActivityInputState; // active: every read a move
    TLockAwareInputState input{std::unique_ptr<IInputState>(inner)};
    EXPECT_FALSE(LooksAway(input, input.CursorPos()));
    input.Lock().SetLocked(true);
    const QPoint locked = input.CursorPos();
    EXPECT_TRUE(LooksAway(input, locked));
    input.Lock().SetLocked(false);
    EXPECT_FALSE(LooksAway(input, locked));
}

TEST(LockAwareInputState, KeysReadAsUpOnlyWhileLocked) {
    class TKeyDown : public TNeverAwayInputState {
        void ReadKeyStates(KeyStates& states) override {
            states.fill(0);
            states[38] = 0x80;
        }
    };
    TLockAwareInputState input{std::make_unique<TKeyDown>()};
    EXPECT_TRUE(AnyKeyDown(input));
    input.Lock().SetLocked(true);
    EXPECT_FALSE(AnyKeyDown(input));
}

// The screen locker's signal on a real session bus of the test's own, through the
// program's own path. Runs this test binary again with that bus.
TEST(InputStateFactory, ALockedScreenReadsAsAwayUntilItIsUnlocked) {
    if (qEnvironmentVariableIsSet("RINGPOST_LOCK_CHILD")) {
        // A stand-in screen locker owning GNOME's name: "true" or "false" on its
        // input becomes an ActiveChanged signal.
        QProcess locker;
        locker.setProcessChannelMode(QProcess::ForwardedChannels);
        locker.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-u"), QStringLiteral("-c"), QStringLiteral(R"(
import sys, dbus, dbus.service, dbus.mainloop.glib
dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
class Locker(dbus.service.Object):
    @dbus.service.signal("org.gnome.ScreenSaver", signature="b")
    def ActiveChanged(self, active):
        pass
bus = dbus.SessionBus()
name = dbus.service.BusName("org.gnome.ScreenSaver", bus)
locker = Locker(bus, "/org/gnome/ScreenSaver")
for line in iter(sys.stdin.readline, ""):
    locker.ActiveChanged(line.strip() == "true")
    bus.flush()
)")});
        ASSERT_TRUE(locker.waitForStarted(10000));
        QThread::msleep(1500); // the name owned before the program starts
        auto input = CreateInputState(nullptr);
        ASSERT_NE(dynamic_cast<TLockAwareInputState*>(input.get()), nullptr);
        QThread::msleep(500); // the watch's thread connected
        auto tellLocker = [&locker](const char* active) {
            locker.write(QByteArray(active) + '\n');
            return locker.waitForBytesWritten(5000) ? 0 : 1;
        };
        // The main thread turns its events as the program's window thread does: the
        // bus delivers through it.
        // No idle source answers on this bus: the user is at the desk.
        EXPECT_NE(input->CursorPos(), input->CursorPos());
        ASSERT_EQ(tellLocker("true"), 0);
        bool away = false;
        for (int i = 0; i < 200 && !away;
             ++i, QThread::msleep(20), QCoreApplication::processEvents())
            away = input->CursorPos() == input->CursorPos();
        EXPECT_TRUE(away) << "the lock was not seen";
        EXPECT_FALSE(AnyKeyDown(*input));
        ASSERT_EQ(tellLocker("false"), 0);
        bool back = false;
        for (int i = 0; i < 200 && !back;
             ++i, QThread::msleep(20), QCoreApplication::processEvents())
            back = input->CursorPos() != input->CursorPos();
        EXPECT_TRUE(back) << "the unlock was not seen";
        locker.closeWriteChannel();
        locker.waitForFinished(5000);
        return;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty() ||
        QProcess::execute(QStringLiteral("/usr/bin/python3"),
                          {QStringLiteral("-c"), QStringLiteral("import dbus.service")}) != 0)
        GTEST_SKIP() << "dbus-daemon or python3-dbus is not available";
    QProcess bus;
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"),
               QStringLiteral("--nopidfile"), QStringLiteral("--print-address")});
    ASSERT_TRUE(bus.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("RINGPOST_LOCK_CHILD"), QStringLiteral("1"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("XDG_SESSION_TYPE"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral(
                    "--gtest_filter=InputStateFactory.ALockedScreenReadsAsAwayUntilItIsUnlocked")});
    ASSERT_TRUE(child.waitForFinished(30000));
    const QByteArray output = child.readAll();
    bus.terminate();
    bus.waitForFinished(5000);
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
}

} // namespace
