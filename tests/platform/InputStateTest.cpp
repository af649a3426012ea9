#include "platform/FallbackInputState.h"
#include "platform/Platform.h"
#include "platform/X11InputState.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <deque>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/wait.h>
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
        auto input = CreateInputState(&notice);
        EXPECT_NE(dynamic_cast<TX11InputState*>(input.get()), nullptr);
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

// Answers from a list; an empty answer is a failed ask.
class TFakeIdleTime : public IIdleTimeSource {
public:
    std::deque<std::optional<std::chrono::milliseconds>> answers;
    int asks = 0;
    std::optional<std::chrono::milliseconds> IdleTime() override {
        ++asks;
        auto answer = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }
};

class IdleTimeInputStateTest : public ::testing::Test {
protected:
    std::chrono::steady_clock::time_point now{};
    TFakeIdleTime* source = new TFakeIdleTime;
    TIdleTimeInputState input{std::unique_ptr<IIdleTimeSource>(source), [this] { return now; },
                              10ms};

    // The position after `elapsed` with the desktop answering `idle`.
    QPoint ReadAfter(std::chrono::milliseconds elapsed,
                     std::optional<std::chrono::milliseconds> idle) {
        now += elapsed;
        source->answers.push_back(idle);
        return input.CursorPos();
    }
};

TEST_F(IdleTimeInputStateTest, AStillDesktopKeepsThePointerStill) {
    // Input just before the first ask is no input after it.
    const QPoint start = ReadAfter(0ms, 0ms);
    EXPECT_EQ(ReadAfter(15000ms, 15000ms), start);
    EXPECT_EQ(ReadAfter(15000ms, 30000ms), start);
    EXPECT_FALSE(AnyKeyDown(input));
}

TEST_F(IdleTimeInputStateTest, InputSinceTheLastAskIsAMove) {
    const QPoint start = ReadAfter(0ms, 5000ms);
    const QPoint afterInput = ReadAfter(15000ms, 14999ms);
    EXPECT_NE(afterInput, start);
    // A coarse idle counter that did not advance still counts as input.
    EXPECT_NE(ReadAfter(20ms, 0ms), afterInput);
}

TEST_F(IdleTimeInputStateTest, AFailedAskIsAMoveUntilTheDesktopAnswersAgain) {
    const QPoint start = ReadAfter(0ms, 5000ms);
    const QPoint failed = ReadAfter(100ms, std::nullopt);
    EXPECT_NE(failed, start);
    EXPECT_NE(input.CursorPos(), failed); // within the gap: no ask, still moving
    EXPECT_EQ(source->asks, 2);
    const QPoint answered = ReadAfter(100ms, 6000ms);
    EXPECT_EQ(ReadAfter(100ms, 6100ms), answered);
}

TEST_F(IdleTimeInputStateTest, APollingLoopAsksAtMostOncePerGap) {
    const QPoint start = ReadAfter(0ms, 5000ms);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(input.CursorPos(), start);
    EXPECT_EQ(source->asks, 1);
}

} // namespace
