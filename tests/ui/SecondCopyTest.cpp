// SPDX-License-Identifier: GPL-3.0-or-later
// A second start in the same data folder brings the running copy forward through
// the socket beside the lock file, starts no engine of its own, and tells the
// user why only when the running copy does not answer.

#include "ui/SecondCopy.h"
#include "tests/ui/FormFixture.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace rp {
namespace {

// The second start runs in a process of its own; a thread of its own is enough
// here, while this thread serves the running copy's socket.
bool AskFromElsewhere(const QString& socketPath, int timeoutMs = ShowRequestTimeoutMs) {
    auto answer = std::async(std::launch::async,
                             [socketPath, timeoutMs] { return AskToShow(socketPath, timeoutMs); });
    while (answer.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents();
    return answer.get();
}

// What a crashed copy leaves: a socket file nobody listens on.
void LeaveStaleSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), name.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));
}

TEST(SecondCopyTest, OnlyTheFirstCopyStartsAndTheSecondIsToldWhyOnlyWhenNobodyAnswers) {
    QTemporaryDir dir;
    uitest::TFakeBoxes boxes;
    int asked = 0;
    const auto answers = [&asked](bool answer) {
        return [&asked, answer] {
            ++asked;
            return answer;
        };
    };
    const TInstanceLock first(dir.path());
    EXPECT_EQ(DecideStart(first, boxes, answers(true)), TStartDecision::Start);
    EXPECT_EQ(asked, 0) << "the holder asks nobody";

    const TInstanceLock second(dir.path());
    EXPECT_EQ(DecideStart(second, boxes, answers(true)), TStartDecision::BroughtForward);
    EXPECT_TRUE(boxes.calls.isEmpty()) << "a window that came forward needs no words";

    EXPECT_EQ(DecideStart(second, boxes, answers(false)), TStartDecision::Refused);
    ASSERT_EQ(boxes.calls.size(), 1);
    EXPECT_EQ(boxes.calls.first().kind, QStringLiteral("information"));
    EXPECT_EQ(
        boxes.calls.first().text,
        QStringLiteral("Ringpost is already running in %1.").arg(QDir(dir.path()).absolutePath()));
    EXPECT_EQ(asked, 2);
}

TEST(SecondCopyTest, AFolderThatCannotBeLockedStillStartsWithoutABox) {
    QTemporaryDir dir;
    ASSERT_TRUE(QFile::link(dir.filePath("elsewhere"), dir.filePath(InstanceLockFileName)));
    uitest::TFakeBoxes boxes;
    const TInstanceLock lock(dir.path());
    ASSERT_EQ(lock.State(), TInstanceLock::TState::Unavailable);
    EXPECT_EQ(DecideStart(lock, boxes, [] { return false; }), TStartDecision::Start);
    EXPECT_TRUE(boxes.calls.isEmpty());
}

TEST(SecondCopyTest, TheRunningCopyAnswersEachShowRequestOnAUserOnlySocket) {
    QTemporaryDir dir;
    const QString path = ShowSocketPath(dir.path());
    int shown = 0;
    {
        TShowRequestServer server(path, [&shown] { ++shown; });
        ASSERT_TRUE(server.Listening()) << server.Problem().toStdString();
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        EXPECT_EQ(info.st_mode & 077, 0u) << "nobody else may ask";

        EXPECT_TRUE(AskFromElsewhere(path));
        EXPECT_TRUE(AskFromElsewhere(path));
        EXPECT_EQ(shown, 2);
    }
    EXPECT_FALSE(QFile::exists(path)) << "a copy that ends cleanly takes its socket along";
    EXPECT_FALSE(AskFromElsewhere(path, 300));
}

TEST(SecondCopyTest, ASocketLeftByACrashedCopyNeitherBlocksTheNextStartNorHangsASecond) {
    QTemporaryDir dir;
    const QString path = ShowSocketPath(dir.path());
    LeaveStaleSocket(path);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(AskFromElsewhere(path, 500)) << "nobody listens on a stale socket";
    EXPECT_LT(clock.elapsed(), 2500);

    int shown = 0;
    TShowRequestServer server(path, [&shown] { ++shown; });
    ASSERT_TRUE(server.Listening()) << server.Problem().toStdString();
    EXPECT_TRUE(AskFromElsewhere(path));
    EXPECT_EQ(shown, 1);
}

TEST(SecondCopyTest, ACopyThatDoesNotAnswerOrAStrangeRequestShowsNothing) {
    QTemporaryDir dir;
    const QString path = ShowSocketPath(dir.path());
    {
        // Accepts and then says nothing, as a copy whose window thread is stuck.
        QLocalServer mute;
        ASSERT_TRUE(mute.listen(path));
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(AskFromElsewhere(path, 400));
        EXPECT_GE(clock.elapsed(), 350);
        EXPECT_LT(clock.elapsed(), 3000);
    }
    int shown = 0;
    TShowRequestServer server(path, [&shown] { ++shown; });
    ASSERT_TRUE(server.Listening());
    auto reply = std::async(std::launch::async, [path] {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (!socket.waitForConnected(2000))
            return QByteArray("no connection");
        socket.write("raise all windows\n");
        socket.waitForBytesWritten(2000);
        socket.waitForDisconnected(2000);
        return socket.readAll();
    });
    while (reply.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready)
        QCoreApplication::processEvents();
    EXPECT_EQ(reply.get(), QByteArray());
    EXPECT_EQ(shown, 0);
}

// A folder whose socket path is `length` bytes long, made inside `base`.
QString FolderWithSocketPathOf(const QTemporaryDir& base, qsizetype length) {
    const qsizetype fixed = QFile::encodeName(base.path()).size() + 2 + qstrlen(ShowSocketFileName);
    const QString folder = base.filePath(QString(length - fixed, QLatin1Char('d')));
    QDir().mkpath(folder);
    return folder;
}

TEST(SecondCopyTest, DeepDataFoldersStillGetASocketTheNextStartFinds) {
    QTemporaryDir base;
    constexpr qsizetype kLongest = sizeof(sockaddr_un::sun_path) - 24;
    for (const qsizetype length : {kLongest, kLongest + 1, qsizetype(400)}) {
        const QString folder = FolderWithSocketPathOf(base, length);
        const QString path = ShowSocketPath(folder);
        EXPECT_EQ(path.startsWith(folder), length <= kLongest) << path.toStdString();
        int shown = 0;
        TShowRequestServer server(path, [&shown] { ++shown; });
        ASSERT_TRUE(server.Listening()) << length << ": " << server.Problem().toStdString();
        EXPECT_TRUE(AskFromElsewhere(ShowSocketPath(folder)));
        EXPECT_EQ(shown, 1);
    }
}

class BringForwardTest : public uitest::FormTest {};

TEST_F(BringForwardTest, AWindowHiddenInTheTrayOrMinimisedComesForward) {
    WriteConfiguredStore();
    Start();
    ASSERT_FALSE(form->isVisible()) << "a configured start hides to the tray";
    form->BringForward();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_TRUE(OnScreen());

    // Without a notification area the window waits in the task bar.
    trayAvailable = false;
    form->HideToTray();
    ASSERT_TRUE(form->isMinimized());
    form->BringForward();
    EXPECT_TRUE(OnScreen());
}

} // namespace
} // namespace rp
