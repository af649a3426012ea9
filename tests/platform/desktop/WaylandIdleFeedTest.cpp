// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/desktop/WaylandIdleFeed.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace rp;
using namespace std::chrono_literals;

namespace {

bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// sway headless on a runtime folder of the test's own, without the machine's
// outputs or input devices. sway refuses to run as root; there it runs as nobody.
class TSwayServer {
public:
    TSwayServer() {
        if (QStandardPaths::findExecutable(QStringLiteral("sway")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("swaymsg")).isEmpty() ||
            !folder.isValid())
            return;
        runtime = folder.path();
        QFile config(runtime + QStringLiteral("/config"));
        config.open(QIODevice::WriteOnly);
        config.write("output HEADLESS-1 resolution 800x600\n");
        config.close();
        QStringList command{QStringLiteral("sway"), QStringLiteral("--config"), config.fileName()};
        if (::getuid() == 0) {
            const QByteArray path = runtime.toLocal8Bit();
            if (::chown(path.constData(), 65534, 65534) != 0)
                return;
            QFile::setPermissions(config.fileName(), QFile::ReadOwner | QFile::ReadOther);
            command =
                QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                            QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")} +
                command;
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        environment.insert(QStringLiteral("HOME"), runtime);
        environment.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
        environment.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
        environment.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("DISPLAY"));
        sway.setProcessEnvironment(environment);
        sway.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sway.setStandardOutputFile(QProcess::nullDevice());
        sway.start(command.first(), command.mid(1));
        WaitUntil([this] {
            return !Socket(QStringLiteral("sway-ipc.*.sock")).isEmpty() &&
                   !Socket(QStringLiteral("wayland-*")).isEmpty();
        });
    }
    ~TSwayServer() { Stop(); }
    void Stop() {
        if (sway.state() == QProcess::NotRunning)
            return;
        sway.terminate();
        if (!sway.waitForFinished(5000))
            sway.kill();
        sway.waitForFinished(5000);
    }
    QString Display() const { return Socket(QStringLiteral("wayland-*")); }

    // Real pointer motion through sway's own seat.
    bool MovePointer() const {
        QProcess swaymsg;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SWAYSOCK"), Socket(QStringLiteral("sway-ipc.*.sock")));
        swaymsg.setProcessEnvironment(environment);
        swaymsg.start(QStringLiteral("swaymsg"),
                      {QStringLiteral("-q"), QStringLiteral("seat"), QStringLiteral("-"),
                       QStringLiteral("cursor"), QStringLiteral("move"), QStringLiteral("7"),
                       QStringLiteral("5")});
        return swaymsg.waitForFinished(10000) && swaymsg.exitCode() == 0;
    }

private:
    QString Socket(const QString& pattern) const {
        const QStringList found =
            QDir(runtime).entryList({pattern}, QDir::System | QDir::Files | QDir::NoDotAndDotDot);
        for (const QString& name : found)
            if (!name.endsWith(QStringLiteral(".lock")))
                return runtime + u'/' + name;
        return QString();
    }

    QTemporaryDir folder;
    QString runtime;
    QProcess sway;
};

class WaylandIdleFeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (server.Display().isEmpty())
            GTEST_SKIP() << "sway is not available";
        saved = qgetenv("WAYLAND_DISPLAY");
        qputenv("WAYLAND_DISPLAY", server.Display().toLocal8Bit());
        feed = StartWaylandIdleFeed(state, 300ms, &protocol);
        ASSERT_NE(feed, nullptr) << "sway offers no idle notifications";
    }
    void TearDown() override {
        feed.reset();
        qputenv("WAYLAND_DISPLAY", saved);
    }

    TSwayServer server;
    TActivityState state;
    QString protocol;
    std::unique_ptr<IActivityFeed> feed;
    QByteArray saved;
};

TEST_F(WaylandIdleFeedTest, IdleAfterTheThresholdAndResumedByRealInput) {
    EXPECT_TRUE(protocol == QStringLiteral("ext-idle-notify-v1") ||
                protocol == QStringLiteral("org_kde_kwin_idle"))
        << protocol.toStdString();
    ASSERT_TRUE(WaitUntil([this] { return state.Idle(); })) << "never idle";
    EXPECT_EQ(state.Resumes(), 0u);
    ASSERT_TRUE(server.MovePointer());
    ASSERT_TRUE(WaitUntil([this] { return state.Resumes() == 1; })) << "input was not seen";
    EXPECT_FALSE(state.Idle());
    ASSERT_TRUE(WaitUntil([this] { return state.Idle(); })) << "not idle again";
    EXPECT_FALSE(state.Lost());
}

TEST_F(WaylandIdleFeedTest, ACompositorGoneIsNeverAnAbsentUser) {
    ASSERT_TRUE(WaitUntil([this] { return state.Idle(); }));
    server.Stop();
    EXPECT_TRUE(WaitUntil([this] { return state.Lost(); }));
}

TEST(WaylandIdleFeed, NoCompositorNoFeed) {
    const QByteArray saved = qgetenv("WAYLAND_DISPLAY");
    qputenv("WAYLAND_DISPLAY", "/nonexistent/wayland-none");
    TActivityState state;
    QString protocol;
    EXPECT_EQ(StartWaylandIdleFeed(state, 300ms, &protocol), nullptr);
    qputenv("WAYLAND_DISPLAY", saved);
}

} // namespace
